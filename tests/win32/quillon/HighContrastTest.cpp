// The system's high-contrast setting as placed buttons see it: read when a
// button is made, followed when the setting changes, whether the change
// reaches the library's own listener (as the system's broadcast does) or the
// button's window (as a host that passes it on does). Wine cannot switch the
// setting, so the library is told it through FakeHighContrast.

#include <gtest/gtest.h>

#include "FakeHighContrast.h"
#include "TestSupport.h"

namespace host {
namespace {

const COLORREF kBack = RGB(0, 128, 0);
const COLORREF kFocusFill = RGB(192, 192, 255);

COLORREF Inverted(COLORREF c) { return RGB(255 - GetRValue(c), 255 - GetGValue(c), 255 - GetBValue(c)); }
bool Has(const Snapshot& s, COLORREF colour) {
  const RECT r = BoundsOf(s, colour);
  return r.right > r.left;
}

BOOL CALLBACK FindListener(HWND hwnd, LPARAM out) {
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (wcscmp(cls, L"Quillon2.SettingsListener") != 0) return TRUE;
  *reinterpret_cast<HWND*>(out) = hwnd;
  return FALSE;
}

HWND Listener() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindListener, reinterpret_cast<LPARAM>(&found));
  return found;
}

class HighContrast : public QuillonTest {
 protected:
  void SetUp() override {
    SetCursorPos(2, 2);
    PlaceNew(a);
    a.Control()->put_ButtonBackColor(kBack);
  }
  struct Look {
    COLORREF outline, fill;
  };
  static Look LookOf(HWND hwnd) {
    const Snapshot s = Take(hwnd);
    return {s.At(84, 0), s.At(s.width - 8, s.height / 2)};
  }
  const COLORREF face = GetSysColor(COLOR_BTNFACE), ink = GetSysColor(COLOR_BTNTEXT),
                 highlight = GetSysColor(COLOR_HIGHLIGHT), gray = GetSysColor(COLOR_GRAYTEXT);
};

TEST_F(HighContrast, TheSettingReachesTheButtonsAndLeavesThemWithoutARestart) {
  FakeHighContrast setting;
  ASSERT_TRUE(setting.Installed());
  // The listener waits for the thread's messages; a change before it came
  // reaches the button when it does.
  EXPECT_EQ(Listener(), nullptr);
  setting.Set(true);
  Pump(20);
  ASSERT_TRUE(Listener());
  EXPECT_EQ(LookOf(a.Window()).fill, face);
  setting.Set(false);
  FakeHighContrast::Broadcast();
  ASSERT_EQ(LookOf(a.Window()).fill, kBack);

  setting.Set(true);
  Look l = LookOf(a.Window());
  EXPECT_EQ(l.fill, kBack);  // nothing has told the button yet
  FakeHighContrast::Broadcast();
  l = LookOf(a.Window());
  EXPECT_EQ(l.fill, face);
  EXPECT_EQ(l.outline, ink);
  EXPECT_TRUE(Has(Take(a.Window()), ink));  // the caption
  EXPECT_FALSE(Has(Take(a.Window()), Inverted(face)));

  // Focused: the highlight, and the focus rectangle's dots inside.
  SetFocus(a.Window());
  l = LookOf(a.Window());
  EXPECT_EQ(l.outline, highlight);
  EXPECT_EQ(l.fill, face);
  const RECT dots = BoundsOf(Take(a.Window()), Inverted(face));
  EXPECT_GE(dots.left, 3);
  EXPECT_LE(dots.right, 169 - 3);
  EXPECT_GT(dots.right - dots.left, 100);

  // Disabled: grey caption and outline; still the focus rectangle.
  a.Control()->put_ButtonEnabled(VARIANT_FALSE);
  l = LookOf(a.Window());
  EXPECT_EQ(l.outline, gray);
  EXPECT_EQ(l.fill, face);
  const Snapshot disabled = Take(a.Window());
  EXPECT_TRUE(Has(disabled, gray));
  EXPECT_TRUE(Has(disabled, Inverted(face)));

  // A button made while the setting is on shows it from the start.
  PlaceNew(b, At(120, 840, 2535, 615));
  b.Control()->put_ButtonBackColor(kBack);
  EXPECT_EQ(LookOf(b.Window()).fill, face);

  // Off again: a host passing the colour change on reaches the one button,
  // the system's broadcast every button; each shows its own look of now.
  setting.Set(false);
  SendMessageW(a.Window(), WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(LookOf(a.Window()).fill, RGB(224, 224, 224));  // disabled, own look
  EXPECT_EQ(LookOf(b.Window()).fill, face);
  FakeHighContrast::Broadcast();
  EXPECT_EQ(LookOf(b.Window()).fill, kBack);
  a.Control()->put_ButtonEnabled(VARIANT_TRUE);
  EXPECT_EQ(LookOf(a.Window()).fill, kBack);
  SetFocus(window->hwnd);
  SetFocus(a.Window());
  EXPECT_EQ(LookOf(a.Window()).fill, kFocusFill);
  EXPECT_FALSE(Has(Take(a.Window()), Inverted(kFocusFill)));
}

TEST_F(HighContrast, TheListenerLivesAsLongAsAButtonWindowDoes) {
  PlaceNew(b, At(120, 840, 2535, 615));
  // The button asked to make it went before the thread took its messages:
  // the other one asks.
  a.Remove();
  Pump(20);
  HWND listener = Listener();
  ASSERT_TRUE(listener);
  PlaceNew(a);
  EXPECT_FALSE(IsWindowVisible(listener));
  EXPECT_EQ(GetParent(listener), nullptr);  // top level: broadcasts reach it
  a.Remove();
  EXPECT_EQ(Listener(), listener);
  b.Remove();
  EXPECT_FALSE(IsWindow(listener));
  EXPECT_EQ(Listener(), nullptr);
  PlaceNew(c);
  Pump(20);
  EXPECT_TRUE(Listener());
}

}  // namespace
}  // namespace host
