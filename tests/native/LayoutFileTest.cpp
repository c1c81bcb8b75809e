// The windows' stored layouts, as the program reads them at run time: every
// one parses, and what the container keeps of each button agrees with the
// button's place.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "RaisedErrors.h"
#include "windows/LayoutFile.h"

namespace velmora {
namespace {

std::string Read(const std::string& name) {
  std::ifstream in(std::string(VELMORA_WINDOWS) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LayoutFile, EveryWindowsLayoutParsesAndItsButtonsKeepTheirExtentInHimetric) {
  for (const char* file : {"frmMain.layout", "frmShowError.layout", "frmSettings.layout", "frmInfo.layout"}) {
    SCOPED_TRACE(file);
    const Layout layout = ParseLayout(Read(file));
    EXPECT_EQ(layout.formName + ".layout", file);
    const LayoutSetting* size = layout.form.Find("ClientSize");
    ASSERT_NE(size, nullptr);
    const int64_t clientWidth = LayoutNumber(size->values.at(0));
    for (const LayoutControl& c : layout.controls) {
      SCOPED_TRACE(c.name);
      EXPECT_GT(c.width, 0);
      // Everything starts inside the window (the flower of the about window
      // may reach past its right edge; it is shown at its natural size).
      EXPECT_LT(c.left, clientWidth);
      if (c.kind != "Quillon") continue;
      ASSERT_GE(c.bag.size(), 2u);
      EXPECT_EQ(c.bag[0].name, "_extentx");
      EXPECT_EQ(c.bag[1].name, "_extenty");
      EXPECT_EQ(LayoutNumber(c.bag[0].values.at(1)), std::lround(c.width * 2540.0 / 1440.0));
      EXPECT_EQ(LayoutNumber(c.bag[1].values.at(1)), std::lround(c.height * 2540.0 / 1440.0));
    }
  }
}

TEST(LayoutFile, ValuesTextsAndFaults) {
  const Layout layout = ParseLayout(
      "# comment\r\n"
      "Form frmTest\r\n"
      "  Caption = \"Say \"\"hi\"\"\"\r\n"
      "Control Label lblA 1 2 &H10 4\r\n"
      "  Font = \"MS Sans Serif\" 8.25 700\r\n"
      "  Bag buttonbackcolor = I4 &H80000018\r\n");
  EXPECT_EQ(layout.form.Text("caption"), "Say \"hi\"");
  const LayoutControl* a = layout.Find("LBLA");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->width, 16);
  EXPECT_EQ(a->Find("Font")->values, (std::vector<std::string>{"MS Sans Serif", "8.25", "700"}));
  EXPECT_EQ(LayoutNumber(a->bag.at(0).values.at(1)), 0x80000018);
  EXPECT_EQ(a->Number("Missing", 7), 7);

  EXPECT_EQ(testing::RaisedBy([] { ParseLayout("Form f\n  Caption = \"open"); }).Number(), 5);
  EXPECT_EQ(testing::RaisedBy([] { ParseLayout("Control Label l 1 2 3\n"); }).Number(), 5);
  EXPECT_EQ(testing::RaisedBy([] { ParseLayout("Form f\nControl Label l 1 x 3 4\n"); }).Number(), 5);
  EXPECT_EQ(testing::RaisedBy([] { ParseLayout("  Caption = \"before any form\"\n"); }).Number(), 5);
  EXPECT_EQ(testing::RaisedBy([] { LayoutNumber("12px"); }).Number(), 13);
}

}  // namespace
}  // namespace velmora
