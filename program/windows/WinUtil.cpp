#include "windows/WinUtil.h"

namespace velmora {
namespace {

int ReadDpi(int index) {
  WindowDC screen(nullptr);
  const int dpi = GetDeviceCaps(screen, index);
  return dpi > 0 ? dpi : 96;
}

// Read once, not at every one of the many conversions of a window's making.
int Dpi(int index) {
  static const int across = ReadDpi(LOGPIXELSX), down = ReadDpi(LOGPIXELSY);
  return index == LOGPIXELSX ? across : down;
}

}  // namespace

int ScreenDpiX() { return Dpi(LOGPIXELSX); }
int ScreenDpiY() { return Dpi(LOGPIXELSY); }
int TwipsToPixelsX(int twips) { return MulDiv(twips, Dpi(LOGPIXELSX), 1440); }
int TwipsToPixelsY(int twips) { return MulDiv(twips, Dpi(LOGPIXELSY), 1440); }
int PixelsToTwipsX(int pixels) { return MulDiv(pixels, 1440, Dpi(LOGPIXELSX)); }
int PixelsToTwipsY(int pixels) { return MulDiv(pixels, 1440, Dpi(LOGPIXELSY)); }

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace velmora
