// The report's text: header placeholders, numbers, call-stack lines, value
// texts and long-value blocks.
#include <gtest/gtest.h>

#include "FakePorts.h"
#include "RaisedErrors.h"
#include "errors/ErrChain.h"
#include "errors/ErrReport.h"

namespace velmora {
namespace {

using testing::FakeFacts;
using testing::PortsScope;
using testing::ReportLines;
using testing::ResetErrorLibrary;

class ErrReportTest : public ::testing::Test {
 protected:
  ErrReportTest() : scope_(Ports{&facts, &codePage, nullptr, nullptr, nullptr}) {
    ResetErrorLibrary();
  }

  // The report of a one-level chain: the trap `name` fails with `number`.
  std::vector<std::string> ReportFor(int32_t number, const std::string& description = "boom",
                                     const char* name = "basMain.Fail", const Value& params = Value(),
                                     int32_t line = 0) {
    Trap trap(name);
    if (line) trap.at(line);
    try {
      throw VbError(number, "Velmora", description);
    } catch (...) {
      ErrorIn(trap, params, ERRIN_END_OF_CHAIN);
    }
    return ReportLines(ReportText());
  }

  std::string CallStackFor(const char* name, const Value& params, int32_t line = 0) {
    return ReportFor(5, "x", name, params, line).at(6);
  }

  FakeFacts facts;
  Windows1252 codePage;

 private:
  PortsScope scope_;
};

TEST_F(ErrReportTest, NumberLineShowsRelativeNumbersAndGeneralMarker) {
  EXPECT_EQ(ReportFor(53)[3],
            "  Number: 53 = &H35 = vbObjectError + 2147221557 = ERRMAP_APP_FIRST + 2147216359 ");
  EXPECT_EQ(ReportFor(ERRMAP_APP_FIRST)[3],
            "  Number: -2147216306 = &H8004144E = vbObjectError + 5198 = ERRMAP_APP_FIRST + 0 = ERR_GENERAL");
  EXPECT_EQ(ReportFor(static_cast<int32_t>(0x80004005))[3],
            "  Number: -2147467259 = &H80004005 = vbObjectError - 245755 = ERRMAP_APP_FIRST - 250953 ");
}

TEST_F(ErrReportTest, LargeNumbersStillFillEveryPlaceholder) {
  for (int32_t number : {0x40000, 0x4144E, 0x7FFFFFFF}) {
    const auto lines = ReportFor(number, "big");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(ReportText().find('\x08'), std::string::npos);
    EXPECT_EQ(ReportText().find('%'), std::string::npos) << ReportText();
    EXPECT_EQ(lines[4], "  Source: Velmora ");
    EXPECT_EQ(lines[5], "  Description: big");
  }
  EXPECT_EQ(ReportFor(0x40000)[3],
            "  Number: 262144 = &H40000 = vbObjectError + 2147483648 = ERRMAP_APP_FIRST + 2147478450 ");
  EXPECT_EQ(ReportFor(0x7FFFFFFF)[3],
            "  Number: 2147483647 = &H7FFFFFFF = vbObjectError + 4294705151 = ERRMAP_APP_FIRST + 4294699953 ");
}

TEST_F(ErrReportTest, PlaceholderTextInValuesIsShownLiterally) {
  const auto lines = ReportFor(5, "bad %Time% and %Descr% at 100%", "basMain.P%Comp%");
  EXPECT_EQ(lines[0], "bad %Time% and %Descr% at 100% ");
  EXPECT_EQ(lines[2], "  Method: basMain.P%Comp% ");
  EXPECT_EQ(lines[5], "  Description: bad %Time% and %Descr% at 100%");
}

TEST_F(ErrReportTest, HeaderUsesLocaleSeparatorsAndTheFacts) {
  facts.dateSeparator = ".";
  facts.timeSeparator = ".";
  facts.now = {2007, 3, 4, 5, 6, 7};
  facts.adoMissing = true;
  facts.computerName = "";
  facts.exeName = "Other";
  facts.version = {2, 11, 40};
  EXPECT_EQ(ReportFor(5)[1], "  Time='03.04.07 05.06.07' App='Other:2.11.40' ADO-version='?' Computer='' ");
}

TEST_F(ErrReportTest, HeaderSurvivesMissingFacts) {
  ThePorts().facts = nullptr;
  const auto lines = ReportFor(5);
  EXPECT_EQ(lines[1], "  Time='' App=':' ADO-version='?' Computer='' ");
  EXPECT_EQ(lines[3].rfind("  Number: 5 = &H5 ", 0), 0u);
}

TEST_F(ErrReportTest, CallStackLinesArePaddedToOneHundredAndNeverCut) {
  const std::string noLine = CallStackFor("basMain.Work", Value());
  EXPECT_EQ(noLine, "  Call Stack: basMain.Work() " + std::string(100 - 29, '-'));
  EXPECT_EQ(noLine.size(), 100u);

  const std::string withLine = CallStackFor("basMain.Work", Value(), 70);
  EXPECT_EQ(withLine.rfind("  Call Stack: basMain.Work()  at Line 70 -", 0), 0u);
  EXPECT_EQ(withLine.size(), 100u);

  const std::string longName = "basMain." + std::string(90, 'W');
  const std::string cut = CallStackFor(longName.c_str(), Value());
  EXPECT_EQ(cut, "  Call Stack: " + longName + "() ");

  // Characters, not bytes, are counted.
  const std::string umlauts = CallStackFor("basMain.Größe(strText)", "äöü");
  EXPECT_EQ(CharCount(umlauts), 100u);
}

TEST_F(ErrReportTest, ParameterListsNameEachValue) {
  EXPECT_EQ(CallStackFor("m.p(strA,intB,bolC)", Params("a", int16_t{2}, true)),
            "  Call Stack: m.p(strA='a', intB=2, bolC=True) " + std::string(53, '-'));
  // A named parameter without a value shows its name and "=".
  EXPECT_EQ(CallStackFor("m.p(strA,strB)", Params("a", MissingValue{})).substr(0, 36),
            "  Call Stack: m.p(strA='a', strB=) -");
  // Values beyond the names show as the value alone.
  EXPECT_EQ(CallStackFor("m.p(strA)", Params("a", int32_t{7})).substr(0, 32),
            "  Call Stack: m.p(strA='a', 7) -");
  // An empty item after others leaves a trailing ", ".
  EXPECT_EQ(CallStackFor("m.p(strA)", Params("a", MissingValue{})).substr(0, 30),
            "  Call Stack: m.p(strA='a', ) ");
}

TEST_F(ErrReportTest, LongAndMultiLineValuesGoIntoBlocks) {
  const std::string body(41, 'x');
  ReportFor(5, "x", "clsFile.OpenForOutput(strPath,strBody)", Params("C:\\a.box", body), 20);
  const std::string& report = ReportText();
  const std::string expectedTail =
      "  Call Stack: clsFile.OpenForOutput(strPath='C:\\a.box', strBody={Text})  at Line 20 " +
      std::string(16, '-') + "\r\n" + "    Value Of strBody:\r\n      '" + body + "'\r\n";
  ASSERT_GE(report.size(), expectedTail.size());
  EXPECT_EQ(report.substr(report.size() - expectedTail.size()), expectedTail);

  // Exactly 40 characters stays in the line (38 plus the quotes).
  EXPECT_NE(CallStackFor("m.p(s)", std::string(38, 'y')).find("s='" + std::string(38, 'y') + "'"),
            std::string::npos);

  // A short value with a line break, and two long values: two blocks, each
  // line of a value indented by six blanks.
  ReportFor(5, "x", "m.p(strA,strB)", Params("a\r\nb", std::string(50, 'z')));
  const std::string blocks =
      "    Value Of strA:\r\n      'a\r\n      b'\r\n"
      "    Value Of strB:\r\n      '" + std::string(50, 'z') + "'\r\n";
  EXPECT_EQ(ReportText().substr(ReportText().size() - blocks.size()), blocks);
  EXPECT_NE(ReportText().find("(strA={Text}, strB={Text})"), std::string::npos);
  EXPECT_EQ(ValueDumps(), "");
}

TEST_F(ErrReportTest, XmlValuesAreShownOneTagPerLine) {
  ReportFor(5, "x", "m.p(xmlDoc)", "<a><b x=\"1\"/><c>some longer text</c></a>");
  const std::string block =
      "    Value Of xmlDoc:\r\n"
      "      <a>\r\n"
      "        <b x=\"1\"/>\r\n"
      "        <c>some longer text\r\n"
      "        </c>\r\n"
      "      </a>\r\n";
  EXPECT_EQ(ReportText().substr(ReportText().size() - block.size()), block);

  // The name must start with "xml" exactly; others keep the quoted text.
  ReportFor(5, "x", "m.p(XmlDoc)", "<a><b x=\"1\"/><c>some longer text</c></a>");
  EXPECT_NE(ReportText().find("      '<a><b x=\"1\"/><c>some longer text</c></a>'\r\n"), std::string::npos);
}

TEST(IndentXml, LevelsAndFailures) {
  EXPECT_EQ(IndentXml("'<a><b/></a>'"), "<a>\r\n  <b/>\r\n</a>");
  EXPECT_EQ(IndentXml("'lead<a>x</a>'"), "lead<a>x\r\n</a>");
  // A closing tag too many: the text without its quotes.
  EXPECT_EQ(IndentXml("'</a><b>'"), "</a><b>");
  EXPECT_EQ(IndentXml("'<a>'"), "<a>");
}

TEST(ValueTextTest, EveryKind) {
  FakeFacts facts;
  facts.decimalSeparator = ",";
  PortsScope scope(Ports{&facts, nullptr, nullptr, nullptr, nullptr});
  EXPECT_EQ(ValueText(ValueArray{1, 2}), "{Array}");
  EXPECT_EQ(ValueText(EmptyValue{}), "{Empty}");
  EXPECT_EQ(ValueText(NullValue{}), "{Null}");
  EXPECT_EQ(ValueText(int16_t{-3}), "-3");
  EXPECT_EQ(ValueText(int32_t{123456}), "123456");
  EXPECT_EQ(ValueText(uint8_t{255}), "255");
  EXPECT_EQ(ValueText(true), "True");
  EXPECT_EQ(ValueText(false), "False");
  EXPECT_EQ(ValueText(1.5f), "1,5");
  EXPECT_EQ(ValueText(1.0f / 3.0f), "0,3333333");
  EXPECT_EQ(ValueText(0.1), "0,1");
  EXPECT_EQ(ValueText(Currency{-12345}), "-1,2345");
  EXPECT_EQ(ValueText(Currency{20000}), "2");
  EXPECT_EQ(ValueText(DecimalValue{"79228162514264337593543950335"}), "79228162514264337593543950335");
  EXPECT_EQ(ValueText(DateValue{46362.5}), "'12/6/2026 12:00:00'");
  EXPECT_EQ(ValueText(DateValue{2.0}), "'1/1/1900'");
  EXPECT_EQ(ValueText("it's"), "'it's'");
  EXPECT_EQ(ValueText(ObjectRef{"clsFile"}), "{clsFile}");
  EXPECT_EQ(ValueText(MissingValue{}), "");
  EXPECT_EQ(ValueText(ErrorValue{448}), "");
}

TEST(SignedTextTest, SignAndMagnitude) {
  EXPECT_EQ(SignedText(0), "+ 0");
  EXPECT_EQ(SignedText(5198), "+ 5198");
  EXPECT_EQ(SignedText(-245755), "- 245755");
  EXPECT_EQ(SignedText(-2147483648LL), "- 2147483648");
}

TEST(PadRightTest, FillsButNeverCuts) {
  EXPECT_EQ(PadRight("ab", '-', 5), "ab---");
  EXPECT_EQ(PadRight("abcde", '-', 5), "abcde");
  EXPECT_EQ(PadRight("abcdef", '-', 5), "abcdef");
}

}  // namespace
}  // namespace velmora
