// The Quillon button under the pointer and the keyboard: clicks on each
// part, keys, focus and hover looks, and the hover timer.

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace host {
namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kHover = RGB(255, 192, 128);
const COLORREF kFocusFill = RGB(192, 192, 255);
const COLORREF kFocusOutline = RGB(128, 128, 255);
const COLORREF kBack = RGB(0, 128, 0);

// The host window sits at 100, 100 on the screen; the buttons at 8, 8 in it.
class PointerTest : public QuillonTest {
 protected:
  void SetUp() override {
    SetCursorPos(2, 2);  // away from every window of ours
    PlaceNew(a);
    a.Control()->put_ButtonBackColor(kBack);
    a.Control()->put_ButtonPictureStretch(VARIANT_FALSE);
    icon = SolidIcon(32, kRed);
    a.Control()->putref_ButtonPicture(icon.Get());
    // The creation tick, which raises a MouseOut of its own.
    ASSERT_TRUE(PumpUntil([&] { return journal.Count(L"MouseOut") == 1; }));
    journal.Clear();
  }

  // Puts the pointer on a client point of `hwnd` and lets the button see
  // the move, as the window system delivers it.
  void PointAt(HWND hwnd, int x, int y, WPARAM keys = 0) {
    POINT p{x, y};
    ClientToScreen(hwnd, &p);
    SetCursorPos(p.x, p.y);
    SendMessageW(hwnd, WM_MOUSEMOVE, keys, MAKELPARAM(x, y));
  }
  // Moves the pointer off every button and waits for the hover to end.
  void PointAway() {
    SetCursorPos(2, 2);
    const int before = journal.Count(L"MouseOut");
    PumpUntil([&] { return journal.Count(L"MouseOut") > before; }, 1000);
  }
  void ClickAt(HWND hwnd, int x, int y) {
    PointAt(hwnd, x, y);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  void Key(HWND hwnd, UINT vk) {
    PostMessageW(hwnd, WM_KEYDOWN, vk, 1);
    PostMessageW(hwnd, WM_KEYUP, vk, 0xC0000001);
    Pump(30);
  }
  // Outline colour and width and the fill, read off the drawn button.
  struct Look {
    COLORREF outline, inner, fill;
  };
  Look LookOf(HWND hwnd) {
    const Snapshot s = Take(hwnd);
    return {s.At(84, 0), s.At(84, 1), s.At(s.width - 8, s.height / 2)};
  }

  ComPtr<IPictureDisp> icon;
};

TEST_F(PointerTest, ClicksOnSurfaceCaptionAndPictureRaiseClickAndTheirOwnMoves) {
  ClickAt(a.Window(), 20, 20);   // picture: 5..37 x 5..37 px
  ClickAt(a.Window(), 100, 20);  // caption: from 42 px
  ClickAt(a.Window(), 100, 2);   // surface above the caption
  EXPECT_EQ(journal.Count(L"Click"), 3);
  // Coordinates are in twips of the part under the pointer.
  EXPECT_EQ(journal.events[0], L"MouseMove 0 0 225 232");
  ASSERT_GE(journal.events.size(), 3u);
  EXPECT_EQ(journal.events[0].rfind(L"MouseMove", 0), 0u);
  bool sawCaption = false, sawSurface = false;
  for (const auto& e : journal.events) {
    sawCaption |= e.rfind(L"MouseMove 0 0 870 ", 0) == 0;
    sawSurface |= e == L"MouseMove 0 0 1500 30";
  }
  EXPECT_TRUE(sawCaption);
  EXPECT_TRUE(sawSurface);
}

TEST_F(PointerTest, MouseButtonsAndShiftKeysReachMouseMove) {
  PointAt(a.Window(), 100, 2, MK_LBUTTON | MK_RBUTTON | MK_SHIFT | MK_CONTROL);
  ASSERT_FALSE(journal.events.empty());
  EXPECT_EQ(journal.events[0], L"MouseMove 3 3 1500 30");
}

TEST_F(PointerTest, DisabledButtonIgnoresClicksButStillReportsThePointer) {
  a.Control()->put_ButtonEnabled(VARIANT_FALSE);
  ClickAt(a.Window(), 20, 20);
  ClickAt(a.Window(), 100, 20);
  ClickAt(a.Window(), 100, 2);
  EXPECT_EQ(journal.Count(L"Click"), 0);
  EXPECT_EQ(journal.Count(L"MouseOver"), 1);
  EXPECT_GE(journal.events.size(), 4u);
  PointAway();
  EXPECT_EQ(journal.Count(L"MouseOut"), 1);
}

TEST_F(PointerTest, PressDraggedOffTheButtonIsNoClick) {
  PointAt(a.Window(), 100, 20);
  SendMessageW(a.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 20));
  SendMessageW(a.Window(), WM_LBUTTONUP, 0, MAKELPARAM(300, 20));
  EXPECT_EQ(journal.Count(L"Click"), 0);
}

TEST_F(PointerTest, EnterAndSpaceClickWhileEnabledAndNoOtherKeyDoes) {
  SetFocus(a.Window());
  ASSERT_EQ(GetFocus(), a.Window());
  Key(a.Window(), VK_RETURN);
  EXPECT_EQ(journal.Count(L"Click"), 1);
  Key(a.Window(), 'A');
  Key(a.Window(), VK_ESCAPE);
  SendMessageW(a.Window(), WM_CHAR, 10, 0);
  SendMessageW(a.Window(), WM_CHAR, ' ', 0);  // the space bar's character is no click
  EXPECT_EQ(journal.Count(L"Click"), 1);
  // The space bar clicks as on a push button: when it is let go.
  PostMessageW(a.Window(), WM_KEYDOWN, VK_SPACE, 1);
  Pump(30);
  EXPECT_EQ(journal.Count(L"Click"), 1);
  PostMessageW(a.Window(), WM_KEYUP, VK_SPACE, 0xC0000001);
  Pump(30);
  EXPECT_EQ(journal.Count(L"Click"), 2);
  a.Control()->put_ButtonEnabled(VARIANT_FALSE);
  Key(a.Window(), VK_RETURN);
  Key(a.Window(), VK_SPACE);
  EXPECT_EQ(journal.Count(L"Click"), 2);
}

TEST_F(PointerTest, EnterIsTheButtonsEvenInADialogLoop) {
  SetFocus(a.Window());
  PostMessageW(a.Window(), WM_KEYDOWN, VK_RETURN, 1);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (IsDialogMessageW(window->hwnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  Pump(30);
  EXPECT_EQ(journal.Count(L"Click"), 1);
}

TEST_F(PointerTest, ClickTakesTheFocusAndTheContainerHearsOfIt) {
  ClickAt(a.Window(), 100, 2);
  EXPECT_EQ(GetFocus(), a.Window());
  EXPECT_EQ(journal.focus, std::vector<std::wstring>{L"focus"});
  SetFocus(window->hwnd);
  EXPECT_EQ(journal.focus, (std::vector<std::wstring>{L"focus", L"blur"}));
}

TEST_F(PointerTest, FocusLook) {
  Look l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kBlack);
  EXPECT_EQ(l.inner, kBack);  // width 1
  EXPECT_EQ(l.fill, kBack);

  SetFocus(a.Window());
  l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kFocusOutline);
  EXPECT_EQ(l.inner, kFocusOutline);  // width 2
  EXPECT_EQ(l.fill, kFocusFill);

  SetFocus(window->hwnd);
  l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kBlack);
  EXPECT_EQ(l.inner, kBack);
  EXPECT_EQ(l.fill, kBack);
}

TEST_F(PointerTest, HoverLookComesWithThePointerAndGoesWithTheTimer) {
  PointAt(a.Window(), 100, 2);
  EXPECT_EQ(journal.Count(L"MouseOver"), 1);
  Look l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kHover);
  EXPECT_EQ(l.inner, kHover);
  EXPECT_EQ(l.fill, kBack);
  Pump(60);  // ticks while over change nothing
  EXPECT_EQ(journal.Count(L"MouseOut"), 0);
  PointAt(a.Window(), 110, 3);
  EXPECT_EQ(journal.Count(L"MouseOver"), 1);

  PointAway();
  EXPECT_EQ(journal.Count(L"MouseOut"), 1);
  l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kBlack);
  EXPECT_EQ(l.inner, kBack);
}

TEST_F(PointerTest, HoverWhileFocusedKeepsTheFocusFillAndReturnsToTheFocusOutline) {
  SetFocus(a.Window());
  PointAt(a.Window(), 100, 2);
  Look l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kHover);
  EXPECT_EQ(l.inner, kHover);
  EXPECT_EQ(l.fill, kFocusFill);
  PointAway();
  l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kFocusOutline);
  EXPECT_EQ(l.inner, kFocusOutline);
}

TEST_F(PointerTest, FocusLostWhileHoveredTurnsBlackButTheButtonStaysHovered) {
  SetFocus(a.Window());
  PointAt(a.Window(), 100, 2);
  SetFocus(window->hwnd);
  Look l = LookOf(a.Window());
  EXPECT_EQ(l.outline, kBlack);
  EXPECT_EQ(l.inner, kBack);
  Pump(60);
  EXPECT_EQ(journal.Count(L"MouseOut"), 0);
  PointAt(a.Window(), 101, 2);  // no new MouseOver until it has left
  EXPECT_EQ(journal.Count(L"MouseOver"), 1);
  PointAway();
  EXPECT_EQ(journal.Count(L"MouseOut"), 1);
}

TEST_F(PointerTest, AWindowInFrontOfTheButtonCountsAsLeaving) {
  RECT r;
  GetWindowRect(a.Window(), &r);
  HostWindow cover(r.left + 100, r.top, r.right - r.left - 100, r.bottom - r.top);
  SetWindowPos(cover.hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  PointAt(a.Window(), 50, 2);
  EXPECT_EQ(journal.Count(L"MouseOver"), 1);
  SetCursorPos(r.left + 120, r.top + 2);  // still inside the button's rectangle
  EXPECT_TRUE(PumpUntil([&] { return journal.Count(L"MouseOut") == 1; }));
}

TEST_F(PointerTest, NewButtonTicksOnceRaisingMouseOutAloneThenRestsIdle) {
  Journal fresh;
  Button d;
  ASSERT_EQ(Button::Place(window->hwnd, At(120, 1560, 2535, 615), nullptr, &fresh, d), S_OK);
  int ticks = 0;
  const DWORD start = GetTickCount();
  while (ticks == 0 && GetTickCount() - start < 3000) Pump(20, {d.Window()}, &ticks);
  Pump(300, {d.Window()}, &ticks);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(fresh.Count(L"MouseOut"), 1);
  EXPECT_EQ(fresh.Count(L"MouseOver"), 0);
  d.Remove();
}

TEST_F(PointerTest, NoTimerTicksOverAnIdleSecond) {
  PlaceNew(b, At(120, 840, 2535, 615));
  PlaceNew(c, At(120, 1560, 1815, 615));
  const std::vector<HWND> buttons{a.Window(), b.Window(), c.Window()};
  ASSERT_TRUE(PumpUntil([&] { return journal.Count(L"MouseOut") == 2; }));  // their creation ticks

  int ticks = 0;
  Pump(1000, buttons, &ticks);
  EXPECT_EQ(ticks, 0);

  // The count is real: with the pointer over a button its timer runs...
  PointAt(b.Window(), 100, 2);
  const DWORD start = GetTickCount();
  while (ticks <= 3 && GetTickCount() - start < 3000) Pump(20, buttons, &ticks);
  EXPECT_GT(ticks, 3);
  // ...and stops once the pointer has gone.
  PointAway();
  ticks = 0;
  Pump(500, buttons, &ticks);
  EXPECT_EQ(ticks, 0);
}

}  // namespace
}  // namespace host
