// The error library with the real adapters: system facts, system error texts
// and message boxes come from Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <regex>
#include <thread>

#include "errors/ErrChain.h"
#include "errors/ErrReport.h"
#include "platform/Ports.h"
#include "RaisedErrors.h"

namespace velmora {
namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void OpenForReading(const std::string& strPath) {
  Trap trap("basTest.OpenForReading(strPath)");
  try {
    trap.at(10);
    HANDLE h = CreateFileW(Widen(strPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    trap.at(20);
    if (h == INVALID_HANDLE_VALUE) RaiseSystemError(GetLastError());
    CloseHandle(h);
  } catch (...) {
    ErrorIn(trap, strPath, ERRIN_PASS_ON);
  }
}

std::string ClickReport(const std::string& path) {
  Trap trap("frmTest.cmdOpen_Click");
  try {
    trap.at(50);
    OpenForReading(path);
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
  }
  return ReportText();
}

using testing::ReportLines;

std::string TempFolder() {
  char buf[MAX_PATH];
  GetTempPathA(MAX_PATH, buf);
  return buf;
}

TEST(ErrChainWine, FailingFileOpenGivesAReportWithTheRealSystemFacts) {
  const std::string path = TempFolder() + "velmora-no-such-file.txt";
  const auto lines = ReportLines(ClickReport(path));
  ASSERT_EQ(lines.size(), 11u) << ReportText();
  EXPECT_EQ(lines[0], "File not found ");

  char computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
  // This program's own name and the version of its version resource; the
  // database component is missing under Wine.
  const std::regex header(
      "  Time='\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d' App='foundation_win32:1\\.0\\.3' "
      "ADO-version='\\?' Computer='" + std::string(computer, size) + "' ");
  EXPECT_TRUE(std::regex_match(lines[1], header)) << lines[1];
  EXPECT_EQ(lines[3], "  Number: 53 = &H35 = vbObjectError + 2147221557 = ERRMAP_APP_FIRST + 2147216359 ");
  EXPECT_EQ(lines[4], "  Source: Velmora ");

  const std::string api = "  API Error: (2) ";
  ASSERT_EQ(lines[6].substr(0, api.size()), api);
  EXPECT_GT(lines[6].size(), api.size() + 5) << "the system's text for error 2";
  EXPECT_EQ(lines[6].find_first_of(std::string("\r\n\0", 3)), std::string::npos);

  // The temporary folder's path is longer than 40 characters: a value block.
  ASSERT_GT(path.size(), 40u);
  EXPECT_EQ(lines[7], PadRight("  Call Stack: basTest.OpenForReading(strPath={Text})  at Line 20 ", '-', 100));
  EXPECT_EQ(lines[8], "    Value Of strPath:");
  EXPECT_EQ(lines[9], "      '" + path + "'");
  EXPECT_EQ(lines[10], PadRight("  Call Stack: frmTest.cmdOpen_Click()  at Line 50 ", '-', 100));
}

TEST(ErrChainWine, MissingFolderIsPathNotFound) {
  const auto lines = ReportLines(ClickReport(TempFolder() + "velmora-no-such-folder\\file.txt"));
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0], "Path not found ");
  EXPECT_EQ(lines[6].substr(0, 17), "  API Error: (3) ");
}

TEST(ErrChainWine, SystemFactsFromTheRealAdapters) {
  SystemFacts& facts = Facts();
  const VersionNumbers v = facts.AppVersion();
  EXPECT_EQ(v.major, 1);
  EXPECT_EQ(v.minor, 0);
  EXPECT_EQ(v.revision, 3);
  EXPECT_EQ(facts.ExeName(), "foundation_win32");
  EXPECT_THROW(facts.AdoVersion(), VbError);
  EXPECT_EQ(AdoVersion(), "?");
  // Text of an unknown code: nothing, so the line ends after ") ".
  EXPECT_EQ(ApiErrorText(0x7FFF1234), "");
  const std::string denied = ApiErrorText(5);
  EXPECT_FALSE(denied.empty());
  EXPECT_EQ(denied.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
}

// Reads the text of the message box titled "Velmora" and presses its OK button.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher()
      : thread_([this] {
          for (int i = 0; i < 500 && !stop_; ++i) {
            if (HWND box = FindWindowW(L"#32770", L"Velmora")) {
              wchar_t text[256] = {};
              GetDlgItemTextW(box, 0xFFFF, text, 256);  // the message's static control
              text_ = text;
              found_ = true;
              PostMessageW(box, WM_COMMAND, IDOK, 0);
              return;
            }
            Sleep(10);
          }
        }) {}
  ~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  bool Found() {
    thread_.join();
    thread_ = std::thread([] {});
    return found_;
  }
  std::wstring Text() const { return text_; }

 private:
  std::atomic<bool> stop_{false}, found_{false};
  std::wstring text_;
  std::thread thread_;
};

TEST(ErrChainWine, UserMessagesAppearInARealMessageBoxTitledVelmora) {
  MessageBoxWatcher watcher;
  Trap trap("frmTest.cmdGo_Click");
  try {
    Raise(ERR_USER_MESSAGE_FIRST + 10, "Velmora", "Bitte zuerst ein Bild w\xc3\xa4hlen");
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
  ASSERT_TRUE(watcher.Found());
  EXPECT_EQ(watcher.Text(), L"Bitte zuerst ein Bild w\u00e4hlen");
}

}  // namespace
}  // namespace velmora
