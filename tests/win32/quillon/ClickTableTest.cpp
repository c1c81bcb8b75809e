// A window's table of click handlers against its stored layout. A button or
// a link of the layout without a handler, or a handler whose control the
// layout lacks, is a fault of the program's own making: the window's load
// fails with error 5 naming every such fault, before any of the window is
// made. A window whose table agrees loads, and its handlers run on clicks.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProgramWindows.h"
#include "errors/ErrChain.h"

namespace host {
namespace {

// The about window's layout (the Ok button, two links, labels and images)
// with a table of handlers given by the test.
class TableWindow final : public velmora::Form {
 public:
  explicit TableWindow(const std::vector<std::string>& handled) : Form("frmInfo.layout", Table(this, handled)) {}
  ~TableWindow() override { Unload(); }
  std::vector<std::string> clicks;

 private:
  static ClickHandlers Table(TableWindow* self, const std::vector<std::string>& handled) {
    ClickHandlers table;
    for (const std::string& name : handled) table.push_back({name, [self, name] { self->clicks.push_back(name); }});
    return table;
  }
};

// The description of the error the load raised, or "" when it loaded.
std::string LoadFailure(TableWindow& window) {
  try {
    window.Load();
  } catch (const velmora::VbError& e) {
    EXPECT_EQ(e.Number(), 5);
    EXPECT_EQ(e.Source(), "Velmora");
    EXPECT_FALSE(window.IsLoaded()) << "the window was made all the same";
    return e.Description();
  }
  return {};
}

bool Says(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ClickTable, AWindowWhoseHandlersAndLayoutDisagreeDoesNotLoad) {
  {
    SCOPED_TRACE("the Ok button without a handler");
    TableWindow window({"lblWebsite", "lblEMail"});
    const std::string why = LoadFailure(window);
    EXPECT_TRUE(Says(why, "frmInfo.layout: ")) << why;
    EXPECT_TRUE(Says(why, "qbtnOk has no click handler")) << why;
  }
  {
    SCOPED_TRACE("a link without a handler");
    TableWindow window({"qbtnOk", "lblWebsite"});
    const std::string why = LoadFailure(window);
    EXPECT_TRUE(Says(why, "lblEMail has no click handler")) << why;
    EXPECT_FALSE(Says(why, "lblWebsite")) << why;
  }
  {
    SCOPED_TRACE("a handler without a control");
    TableWindow window({"qbtnOk", "lblWebsite", "lblEMail", "qbtnCancel"});
    const std::string why = LoadFailure(window);
    EXPECT_TRUE(Says(why, "the click handler qbtnCancel has no control")) << why;
    EXPECT_FALSE(Says(why, "qbtnOk")) << why;
  }
  {
    SCOPED_TRACE("a handler that spells its control otherwise: it would never run");
    TableWindow window({"qbtnOk", "lblWebsite", "lblEmail"});
    const std::string why = LoadFailure(window);
    EXPECT_TRUE(Says(why, "lblEMail has no click handler")) << why;
    EXPECT_TRUE(Says(why, "the click handler lblEmail has no control")) << why;
  }
}

TEST(ClickTable, AWindowWhoseHandlersAgreeLoadsAndItsHandlersRun) {
  // A label that is no link and an image may have handlers too; they need none.
  for (const std::vector<std::string>& handled :
       {std::vector<std::string>{"qbtnOk", "lblWebsite", "lblEMail"},
        std::vector<std::string>{"lblEMail", "lblTitle", "qbtnOk", "imgLogo", "lblWebsite"}}) {
    TableWindow window(handled);
    EXPECT_EQ(LoadFailure(window), "");
    ASSERT_TRUE(window.IsLoaded());
    const HWND link = window.Control("lblEMail");
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), STN_CLICKED),
                 reinterpret_cast<LPARAM>(link));
    // Another notification of the label is no click.
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), STN_DBLCLK),
                 reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(window.clicks, std::vector<std::string>{"lblEMail"});
    window.Unload();
  }
}

}  // namespace
}  // namespace host
