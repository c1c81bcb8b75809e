// The small Win32 helpers of the windows layer, one home for what every
// window needs: the screen's DPI and the twips of the layouts, a window's
// text, device contexts and GDI selections that undo themselves, and the one
// message loop of the program's windows. Quillon2.dll compiles this file as
// well: the button and its host read the DPI the same way.
//
// Nothing here raises the program's errors or knows its windows, so that
// the control library can take it as it is.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace velmora {

// ---------------------------------------------------------------- DPI and twips

// The screen's dots per inch, across and down. A process aware of the
// system's DPI (the program's manifest says so) sees it fixed until the user
// logs off, and one unaware sees 96 throughout: it is read once.
int ScreenDpiX();
int ScreenDpiY();
// Layout units: twips to pixels at the screen's DPI (15 twips a pixel at
// 96), and back.
int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);
int PixelsToTwipsX(int pixels);
int PixelsToTwipsY(int pixels);

// ---------------------------------------------------------------- window text

// The whole text of a window.
std::wstring WindowText(HWND hwnd);

// ---------------------------------------------------------------- DCs and GDI objects

// A window's device context, or the screen's for no window, given back
// when the scope ends.
class WindowDC {
 public:
  explicit WindowDC(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDC() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  operator HDC() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// A memory device context like `like` (the screen's for none), deleted when
// the scope ends.
class MemoryDC {
 public:
  explicit MemoryDC(HDC like) : dc_(CreateCompatibleDC(like)) {}
  ~MemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  operator HDC() const { return dc_; }

 private:
  HDC dc_;
};

// An object selected into a device context for the scope: the object it
// replaced goes back when the scope ends. Declared after the object and the
// context it uses, so that it ends first.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~Selection() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A pen, brush, font or bitmap that is deleted when the scope ends.
class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object = nullptr) : object_(object) {}
  ~GdiObject() { Reset(); }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ Get() const { return object_; }
  // Deletes the object held (which must not be selected into a context) and
  // holds `object` instead.
  void Reset(HGDIOBJ object = nullptr) {
    if (object_) DeleteObject(object_);
    object_ = object;
  }

 private:
  HGDIOBJ object_;
};

// ---------------------------------------------------------------- message loop

// How a message loop ended.
enum class LoopEnd {
  Stopped,  // `running` said no more
  Quit,     // WM_QUIT came
  Failed,   // GetMessage failed
};

// The message loop of the program's windows, the main one and each modal
// one: runs while `running()` holds, hands every message to `preTranslate`
// first (true when it used the message up: a key preview, a dialog key),
// and ends at WM_QUIT, whose exit code goes to *quitCode. Written here, not
// in WinUtil.cpp: Quillon2.dll compiles that file and runs no loop, and so
// imports no loop's functions.
inline LoopEnd RunMessages(const std::function<bool()>& running, bool (*preTranslate)(MSG&), int* quitCode) {
  MSG msg;
  while (running()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      *quitCode = static_cast<int>(msg.wParam);
      return LoopEnd::Quit;
    }
    if (got < 0) return LoopEnd::Failed;
    if (preTranslate && preTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return LoopEnd::Stopped;
}

}  // namespace velmora
