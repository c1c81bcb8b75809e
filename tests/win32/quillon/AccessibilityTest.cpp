// The Quillon buttons and the links of the program's windows as a screen
// reader finds them: through AccessibleObjectFromWindow, the way every
// assistive program asks a window, and through the events the buttons raise.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ProgramWindows.h"
#include "windows/LinkLabel.h"
#include "windows/frmInfo.h"
#include "windows/frmSettings.h"
#include "windows/frmShowError.h"

namespace host {
namespace {

constexpr LONG kUnavailable = STATE_SYSTEM_UNAVAILABLE;
constexpr LONG kFocusable = STATE_SYSTEM_FOCUSABLE;
constexpr LONG kFocused = STATE_SYSTEM_FOCUSED;
constexpr LONG kHot = STATE_SYSTEM_HOTTRACKED;
constexpr LONG kInvisible = STATE_SYSTEM_INVISIBLE;

class Accessibility : public MainWindowTest {
 protected:
  void TearDown() override {
    MainWindowTest::TearDown();
    EXPECT_EQ(CanUnloadNow(), S_OK);
  }
  HWND Button(const char* name) { return main.Control(name); }
};

// Every window of the program, every Quillon button in it: a push button
// named by what it shows, with "Press" as its action, where it is on the
// screen. The lines printed are what a screen reader has to say.
TEST_F(Accessibility, EveryButtonOfEveryWindowIsAPushButtonNamedAsItShows) {
  velmora::SettingsForm().Load(main.Hwnd());
  velmora::SettingsForm().Show();
  velmora::InfoForm().Load(main.Hwnd());
  velmora::InfoForm().Show();
  velmora::ErrorForm().ErrorReport("a report");
  PumpProgram(100);

  struct Window {
    const char* what;
    HWND hwnd;
    std::vector<std::wstring> names;
  };
  const Window windows[] = {
      {"main window",
       main.Hwnd(),
       {L"Banner entfernen", L"Bild öffnen", L"Änderungen übernehmen", L"Nach Updates suchen", L"Einstellungen",
        L"Info"}},
      {"settings window", velmora::SettingsForm().Hwnd(), {}},
      {"about window", velmora::InfoForm().Hwnd(), {L"Ok"}},
      {"error report window", velmora::ErrorForm().Hwnd(), {L"Copy error report"}},
  };
  for (const Window& w : windows) {
    SCOPED_TRACE(w.what);
    const std::vector<HWND> buttons = QuillonWindows(w.hwnd);
    ASSERT_EQ(buttons.size(), w.names.size());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      const Heard h = HearWindow(buttons[i]);
      std::printf("%s: \"%s\" %s\n", w.what, Utf8(h.name).c_str(), Words(h).c_str());
      EXPECT_EQ(h.name, w.names[i]);
      EXPECT_EQ(h.role, ROLE_SYSTEM_PUSHBUTTON);
      EXPECT_EQ(h.action, L"Press");
      EXPECT_EQ(h.state & (kFocusable | kUnavailable | kInvisible), kFocusable);
      EXPECT_EQ((h.state & kFocused) != 0, GetFocus() == buttons[i]);
      RECT screen;
      GetWindowRect(buttons[i], &screen);
      EXPECT_TRUE(EqualRect(&h.place, &screen)) << h.place.left << "," << h.place.top;
      EXPECT_GT(h.place.right - h.place.left, 0);
    }
  }
  // The window that was shown last has the focus on its text, the others on
  // their first button: the report's button is not focused, the main
  // window's first one was while its window was active.
  EXPECT_EQ(GetFocus(), velmora::ErrorForm().Control("txtError"));
}

TEST_F(Accessibility, NamesFollowTheCaptionAndThePictureOnlyButtonIsNamedByItsWindowText) {
  main.SetText("qbtnOpen", "Choose Picture");
  EXPECT_EQ(HearWindow(Button("qbtnOpen")).name, L"Choose Picture");
  // Without a caption the window's text names the button, as for qbtnInfo.
  main.Quillon("qbtnOpen").SetCaption("");
  EXPECT_EQ(HearWindow(Button("qbtnOpen")).name, L"Choose Picture");
  SetWindowTextW(Button("qbtnOpen"), L"Open");
  EXPECT_EQ(HearWindow(Button("qbtnOpen")).name, L"Open");
  main.Quillon("qbtnOpen").SetCaption("Bild");
  EXPECT_EQ(HearWindow(Button("qbtnOpen")).name, L"Bild");

  EXPECT_EQ(HearWindow(Button("qbtnInfo")).name, L"Info");
  // One object per button, handed out again on every request.
  ComPtr<IAccessible> first = AccessibleOf(Button("qbtnInfo")), again = AccessibleOf(Button("qbtnInfo"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first.As<IUnknown>(IID_IUnknown).Get(), again.As<IUnknown>(IID_IUnknown).Get());
  // The object knows its window, and has no children to ask about.
  HWND found = nullptr;
  EXPECT_EQ(WindowFromAccessibleObject(first.Get(), &found), S_OK);
  EXPECT_EQ(found, Button("qbtnInfo"));
  LONG children = -1;
  EXPECT_EQ(first->get_accChildCount(&children), S_OK);
  EXPECT_EQ(children, 0);
  VARIANT other = Self();
  V_I4(&other) = 1;
  BSTR name = nullptr;
  EXPECT_EQ(first->get_accName(other, &name), E_INVALIDARG);
  ComPtr<IDispatch> parent;
  EXPECT_EQ(first->get_accParent(parent.Put()), S_OK);
  EXPECT_TRUE(parent);
}

TEST_F(Accessibility, StatesFollowEnabledFocusHoverAndVisibility) {
  HWND apply = Button("qbtnApply"), update = Button("qbtnCheckUpdate"), open = Button("qbtnOpen");
  main.Quillon("qbtnApply").SetEnabled(false);
  EXPECT_EQ(HearWindow(apply).state, kFocusable | kUnavailable);
  main.Quillon("qbtnApply").SetEnabled(true);
  EXPECT_EQ(HearWindow(apply).state, kFocusable);

  SetFocus(update);
  EXPECT_EQ(HearWindow(update).state, kFocusable | kFocused);
  EXPECT_EQ(HearWindow(apply).state, kFocusable);
  ComPtr<IAccessible> object = AccessibleOf(update);
  VARIANT focus;
  VariantInit(&focus);
  ASSERT_EQ(object->get_accFocus(&focus), S_OK);
  EXPECT_EQ(V_VT(&focus), VT_I4);
  EXPECT_EQ(V_I4(&focus), CHILDID_SELF);

  // The pointer over the button: hot while the hover look shows.
  RECT r;
  GetWindowRect(open, &r);
  SetCursorPos(r.left + 100, r.top + 3);
  SendMessageW(open, WM_MOUSEMOVE, 0, MAKELPARAM(100, 3));
  EXPECT_EQ(HearWindow(open).state, kFocusable | kHot);
  SetCursorPos(1000, 700);
  EXPECT_TRUE(PumpUntil([&] { return (HearWindow(open).state & kHot) == 0; }));
  // A disabled button shows no hover, so it is not hot either.
  main.Quillon("qbtnOpen").SetEnabled(false);
  SetCursorPos(r.left + 100, r.top + 3);
  SendMessageW(open, WM_MOUSEMOVE, 0, MAKELPARAM(100, 3));
  EXPECT_EQ(HearWindow(open).state, kFocusable | kUnavailable);
  SetCursorPos(1000, 700);

  main.SetVisible("qbtnRemoveBanner", false);
  EXPECT_EQ(HearWindow(Button("qbtnRemoveBanner")).state & kInvisible, kInvisible);
}

TEST_F(Accessibility, DefaultActionPressesAsAClickDoesAndADisabledButtonRefusesIt) {
  ComPtr<IAccessible> open = AccessibleOf(Button("qbtnOpen"));
  ASSERT_TRUE(open);
  ASSERT_EQ(open->accDoDefaultAction(Self()), S_OK);
  PumpProgram(50);
  EXPECT_EQ(main.clicks, std::vector<std::string>{"qbtnOpen"});
  EXPECT_EQ(GetFocus(), Button("qbtnOpen"));  // a click takes the focus

  VARIANT other = Self();
  V_I4(&other) = 2;
  EXPECT_EQ(open->accDoDefaultAction(other), E_INVALIDARG);

  main.Quillon("qbtnApply").SetEnabled(false);
  ComPtr<IAccessible> apply = AccessibleOf(Button("qbtnApply"));
  EXPECT_TRUE(FAILED(apply->accDoDefaultAction(Self())));
  PumpProgram(50);
  EXPECT_EQ(main.clicks, std::vector<std::string>{"qbtnOpen"});
  EXPECT_EQ(GetFocus(), Button("qbtnOpen"));
  main.Quillon("qbtnApply").SetEnabled(true);
  EXPECT_EQ(apply->accDoDefaultAction(Self()), S_OK);
  PumpProgram(50);
  EXPECT_EQ(main.clicks, (std::vector<std::string>{"qbtnOpen", "qbtnApply"}));
}

// The web site and the addresses: links named by their text, with the
// link's action, focusable, where they are on the screen; their action
// opens them as a click does.
TEST_F(Accessibility, TheLinksReadAsLinksWithTheirTextAndTheirActionOpensThem) {
  RecordingShell shell;
  velmora::InfoForm().Load(main.Hwnd());
  velmora::InfoForm().Show();
  velmora::ErrorForm().ErrorReport("a report");
  PumpProgram(100);
  struct Link {
    velmora::Form& form;
    const char* name;
    const wchar_t* text;
    const char* handed;
  };
  const Link links[] = {
      {velmora::InfoForm(), "lblWebsite", L"www.velmora.example", "https://www.velmora.example"},
      {velmora::InfoForm(), "lblEMail", L"support@velmora.example", "mailto: support@velmora.example"},
      {velmora::ErrorForm(), "lblAddress", L"support@velmora.example", "mailto: support@velmora.example"},
  };
  for (const Link& link : links) {
    SCOPED_TRACE(link.name);
    const HWND hwnd = link.form.Control(link.name);
    ComPtr<IAccessible> object = AccessibleOf(hwnd);
    ASSERT_TRUE(object);
    const Heard h = Hear(object.Get());
    std::printf("%s: \"%s\" %s\n", link.name, Utf8(h.name).c_str(), Words(h).c_str());
    EXPECT_EQ(h.name, link.text);
    EXPECT_EQ(h.role, ROLE_SYSTEM_LINK);
    EXPECT_EQ(h.action, velmora::kLinkAction);
    EXPECT_EQ(h.state & (kFocusable | STATE_SYSTEM_LINKED | kUnavailable | kInvisible | kFocused),
              kFocusable | STATE_SYSTEM_LINKED);
    RECT screen;
    GetWindowRect(hwnd, &screen);
    EXPECT_TRUE(EqualRect(&h.place, &screen)) << h.place.left << "," << h.place.top;
    HWND found = nullptr;
    EXPECT_EQ(WindowFromAccessibleObject(object.Get(), &found), S_OK);
    EXPECT_EQ(found, hwnd);

    SetFocus(hwnd);
    EXPECT_EQ(HearWindow(hwnd).state & kFocused, kFocused);
    shell.handed.clear();
    ASSERT_EQ(object->accDoDefaultAction(Self()), S_OK);
    PumpProgram(50);
    EXPECT_EQ(shell.handed, std::vector<std::string>{link.handed});
    VARIANT other = Self();
    V_I4(&other) = 1;
    EXPECT_EQ(object->accDoDefaultAction(other), E_INVALIDARG);
  }
  // A new text is read at once.
  velmora::InfoForm().SetText("lblWebsite", "www.example.org");
  EXPECT_EQ(HearWindow(velmora::InfoForm().Control("lblWebsite")).name, L"www.example.org");
}

// ---------------------------------------------------------------- events

struct Seen {
  DWORD event;
  HWND hwnd;
  std::wstring name;
  LONG state;
  COLORREF outline;  // the top edge's middle as drawn at that moment
};
std::vector<Seen>* g_seen = nullptr;

// Called in the middle of the change that raised the event: what it reads is
// what a screen reader that asks at once gets.
void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (!g_seen || object != OBJID_CLIENT || child != CHILDID_SELF) return;
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (wcscmp(cls, L"Quillon2.Button") != 0) return;
  const Heard h = HearWindow(hwnd);
  const Snapshot s = Take(hwnd);
  g_seen->push_back({event, hwnd, h.name, h.state, s.At(s.width / 2, 0)});
}

TEST_F(Accessibility, NameStateAndFocusChangesAreRaisedWithTheNewValuesInPlace) {
  std::vector<Seen> seen;
  g_seen = &seen;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_NAMECHANGE, GetModuleHandleW(nullptr),
                                       OnWinEvent, GetCurrentProcessId(), GetCurrentThreadId(), WINEVENT_INCONTEXT);
  ASSERT_TRUE(hook);
  HWND open = Button("qbtnOpen"), apply = Button("qbtnApply");
  auto only = [&](DWORD event, HWND hwnd) {
    std::vector<Seen> out;
    for (const Seen& s : seen)
      if (s.event == event && s.hwnd == hwnd) out.push_back(s);
    return out;
  };

  main.SetText("qbtnOpen", "Choose Picture");
  PumpProgram(30);
  auto names = only(EVENT_OBJECT_NAMECHANGE, open);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].name, L"Choose Picture");

  main.Quillon("qbtnApply").SetEnabled(false);
  main.Quillon("qbtnApply").SetEnabled(true);
  PumpProgram(30);
  auto states = only(EVENT_OBJECT_STATECHANGE, apply);
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0].state & kUnavailable, kUnavailable);
  EXPECT_EQ(states[1].state & kUnavailable, 0);

  // The button raises its focus event once it shows the focus; the system
  // may raise one of its own earlier.
  seen.clear();
  SetFocus(apply);
  PumpProgram(30);
  auto focus = only(EVENT_OBJECT_FOCUS, apply);
  ASSERT_FALSE(focus.empty());
  EXPECT_EQ(focus.back().state & kFocused, kFocused);
  EXPECT_EQ(focus.back().outline, RGB(128, 128, 255));  // the focus look
  EXPECT_TRUE(only(EVENT_OBJECT_NAMECHANGE, apply).empty());

  UnhookWinEvent(hook);
  g_seen = nullptr;
}

TEST_F(Accessibility, AnObjectKeptPastItsButtonAnswersDisconnectedAndThenLetsTheLibraryGo) {
  velmora::InfoForm().Load(main.Hwnd());
  velmora::InfoForm().Show();
  ComPtr<IAccessible> kept = AccessibleOf(velmora::InfoForm().Control("qbtnOk"));
  ASSERT_TRUE(kept);
  EXPECT_EQ(Hear(kept.Get()).name, L"Ok");
  velmora::InfoForm().Unload();
  main.Unload();
  BSTR name = nullptr;
  EXPECT_EQ(kept->get_accName(Self(), &name), CO_E_OBJNOTCONNECTED);
  EXPECT_EQ(kept->accDoDefaultAction(Self()), CO_E_OBJNOTCONNECTED);
  LONG l, t, w, h;
  EXPECT_EQ(kept->accLocation(&l, &t, &w, &h, Self()), CO_E_OBJNOTCONNECTED);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // its code is the library's
  kept.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace host
