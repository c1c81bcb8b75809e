// Every window of the program without a mouse: Tab walks its controls in its
// layout's order with the focus in sight at every step, Enter and space
// press the focused Quillon button or open the focused link, Esc closes the
// windows that are not the main one, and the focus comes back to where it
// was when a window returns.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ProgramWindows.h"
#include "windows/frmInfo.h"
#include "windows/frmSettings.h"
#include "windows/frmShowError.h"

namespace host {
namespace {

const COLORREF kFocusOutline = RGB(128, 128, 255);

bool IsQuillon(HWND hwnd) {
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  return wcscmp(cls, L"Quillon2.Button") == 0;
}

bool IsLink(HWND hwnd) {
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  return _wcsicmp(cls, L"Static") == 0 && (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_TABSTOP) != 0;
}

// The black dots of a link's focus rectangle, as the link paints itself on
// white: its text is blue, so nothing else is black.
int FocusDots(HWND link) {
  const Snapshot s = Take(link, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  return static_cast<int>(std::count(s.pixels.begin(), s.pixels.end(), 0u));
}

// The focus shows: a Quillon button in its focus look, a link with its
// focus rectangle, a standard control with its window's keyboard cues
// switched on (it draws its own focus).
::testing::AssertionResult FocusShows(HWND hwnd) {
  if (IsLink(hwnd)) {
    const int dots = FocusDots(hwnd);
    if (dots > 20) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "a focus rectangle of " << dots << " dots";
  }
  if (IsQuillon(hwnd)) {
    const Snapshot s = Take(hwnd);
    const COLORREF top = s.At(s.width / 2, 0);
    if (top == kFocusOutline) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "outline " << std::hex << top;
  }
  const LRESULT ui = SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0);
  if (ui & UISF_HIDEFOCUS) return ::testing::AssertionFailure() << "focus cues hidden";
  return ::testing::AssertionSuccess();
}

class Keyboard : public MainWindowTest {
 protected:
  void TearDown() override {
    KillTimer(nullptr, timer_);
    MainWindowTest::TearDown();
  }

  // Tab through `stops` of `form` from the first, the focus visible at each,
  // round to the first again; then Shift+Tab back to the last.
  void Walk(velmora::Form& form, const std::vector<std::string>& stops) {
    ASSERT_EQ(GetFocus(), form.Control(stops.front())) << "first stop " << stops.front();
    for (std::size_t i = 0; i <= stops.size(); ++i) {
      const std::string& at = stops[i % stops.size()];
      EXPECT_EQ(GetFocus(), form.Control(at)) << "stop " << i << ", " << at;
      EXPECT_TRUE(FocusShows(GetFocus())) << at;
      if (i < stops.size()) Press(VK_TAB);
    }
    PressShifted(VK_TAB);
    EXPECT_EQ(GetFocus(), form.Control(stops.back())) << "Shift+Tab from the first";
    EXPECT_TRUE(FocusShows(GetFocus()));
  }

  // Presses a key from inside the next message loop that runs, such as a
  // modal window's.
  void PressLater(WORD vk, UINT afterMs = 300) {
    g_key = vk;
    timer_ = SetTimer(nullptr, 0, afterMs, PressNow);
  }
  static void CALLBACK PressNow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    INPUT in[2] = {Stroke(g_key, false), Stroke(g_key, true)};
    SendInput(2, in, sizeof(INPUT));
  }

  static inline WORD g_key = 0;
  UINT_PTR timer_ = 0;
};

TEST_F(Keyboard, TabWalksEveryWindowInItsLayoutsOrderWithTheFocusInSight) {
  {
    SCOPED_TRACE("main window");
    Walk(main, {"qbtnRemoveBanner", "qbtnOpen", "qbtnApply", "qbtnCheckUpdate", "qbtnSettings", "qbtnInfo"});
  }
  {
    SCOPED_TRACE("settings window");
    velmora::SettingsForm().Load(main.Hwnd());
    velmora::SettingsForm().Show();
    PumpProgram(50);
    Walk(velmora::SettingsForm(), {"combLanguage", "chkCloseAfterApply", "cmdOk", "cmdCancel"});
    velmora::SettingsForm().Unload();
  }
  {
    SCOPED_TRACE("about window");
    velmora::InfoForm().Load(main.Hwnd());
    velmora::InfoForm().Show();
    PumpProgram(50);
    Walk(velmora::InfoForm(), {"qbtnOk", "lblWebsite", "lblEMail"});
    velmora::InfoForm().Unload();
  }
  {
    SCOPED_TRACE("error report window");
    velmora::ErrorForm().ErrorReport("a report");
    PumpProgram(50);
    Walk(velmora::ErrorForm(), {"txtError", "lblAddress", "qbtnCopy"});
  }
}

TEST_F(Keyboard, EnterAndSpacePressTheFocusedButtonAndTabPassesADisabledOne) {
  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), main.Control("qbtnOpen"));
  Press(VK_RETURN);
  EXPECT_EQ(main.clicks, std::vector<std::string>{"qbtnOpen"});
  // Space presses on its release, as a push button does.
  Keys({Stroke(VK_SPACE, false)});
  EXPECT_EQ(main.clicks.size(), 1u);
  Keys({Stroke(VK_SPACE, true)});
  EXPECT_EQ(main.clicks, (std::vector<std::string>{"qbtnOpen", "qbtnOpen"}));

  // A disabled button is no stop, like a disabled standard control.
  main.Quillon("qbtnApply").SetEnabled(false);
  Press(VK_TAB);
  EXPECT_EQ(GetFocus(), main.Control("qbtnCheckUpdate"));
  Press(VK_SPACE);
  PressShifted(VK_TAB);
  EXPECT_EQ(GetFocus(), main.Control("qbtnOpen"));
  main.Quillon("qbtnApply").SetEnabled(true);
  Press(VK_TAB);
  EXPECT_EQ(GetFocus(), main.Control("qbtnApply"));
  Press(VK_RETURN);
  EXPECT_EQ(main.clicks, (std::vector<std::string>{"qbtnOpen", "qbtnOpen", "qbtnCheckUpdate", "qbtnApply"}));
}

TEST_F(Keyboard, EscClosesSettingsAboutAndReportButNotTheMainWindow) {
  Press(VK_TAB);
  Press(VK_ESCAPE);
  EXPECT_TRUE(main.IsLoaded());
  EXPECT_TRUE(IsWindowVisible(main.Hwnd()));
  EXPECT_TRUE(main.clicks.empty());

  velmora::SettingsForm().Load(main.Hwnd());
  velmora::SettingsForm().Show();
  PumpProgram(50);
  Press(VK_TAB);  // on the check box: Esc is still the window's
  Press(VK_ESCAPE);
  EXPECT_FALSE(velmora::SettingsForm().IsLoaded());

  velmora::InfoForm().Load(main.Hwnd());
  velmora::InfoForm().Show();
  PumpProgram(50);
  ASSERT_EQ(GetFocus(), velmora::InfoForm().Control("qbtnOk"));
  Press(VK_ESCAPE);
  EXPECT_FALSE(velmora::InfoForm().IsLoaded());

  velmora::ErrorForm().ErrorReport("a report");
  PumpProgram(50);
  ASSERT_EQ(GetFocus(), velmora::ErrorForm().Control("txtError"));
  Press(VK_ESCAPE);
  EXPECT_FALSE(velmora::ErrorForm().IsLoaded());
  velmora::ErrorForm().ErrorReport("another report");
  PumpProgram(50);
  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), velmora::ErrorForm().Control("lblAddress"));
  Press(VK_ESCAPE);
  EXPECT_FALSE(velmora::ErrorForm().IsLoaded());
  velmora::ErrorForm().ErrorReport("a third report");
  PumpProgram(50);
  Press(VK_TAB);
  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), velmora::ErrorForm().Control("qbtnCopy"));
  Press(VK_ESCAPE);
  EXPECT_FALSE(velmora::ErrorForm().IsLoaded());
  EXPECT_TRUE(main.IsLoaded());
}

// The links of the about and report windows do with Enter and space what a
// click does: the address goes to the shell. Only the focused link shows
// the focus.
TEST_F(Keyboard, EnterAndSpaceOpenTheFocusedLinkAsAClickDoes) {
  RecordingShell shell;
  velmora::frmInfo& about = velmora::InfoForm();
  about.Load(main.Hwnd());
  about.Show();
  PumpProgram(50);
  const HWND web = about.Control("lblWebsite"), mail = about.Control("lblEMail");
  ASSERT_EQ(GetFocus(), about.Control("qbtnOk"));
  EXPECT_EQ(FocusDots(web), 0);
  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), web);
  EXPECT_TRUE(FocusShows(web));
  EXPECT_EQ(FocusDots(mail), 0);
  Press(VK_RETURN);
  EXPECT_EQ(shell.handed, std::vector<std::string>{"https://www.velmora.example"});
  EXPECT_TRUE(about.IsLoaded());  // Enter is the link's, not a default button's

  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), mail);
  EXPECT_EQ(FocusDots(web), 0);
  // Space opens on its release, as it presses a button.
  Keys({Stroke(VK_SPACE, false)});
  EXPECT_EQ(shell.handed.size(), 1u);
  Keys({Stroke(VK_SPACE, true)});
  EXPECT_EQ(shell.handed, (std::vector<std::string>{"https://www.velmora.example", "mailto: support@velmora.example"}));
  // Moving on before the release opens nothing.
  Keys({Stroke(VK_SPACE, false)});
  Press(VK_TAB);
  Keys({Stroke(VK_SPACE, true)});
  EXPECT_EQ(shell.handed.size(), 2u);
  EXPECT_EQ(GetFocus(), about.Control("qbtnOk"));
  about.Unload();

  velmora::ErrorForm().ErrorReport("a report");
  PumpProgram(50);
  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), velmora::ErrorForm().Control("lblAddress"));
  Press(VK_RETURN);
  ASSERT_EQ(shell.handed.size(), 3u);
  EXPECT_EQ(shell.handed.back(), "mailto: support@velmora.example");
  Press(VK_SPACE);
  EXPECT_EQ(shell.handed.size(), 4u);
}

// A failure while the main window goes: its report comes up, the main loop
// ends, and the program's messages go on (as the program runs them after
// its main loop) until the user has closed the report, here with Esc.
TEST_F(Keyboard, ReportOfAFailedShutdownStaysUntilTheUserClosesIt) {
  velmora::ErrorForm().ErrorReport("a report of the shutdown");
  main.Unload();
  PostQuitMessage(0);
  EXPECT_EQ(velmora::RunMessageLoop(), 0);
  ASSERT_TRUE(velmora::ErrorForm().IsLoaded());
  EXPECT_TRUE(IsWindowVisible(velmora::ErrorForm().Hwnd()));
  SetForegroundWindow(velmora::ErrorForm().Hwnd());
  PressLater(VK_ESCAPE, 400);
  // Should Esc never arrive, the report goes after a few seconds all the same.
  struct GiveUp {
    static void CALLBACK Now(HWND, UINT, UINT_PTR, DWORD) { velmora::ErrorForm().Unload(); }
  };
  const UINT_PTR giveUp = SetTimer(nullptr, 0, 4000, &GiveUp::Now);
  const DWORD start = GetTickCount();
  velmora::RunWhileReportIsOpen();
  const DWORD waited = GetTickCount() - start;
  KillTimer(nullptr, giveUp);
  EXPECT_GE(waited, 350u) << "the report went before the user closed it";
  EXPECT_LT(waited, 4000u) << "Esc did not close the report";
  EXPECT_FALSE(velmora::ErrorForm().IsLoaded());
}

TEST_F(Keyboard, TheFocusComesBackToTheButtonThatOpenedAModalWindow) {
  for (int i = 0; i < 4; ++i) Press(VK_TAB);
  ASSERT_EQ(GetFocus(), main.Control("qbtnSettings"));
  PressLater(VK_ESCAPE);
  velmora::SettingsForm().Load(main.Hwnd());
  velmora::SettingsForm().ShowModal(main.Hwnd());
  PumpProgram(50);
  EXPECT_FALSE(velmora::SettingsForm().IsLoaded());
  EXPECT_EQ(GetFocus(), main.Control("qbtnSettings"));
  EXPECT_TRUE(FocusShows(GetFocus()));

  Press(VK_TAB);
  ASSERT_EQ(GetFocus(), main.Control("qbtnInfo"));
  PressLater(VK_RETURN);  // Ok, which has the focus
  velmora::InfoForm().Load(main.Hwnd());
  velmora::InfoForm().ShowModal(main.Hwnd());
  PumpProgram(50);
  EXPECT_FALSE(velmora::InfoForm().IsLoaded());
  EXPECT_EQ(GetFocus(), main.Control("qbtnInfo"));
  EXPECT_TRUE(FocusShows(GetFocus()));
}

TEST_F(Keyboard, HidingTheFocusedButtonPassesTheFocusOnToTheNextStop) {
  ASSERT_EQ(GetFocus(), main.Control("qbtnRemoveBanner"));
  // What pressing "remove banner" ends with: the button goes away.
  main.SetVisible("qbtnRemoveBanner", false);
  PumpProgram(30);
  EXPECT_EQ(GetFocus(), main.Control("qbtnOpen"));
  EXPECT_TRUE(FocusShows(GetFocus()));
  Press(VK_TAB);
  EXPECT_EQ(GetFocus(), main.Control("qbtnApply"));
}

}  // namespace
}  // namespace host
