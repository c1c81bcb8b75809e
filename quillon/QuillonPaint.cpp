// The button's drawing: its caption's font, the measure of the caption, and
// the painting of its parts (the ground, the picture, the caption, the focus
// rectangle), all at once off screen.
#include "Quillon.h"

#include <cmath>
#include <cstring>

#include "windows/WinUtil.h"

namespace quillon {

using velmora::GdiObject;
using velmora::MemoryDC;
using velmora::Selection;
using velmora::WindowDC;

// ---------------------------------------------------------------- caption font

void Quillon::RebuildCaptionFont() {
  LOGFONTW lf{};
  BSTR name = nullptr;
  CY size{};
  SHORT weight = FW_NORMAL, charset = ANSI_CHARSET;
  BOOL italic = FALSE, underline = FALSE, strike = FALSE;
  captionFont_->get_Name(&name);
  captionFont_->get_Size(&size);
  captionFont_->get_Weight(&weight);
  captionFont_->get_Charset(&charset);
  captionFont_->get_Italic(&italic);
  captionFont_->get_Underline(&underline);
  captionFont_->get_Strikethrough(&strike);
  // Points to pixels at the screen's resolution, rounded as the screen does.
  lf.lfHeight = -static_cast<LONG>(std::llround(static_cast<double>(size.int64) * dpiY_ / 720000.0));
  lf.lfWeight = weight;
  lf.lfItalic = italic ? 1 : 0;
  lf.lfUnderline = underline ? 1 : 0;
  lf.lfStrikeOut = strike ? 1 : 0;
  lf.lfCharSet = static_cast<BYTE>(charset);
  if (name) lstrcpynW(lf.lfFaceName, name, LF_FACESIZE);
  SysFreeString(name);
  // The properties write the font anew with every attribute; the same font
  // is kept, and so is what was measured in it.
  if (captionHFont_ && std::memcmp(&lf, &captionLogFont_, sizeof lf) == 0) return;
  if (HFONT font = CreateFontIndirectW(&lf)) {
    if (captionHFont_) DeleteObject(captionHFont_);
    captionHFont_ = font;
    captionLogFont_ = lf;
    measuredValid_ = false;
  }
}

ButtonPlatform::Extent Quillon::MeasureCaption(const std::u16string& text) {
  if (measuredValid_ && text == measuredText_) return measured_;
  // A memory context measures as the screen does, without asking for one
  // of the screen's own.
  const MemoryDC screen(nullptr);
  const Selection font(screen, captionHFont_);
  SIZE size{};
  GetTextExtentPoint32W(screen, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &size);
  TEXTMETRICW tm{};
  GetTextMetricsW(screen, &tm);
  measuredText_ = text;
  measured_ = {TwipsX(size.cx), TwipsY(tm.tmHeight)};
  measuredValid_ = true;
  return measured_;
}

// ---------------------------------------------------------------- painting

int Quillon::PixelsX(float twips) const { return static_cast<int>(std::lround(twips / twipsPerPixelX_)); }
int Quillon::PixelsY(float twips) const { return static_cast<int>(std::lround(twips / twipsPerPixelY_)); }

RECT Quillon::PixelRect(const TwipsRect& r) const {
  const int left = PixelsX(r.left), top = PixelsY(r.top);
  return {left, top, left + PixelsX(r.width), top + PixelsY(r.height)};
}

namespace {

COLORREF Resolve(Colour c) {
  if (c & 0x80000000u) return GetSysColor(static_cast<int>(c & 0xFFFFu));
  return c & 0x00FFFFFFu;
}

// Square and circle take the shorter side and sit in the middle.
RECT ShapeBounds(RECT r, int16_t kind) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int side = w < h ? w : h;
  if (kind == kSquare || kind == kCircle || kind == kRoundedSquare) {
    r.left += (w - side) / 2;
    r.top += (h - side) / 2;
    r.right = r.left + side;
    r.bottom = r.top + side;
  }
  return r;
}

// Draws the outline kinds 0 to 5. The rounded kinds round their corners by
// a fifth of the shorter side.
void DrawGround(HDC dc, RECT r, int16_t kind) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int side = w < h ? w : h;
  r = ShapeBounds(r, kind);
  switch (kind) {
    case kOval:
    case kCircle: Ellipse(dc, r.left, r.top, r.right, r.bottom); break;
    case kRoundedRectangle:
    case kRoundedSquare: {
      const int round = side * 2 / 5;
      RoundRect(dc, r.left, r.top, r.right, r.bottom, round, round);
      break;
    }
    default: Rectangle(dc, r.left, r.top, r.right, r.bottom); break;
  }
}

// The focus rectangle keeps inside the outline, clear of it; in an oval or
// a circle it keeps to the rectangle the curve encloses.
RECT FocusFrame(RECT shape, int16_t kind, int outlineWidth) {
  RECT r = ShapeBounds(shape, kind);
  int dx = outlineWidth + 2, dy = outlineWidth + 2;
  if (kind == kOval || kind == kCircle) {
    // Half a side times (1 - 1/sqrt 2) from each edge.
    dx += static_cast<int>((r.right - r.left) * 0.1465);
    dy += static_cast<int>((r.bottom - r.top) * 0.1465);
  }
  InflateRect(&r, -dx, -dy);
  return r;
}

}  // namespace

void Quillon::Paint(HDC target) {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int cx = client.right, cy = client.bottom;
  if (cx <= 0 || cy <= 0) return;
  const MemoryDC dc(target);
  const GdiObject bitmap(CreateCompatibleBitmap(target, cx, cy));
  const Selection canvas(dc, bitmap.Get());

  // Outside a rounded or oval outline the window behind shows through:
  // the parent paints its background into our corners.
  const GdiObject surface(CreateSolidBrush(Resolve(kSurfaceColour)));
  FillRect(dc, &client, static_cast<HBRUSH>(surface.Get()));
  if (HWND parent = GetParent(hwnd_)) {
    POINT origin{0, 0};
    MapWindowPoints(hwnd_, parent, &origin, 1);
    POINT old;
    SetViewportOrgEx(dc, -origin.x, -origin.y, &old);
    SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)), 0);
    SetViewportOrgEx(dc, old.x, old.y, nullptr);
  }

  const Ground& ground = model_.shpGround();
  const Appearance look = model_.Look();
  RECT shape = PixelRect(ground.rect);
  const GdiObject fill(CreateSolidBrush(Resolve(look.fill)));
  const GdiObject pen(look.outlineVisible ? CreatePen(PS_INSIDEFRAME, look.outlineWidth, Resolve(look.outlineColour))
                                          : nullptr);
  if (!look.outlineVisible) {
    // Without a pen GDI leaves out the right and bottom edge.
    ++shape.right;
    ++shape.bottom;
  }
  {
    const Selection outline(dc, pen.Get() ? pen.Get() : GetStockObject(NULL_PEN));
    const Selection inside(dc, fill.Get());
    DrawGround(dc, shape, ground.kind);
  }

  if (model_.State().hasPicture) {
    if (auto picture = picture_.As<IPicture>()) {
      const RECT r = PixelRect(model_.imgPicture().rect);
      OLE_XSIZE_HIMETRIC w = 0;
      OLE_YSIZE_HIMETRIC h = 0;
      picture->get_Width(&w);
      picture->get_Height(&h);
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE wants it reset
      picture->Render(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, h, w, -h, nullptr);
    }
  }

  const CaptionLabel& label = model_.lblCaption();
  if (!label.text.empty()) {
    RECT r = PixelRect(label.rect);
    // The label is as wide as its text measures; a glyph that reaches past
    // its advance (as some fonts' last letter does) must not lose a column.
    UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_TOP | DT_NOCLIP;
    format |= label.alignment == kAlignCentre ? DT_CENTER : label.alignment == kAlignRight ? DT_RIGHT : DT_LEFT;
    // Deleted after the caption's font is selected back.
    GdiObject smaller;
    const Selection font(dc, captionHFont_);
    // Twips scale with the DPI, the font's pixels not quite: at 120 dots per
    // inch a caption that fits at 96 may come out a few pixels wider than
    // the button has room for. It is then drawn in a font just small enough
    // to fit, rather than run into the outline.
    const auto* text = reinterpret_cast<const wchar_t*>(label.text.c_str());
    const int length = static_cast<int>(label.text.size());
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, length, &extent);
    // The label takes the width of its text; the room is up to the
    // margin the layout keeps on the right (75 twips).
    const LONG room = PixelRect(ground.rect).right - PixelsX(75.0f) - r.left;
    if (extent.cx > room && room > 0) {
      LOGFONTW lf{};
      GetObjectW(captionHFont_, sizeof lf, &lf);
      for (LONG height = std::abs(lf.lfHeight) - 1; height > 1 && extent.cx > room; --height) {
        lf.lfHeight = -height;
        lf.lfWidth = 0;
        if (smaller.Get()) SelectObject(dc, captionHFont_);
        smaller.Reset(CreateFontIndirectW(&lf));
        if (!smaller.Get()) break;
        SelectObject(dc, smaller.Get());
        GetTextExtentPoint32W(dc, text, length, &extent);
      }
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Resolve(look.textColour));
    DrawTextW(dc, text, length, &r, format);
  }

  if (look.focusRectangle) {
    const RECT frame = FocusFrame(PixelRect(ground.rect), ground.kind, look.outlineVisible ? look.outlineWidth : 0);
    if (frame.right > frame.left && frame.bottom > frame.top) {
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkColor(dc, RGB(255, 255, 255));
      DrawFocusRect(dc, &frame);
    }
  }

  BitBlt(target, 0, 0, cx, cy, dc, 0, 0, SRCCOPY);
}

}  // namespace quillon
