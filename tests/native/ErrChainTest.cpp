// The error library: capture, propagation through a chain of trapped
// procedures, and the report text those chains produce.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "FakePorts.h"
#include "RaisedErrors.h"
#include "errors/ErrChain.h"
#include "errors/ErrHost.h"
#include "errors/ErrReport.h"
#include "errors/VbConvert.h"

namespace velmora {
namespace {

using testing::FakeFacts;
using testing::PortsScope;
using testing::RecordingMessageBox;
using testing::RecordingReportWindow;
using testing::ReportLines;
using testing::ResetErrorLibrary;


class ErrChainTest : public ::testing::Test {
 protected:
  ErrChainTest() : scope_(Ports{&facts, &codePage, nullptr, &messageBox, &reportWindow}) {
    ResetErrorLibrary();
  }

  FakeFacts facts;
  Windows1252 codePage;
  RecordingMessageBox messageBox;
  RecordingReportWindow reportWindow;

 private:
  PortsScope scope_;
};

// The chain of the main window's start-up: a failing inner procedure, its
// caller, and the load event handler that shows the report.
void RightICQPath(const std::string& strPath, int32_t number, const std::string& description) {
  Trap trap("frmMain.RightICQPath(strPath)");
  try {
    trap.at(10);
    trap.at(20);
    trap.at(30);
    Raise(number, "Velmora", description);
  } catch (...) {
    ErrorIn(trap, strPath, ERRIN_PASS_ON);
  }
}

void GetICQPath(int32_t number, const std::string& description) {
  Trap trap("frmMain.GetICQPath");
  try {
    trap.at(110);
    trap.at(120);
    RightICQPath("C:\\Programme\\ICQ6\\", number, description);
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

bool Form_Load(int32_t number, const std::string& description = "Path not found") {
  Trap trap("frmMain.Form_Load");
  try {
    trap.at(70);
    trap.at(80);
    GetICQPath(number, description);
    return true;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
    return false;
  }
}

TEST_F(ErrChainTest, ThreeLevelChainGivesTheExampleReportByteForByte) {
  EXPECT_FALSE(Form_Load(76));

  const std::string expected =
      "Path not found \r\n"
      "  Time='12/06/26 14:03:27' App='Velmora:1.0.3' ADO-version='2.8' Computer='OFFICEPC' \r\n"
      "  Method: frmMain.RightICQPath \r\n"
      "  Number: 76 = &H4C = vbObjectError + 2147221580 = ERRMAP_APP_FIRST + 2147216382 \r\n"
      "  Source: Velmora \r\n"
      "  Description: Path not found\r\n"
      "  Call Stack: frmMain.RightICQPath(strPath='C:\\Programme\\ICQ6\\')  at Line 30 -----------------------\r\n"
      "  Call Stack: frmMain.GetICQPath()  at Line 120 ----------------------------------------------------\r\n"
      "  Call Stack: frmMain.Form_Load()  at Line 80 ------------------------------------------------------\r\n";
  ASSERT_EQ(reportWindow.reports.size(), 1u);
  EXPECT_EQ(reportWindow.reports[0], expected);
  EXPECT_EQ(ReportText(), expected);
  for (std::size_t i = 6; i < 9; ++i) EXPECT_EQ(ReportLines(expected)[i].size(), 100u);
  EXPECT_TRUE(messageBox.shown.empty());
}

TEST_F(ErrChainTest, RaisedErrorKeepsItsNumberAndCarriesTheReportUpward) {
  try {
    GetICQPath(53, "File not found");
    FAIL() << "GetICQPath must raise";
  } catch (const VbError& e) {
    EXPECT_EQ(e.Number(), 53);
    EXPECT_EQ(e.Source(), "ErrChain.ErrorIn");
    EXPECT_EQ(e.Description(), ReportText());
    const auto lines = ReportLines(e.Description());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[2], "  Method: frmMain.RightICQPath ");
    EXPECT_EQ(lines[6].rfind("  Call Stack: frmMain.RightICQPath(", 0), 0u);
    EXPECT_EQ(lines[7].rfind("  Call Stack: frmMain.GetICQPath()  at Line 120 -", 0), 0u);
  }
  EXPECT_FALSE(PreservedErr().Preserved);
}

// A procedure without a trap adds nothing: the error passes through it as is.
void Untrapped(int32_t number) { RightICQPath("x", number, "boom"); }

void Outer(int32_t number) {
  Trap trap("basMain.Outer(intLevel)");
  try {
    trap.at(10);
    Untrapped(number);
  } catch (...) {
    ErrorIn(trap, Params(int16_t{3}), ERRIN_PASS_ON);
  }
}

TEST_F(ErrChainTest, ProcedureWithoutTrapAddsNoLine) {
  try {
    Outer(5);
  } catch (const VbError&) {
  }
  const auto lines = ReportLines(ReportText());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6].rfind("  Call Stack: frmMain.RightICQPath(strPath='x')  at Line 30 -", 0), 0u);
  EXPECT_EQ(lines[7].rfind("  Call Stack: basMain.Outer(intLevel=3)  at Line 10 -", 0), 0u);
}

TEST_F(ErrChainTest, UserMessageNumbersPassUpUnchangedAndShowAMessageBox) {
  const int32_t number = ERR_USER_MESSAGE_FIRST + 5;
  try {
    GetICQPath(number, "Please choose a picture first");
    FAIL();
  } catch (const VbError& e) {
    EXPECT_EQ(e.Number(), number);
    EXPECT_EQ(e.Source(), "Velmora");
    EXPECT_EQ(e.Description(), "Please choose a picture first");
  }
  EXPECT_EQ(ReportText(), "");

  EXPECT_FALSE(Form_Load(number, "Please choose a picture first"));
  EXPECT_TRUE(reportWindow.reports.empty());
  ASSERT_EQ(messageBox.shown.size(), 1u);
  EXPECT_EQ(messageBox.shown[0].text, "Please choose a picture first");
  EXPECT_EQ(messageBox.shown[0].title, "Velmora");
  EXPECT_EQ(messageBox.shown[0].style, 0u);  // a single OK button
}

TEST_F(ErrChainTest, UserMessageRangeEndsAreIncludedAndSilentShowsNothing) {
  EXPECT_FALSE(Form_Load(ERR_SILENT));
  EXPECT_TRUE(messageBox.shown.empty());
  EXPECT_TRUE(reportWindow.reports.empty());

  EXPECT_FALSE(Form_Load(ERR_USER_MESSAGE_LAST, "last"));
  EXPECT_FALSE(Form_Load(ERR_USER_MESSAGE_FIRST, "first"));
  ASSERT_EQ(messageBox.shown.size(), 2u);
  // Just outside the range is a fault with a report.
  EXPECT_FALSE(Form_Load(ERR_USER_MESSAGE_FIRST - 1, "fault"));
  EXPECT_EQ(reportWindow.reports.size(), 1u);
  EXPECT_FALSE(Form_Load(ERRMAP_APP_FIRST, "fault"));
  EXPECT_EQ(reportWindow.reports.size(), 2u);
}

TEST_F(ErrChainTest, TrapEnteredWithoutErrorReportsTheLostError) {
  Trap trap("frmMain.qbtnApply_Click");
  try {
    trap.at(40);
    throw VbError(0, "", "");
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
  }
  const auto lines = ReportLines(ReportText());
  ASSERT_EQ(lines.size(), 7u);
  const std::string lost =
      "ErrorIn: Error information was lost. To fix: call ErrPreserve before doing anything in error handler.";
  EXPECT_EQ(lines[0], lost + " ");
  EXPECT_EQ(lines[3],
            "  Number: -2147216306 = &H8004144E = vbObjectError + 5198 = ERRMAP_APP_FIRST + 0 = ERR_GENERAL");
  EXPECT_EQ(lines[5], "  Description: " + lost);
  EXPECT_EQ(Err().Number, ERRMAP_APP_FIRST);

  // Outside any handler and with no current error, the same.
  Err().Clear();
  ErrorIn(Trap("basMain.Nothing"), Value(), ERRIN_END_OF_CHAIN);
  EXPECT_EQ(ReportLines(ReportText())[0], lost + " ");
}

TEST_F(ErrChainTest, ErrPreserveKeepsTheFirstCaptureUntilErrorInUsesIt) {
  Err().Number = 53;
  Err().Description = "File not found";
  Err().Source = "Velmora";
  Err().HelpContext = 1234;
  Err().Line = 20;
  ErrPreserve();
  Err().Clear();
  Err().Number = 11;
  Err().Description = "Division by zero";
  ErrPreserve();
  EXPECT_EQ(PreservedErr().Number, 53);
  EXPECT_EQ(PreservedErr().HelpContext, "1234");
  EXPECT_EQ(PreservedErr().Line, 20);

  // The handler did other work that cleared the error; the capture survives.
  Err().Clear();
  const std::string report = ErrorIn(Trap("frmMain.Work(strA)"), "a", ERRIN_END_OF_CHAIN);
  const auto lines = ReportLines(report);
  EXPECT_EQ(lines[0], "File not found ");
  EXPECT_EQ(lines[6].rfind("  Call Stack: frmMain.Work(strA='a')  at Line 20 -", 0), 0u);
  EXPECT_EQ(Err().Number, 53);
  EXPECT_EQ(Err().HelpContext, 1234);
  EXPECT_FALSE(PreservedErr().Preserved);
}

TEST_F(ErrChainTest, OptionsDecideBetweenReturnRaiseAndNoReport) {
  Trap trap("basMain.Probe");
  try {
    throw VbError(9, "Velmora", "Subscript out of range");
  } catch (...) {
    EXPECT_EQ(ErrorIn(trap, Value(), ERRIN_REPORT), ReportText());
  }
  EXPECT_FALSE(ReportText().empty());
  ReportText().clear();
  try {
    throw VbError(9, "Velmora", "Subscript out of range");
  } catch (...) {
    EXPECT_EQ(ErrorIn(trap, Value(), 0), "");
  }
  EXPECT_EQ(ReportText(), "");
  try {
    try {
      throw VbError(9, "Velmora", "Subscript out of range");
    } catch (...) {
      ErrorIn(trap, Value(), ERRIN_RAISE);
    }
    FAIL() << "bit 1 raises";
  } catch (const VbError& e) {
    // Raised without a report: source and description as captured.
    EXPECT_EQ(e.Source(), "Velmora");
    EXPECT_EQ(e.Description(), "Subscript out of range");
  }
}

TEST_F(ErrChainTest, ForeignExceptionsBecomeRuntimeErrors) {
  struct Case {
    std::exception_ptr error;
    int32_t number;
    const char* text;
  } cases[] = {
      {std::make_exception_ptr(std::bad_alloc()), 7, "Out of memory"},
      {std::make_exception_ptr(std::out_of_range("x")), 9, "Subscript out of range"},
      {std::make_exception_ptr(std::overflow_error("x")), 6, "Overflow"},
      {std::make_exception_ptr(std::runtime_error("x")), 5, "Invalid procedure call or argument"},
      {std::make_exception_ptr(42), 5, "Invalid procedure call or argument"},
  };
  for (const Case& c : cases) {
    try {
      std::rethrow_exception(c.error);
    } catch (...) {
      ErrorIn(Trap("basMain.Any"), Value(), ERRIN_END_OF_CHAIN);
    }
    EXPECT_EQ(Err().Number, c.number);
    EXPECT_EQ(ReportLines(ReportText())[4], "  Source: Velmora ");
    EXPECT_EQ(ReportLines(ReportText())[5], std::string("  Description: ") + c.text);
  }
}

// Each name stands for the number whose text it is named after; a report of a
// wrong one would show another text than the code means.
TEST(RuntimeErrorNames, EachNameIsTheNumberOfItsText) {
  const struct {
    int32_t number;
    const char* text;
  } named[] = {
      {RuntimeError::kInvalidCall, "Invalid procedure call or argument"},
      {RuntimeError::kOverflow, "Overflow"},
      {RuntimeError::kOutOfMemory, "Out of memory"},
      {RuntimeError::kSubscriptOutOfRange, "Subscript out of range"},
      {RuntimeError::kTypeMismatch, "Type mismatch"},
      {RuntimeError::kFileNotFound, "File not found"},
      {RuntimeError::kDeviceIoError, "Device I/O error"},
      {RuntimeError::kFileAlreadyExists, "File already exists"},
      {RuntimeError::kDiskFull, "Disk full"},
      {RuntimeError::kTooManyFiles, "Too many files"},
      {RuntimeError::kPermissionDenied, "Permission denied"},
      {RuntimeError::kDiskNotReady, "Disk not ready"},
      {RuntimeError::kRenameAcrossDrives, "Can't rename with different drive"},
      {RuntimeError::kPathFileAccess, "Path/File access error"},
      {RuntimeError::kPathNotFound, "Path not found"},
      {RuntimeError::kObjectNotSet, "Object variable or With block variable not set"},
      {RuntimeError::kCantCreateObject, "ActiveX component can't create object"},
      {RuntimeError::kNoSuchMember, "Object doesn't support this property or method"},
      {RuntimeError::kInvalidPicture, "Invalid picture"},
  };
  for (const auto& n : named) EXPECT_EQ(RuntimeErrorText(n.number), n.text) << n.number;
}

TEST_F(ErrChainTest, SystemErrorsMapToRuntimeErrorsAndAddTheApiErrorLine) {
  EXPECT_EQ(RuntimeErrorForSystemCode(2), 53);
  EXPECT_EQ(RuntimeErrorForSystemCode(3), 76);
  EXPECT_EQ(RuntimeErrorForSystemCode(123), 76);
  EXPECT_EQ(RuntimeErrorForSystemCode(5), 75);
  EXPECT_EQ(RuntimeErrorForSystemCode(32), 70);
  EXPECT_EQ(RuntimeErrorForSystemCode(33), 70);
  EXPECT_EQ(RuntimeErrorForSystemCode(112), 61);

  try {
    RaiseSystemError(2);
  } catch (...) {
    ErrorIn(Trap("clsFile.OpenForInput(strPath)"), "C:\\x.txt", ERRIN_END_OF_CHAIN);
  }
  auto lines = ReportLines(ReportText());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "File not found ");
  EXPECT_EQ(lines[4], "  Source: Velmora ");
  // The system's text, with its line break removed.
  EXPECT_EQ(lines[6], "  API Error: (2) The system cannot find the file specified.");

  // No text from the system: the line ends after the parenthesis and a blank.
  try {
    RaiseSystemError(33);
  } catch (...) {
    ErrorIn(Trap("basMain.Any"), Value(), ERRIN_END_OF_CHAIN);
  }
  EXPECT_EQ(ReportLines(ReportText())[6], "  API Error: (33) ");

  // 0 and 203 (no such environment variable) give no line.
  for (int32_t code : {0, 203}) {
    try {
      throw VbError(5, "Velmora", "x", {}, 0, code);
    } catch (...) {
      ErrorIn(Trap("basMain.Any"), Value(), ERRIN_END_OF_CHAIN);
    }
    lines = ReportLines(ReportText());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[6].rfind("  Call Stack: ", 0), 0u);
  }
}

TEST_F(ErrChainTest, ErrShowWithoutReportShowsThePropagatedDescription) {
  PreservedErr().Source = "ErrChain.ErrorIn";
  Err().Description = "report handed up";
  ReportText().clear();
  EXPECT_EQ(ErrReportText(), "report handed up");
  PreservedErr().Source = "Velmora";
  EXPECT_EQ(ErrReportText(), "");
}

// The error library stands on its own: a host that is not the ports gets its
// reports and messages, and with no host at all a report still comes
// together while showing it raises 91.
class OwnHost : public ErrHost {
 public:
  std::vector<std::string> reports, messages;
  std::string ComputerName() override { return "HOSTPC"; }
  std::string SystemErrorText(int32_t) override { return "no such thing\r\n"; }
  std::string AdoVersion() override { throw VbError(429, "Velmora", "no ADO"); }
  std::string ExeName() override { return "Own"; }
  VersionNumbers AppVersion() override { return {2, 1, 7}; }
  LocalTime Now() override { return {2031, 1, 2, 3, 4, 5}; }
  std::string DateSeparator() override { return "."; }
  std::string TimeSeparator() override { return ":"; }
  std::string DecimalSeparator() override { return ","; }
  void ShowMessage(const std::string& text, const std::string& title) override {
    messages.push_back(title + ": " + text);
  }
  void ShowReport(const std::string& report) override { reports.push_back(report); }
};

class ErrHostScope {
 public:
  explicit ErrHostScope(ErrHost* host) : saved_(CurrentErrHost()) { SetErrHost(host); }
  ~ErrHostScope() { SetErrHost(saved_); }

 private:
  ErrHost* saved_;
};

TEST(ErrHostTest, AHostOfItsOwnOrNoneAtAll) {
  ResetErrorLibrary();
  OwnHost host;
  {
    ErrHostScope scope(&host);
    EXPECT_FALSE(Form_Load(76));
    ASSERT_EQ(host.reports.size(), 1u);
    const auto lines = ReportLines(host.reports[0]);
    EXPECT_EQ(lines[1], "  Time='01.02.31 03:04:05' App='Own:2.1.7' ADO-version='?' Computer='HOSTPC' ");
    EXPECT_EQ(SingleText(1.5f), "1,5");
    Form_Load(ERR_USER_MESSAGE_FIRST, "Choose a picture");
    EXPECT_EQ(host.messages, std::vector<std::string>{"Velmora: Choose a picture"});
  }

  ResetErrorLibrary();
  ErrHostScope none(nullptr);
  EXPECT_EQ(SingleText(1.5f), "1.5");
  EXPECT_EQ(testing::RaisedBy([] { Form_Load(76); }).Number(), 91);
  const auto lines = ReportLines(ReportText());
  EXPECT_EQ(lines[1], "  Time='' App=':' ADO-version='?' Computer='' ");
  EXPECT_EQ(lines[4], "  Source: Velmora ");
}

TEST(SplitMethodName, BaseNameAndParameterNames) {
  std::string base, names;
  SplitMethodName("frmMain.RightICQPath(strPath)", base, names);
  EXPECT_EQ(base, "frmMain.RightICQPath");
  EXPECT_EQ(names, "strPath");
  SplitMethodName("frmMain.GetICQPath", base, names);
  EXPECT_EQ(base, "frmMain.GetICQPath");
  EXPECT_EQ(names, "");
  SplitMethodName("clsFile.OpenForOutput(strPath,strBody)", base, names);
  EXPECT_EQ(names, "strPath,strBody");
  SplitMethodName("a.b()", base, names);
  EXPECT_EQ(base, "a.b");
  EXPECT_EQ(names, "");
  SplitMethodName("", base, names);
  EXPECT_EQ(base, "");
}

}  // namespace
}  // namespace velmora
