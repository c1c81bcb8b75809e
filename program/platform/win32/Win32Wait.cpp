#include "platform/win32/Win32Wait.h"

namespace velmora {
namespace {

bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// A command for a window: WM_COMMAND, or a message of a window class's own
// (a control's click passed on to its window, an assistive program's press).
bool IsCommand(UINT message) { return message == WM_COMMAND || (message >= WM_USER && message <= 0xBFFF); }

// The hold on the window that was active when it began. Its window procedure
// is wrapped for the time: commands sent or posted to it are dropped, and a
// request to close it is kept and posted again when the hold ends.
struct Hold {
  int depth = 0;
  HWND window = nullptr;
  WNDPROC original = nullptr;
  bool closeAsked = false;
};
Hold g_hold;

LRESULT CALLBACK HeldWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_hold.depth > 0 && hwnd == g_hold.window) {
    if (message == WM_CLOSE || (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)) {
      g_hold.closeAsked = true;
      return 0;
    }
    if (IsCommand(message)) return 0;
  }
  return CallWindowProcW(g_hold.original, hwnd, message, wParam, lParam);
}

}  // namespace

void BeginHold() {
  if (g_hold.depth++ > 0) return;
  g_hold.closeAsked = false;
  g_hold.window = nullptr;
  HWND active = GetActiveWindow();
  if (!active) return;
  HWND window = GetAncestor(active, GA_ROOT);
  if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return;
  const auto original =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HeldWindowProc)));
  if (!original) return;
  g_hold.window = window;
  g_hold.original = original;
}

void EndHold() {
  if (g_hold.depth == 0 || --g_hold.depth > 0) return;
  HWND window = g_hold.window;
  g_hold.window = nullptr;
  if (!window || !IsWindow(window)) return;
  // Only the wrapper on top can come off; one put over it later keeps
  // calling through it, which then passes everything on.
  if (GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&HeldWindowProc))
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_hold.original));
  if (g_hold.closeAsked) PostMessageW(window, WM_CLOSE, 0, 0);
  g_hold.closeAsked = false;
}

namespace {

// What the wait keeps from the thread's windows: user input (Alt+F4 on the
// held window is kept as a request to close it), and commands for any window
// that shows. Everything else, painting and timers and the calls of COM's
// hidden windows among it, is dispatched.
bool HeldBack(const MSG& msg) {
  if (IsUserInput(msg.message)) {
    if (msg.message == WM_SYSKEYDOWN && msg.wParam == VK_F4 && msg.hwnd && g_hold.window &&
        GetAncestor(msg.hwnd, GA_ROOT) == g_hold.window)
      g_hold.closeAsked = true;
    return true;
  }
  return msg.hwnd && IsCommand(msg.message) && IsWindowVisible(GetAncestor(msg.hwnd, GA_ROOT));
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
      if (HeldBack(msg)) continue;
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
