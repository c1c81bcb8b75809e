#include "platform/win32/Win32Wait.h"

namespace velmora {
namespace {

bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

}  // namespace

BusyWindow::BusyWindow() {
  if (HWND active = GetActiveWindow()) window_ = GetAncestor(active, GA_ROOT);
  if (window_ && IsWindowEnabled(window_)) {
    focus_ = GetFocus();
    EnableWindow(window_, FALSE);
    disabled_ = true;
  }
  if (window_) SetCapture(window_);
  cursor_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

BusyWindow::~BusyWindow() {
  if (window_ && GetCapture() == window_) ReleaseCapture();
  if (disabled_ && IsWindow(window_)) {
    EnableWindow(window_, TRUE);
    if (focus_ && IsWindow(focus_)) SetFocus(focus_);
  }
  SetCursor(cursor_);
}

Waited WaitDispatching(HANDLE handle, DWORD deadlineMs, WPARAM* quitCode) {
  // GetTickCount wraps after 49.7 days; the difference of two readings does
  // not mind.
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        *quitCode = msg.wParam;
        return Waited::Quit;
      }
      if (IsUserInput(msg.message)) continue;
      DispatchMessageW(&msg);
    }
    DWORD left = INFINITE;
    if (deadlineMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      left = elapsed >= deadlineMs ? 0 : deadlineMs - elapsed;
    }
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &handle, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) return Waited::Finished;
    if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED || left == 0)
      return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 ? Waited::Finished : Waited::Deadline;
  }
}

}  // namespace velmora
