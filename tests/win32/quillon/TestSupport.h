#pragma once
// Shorthands for the Quillon host tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "QuillonDispids.h"
#include "QuillonHost.h"

namespace host {

// A VARIANT that clears itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  ~Var() { VariantClear(&v); }
};

inline VARIANT I4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

inline VARIANT Bool(bool value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

// The caller's string stays owned by the caller; free with VariantClear.
inline VARIANT Str(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

inline VARIANT Object(IDispatch* object) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = object;  // not owned
  return v;
}

inline std::wstring Caption(Button& b) {
  BSTR s = nullptr;
  b.Control()->get_ButtonCaption(&s);
  std::wstring out = s ? s : L"";
  SysFreeString(s);
  return out;
}

// Twips rectangle from left, top, width, height.
inline RECT At(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

// The smallest rectangle around the pixels of `colour` (right and bottom
// exclusive); empty when there are none.
inline RECT BoundsOf(const Snapshot& s, COLORREF colour) {
  RECT r{s.width, s.height, 0, 0};
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      if (s.At(x, y) == colour) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
  return r;
}

// Like BoundsOf, for every pixel dark enough to be caption text.
inline RECT TextBounds(const Snapshot& s, int fromX = 3, int toX = -1) {
  if (toX < 0) toX = s.width - 3;
  RECT r{s.width, s.height, 0, 0};
  for (int y = 3; y < s.height - 3; ++y)
    for (int x = fromX; x < toX; ++x) {
      const COLORREF c = s.At(x, y);
      if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 200) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
    }
  return r;
}

// Font objects report the face and size the font system gave them, which
// under Wine need not be the ones asked for: compare with a font made alike.
inline ::testing::AssertionResult SameFont(const ComPtr<IFontDisp>& got, const ComPtr<IFontDisp>& want) {
  auto g = got.As<IFont>(), w = want.As<IFont>();
  if (!g || !w) return ::testing::AssertionFailure() << "not a font";
  BSTR gn = nullptr, wn = nullptr;
  CY gs{}, ws{};
  BOOL gb = FALSE, wb = FALSE;
  g->get_Name(&gn);
  w->get_Name(&wn);
  g->get_Size(&gs);
  w->get_Size(&ws);
  g->get_Bold(&gb);
  w->get_Bold(&wb);
  const bool same = gn && wn && wcscmp(gn, wn) == 0 && gs.int64 == ws.int64 && gb == wb;
  auto result = same ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
  result << "font " << (gn ? gn : L"?") << " " << gs.int64 << (gb ? " bold" : "") << " vs " << (wn ? wn : L"?") << " "
         << ws.int64 << (wb ? " bold" : "");
  SysFreeString(gn);
  SysFreeString(wn);
  return result;
}

// Every test leaves the library unloadable: no object and no lock alive.
class QuillonTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (Button* button : {&a, &b, &c}) button->Remove();
    window.reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
  }
  void PlaceNew(Button& into, RECT twips = At(120, 120, 2535, 615)) {
    ASSERT_EQ(Button::Place(window->hwnd, twips, nullptr, &journal, into), S_OK);
  }
  void PlaceFrom(PropertyBag* bag, Button& into, RECT twips = At(120, 120, 2535, 615)) {
    ASSERT_EQ(Button::Place(window->hwnd, twips, bag, &journal, into), S_OK);
  }

  std::unique_ptr<HostWindow> window = std::make_unique<HostWindow>();
  Journal journal;
  Button a, b, c;
};

}  // namespace host
