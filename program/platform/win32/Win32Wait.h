// Waiting on the window thread for something that runs elsewhere (a worker
// thread, another process) while the windows keep painting.
#pragma once

#include <windows.h>

namespace velmora {

// The thread's active window, disabled and showing the wait cursor while the
// object lives. The mouse is captured: a captured mouse gets no WM_SETCURSOR,
// which would put the window's own cursor back at the first move.
class BusyWindow {
 public:
  BusyWindow();
  BusyWindow(const BusyWindow&) = delete;
  BusyWindow& operator=(const BusyWindow&) = delete;
  ~BusyWindow();

 private:
  HWND window_ = nullptr;
  HWND focus_ = nullptr;
  bool disabled_ = false;
  HCURSOR cursor_ = nullptr;
};

enum class Waited { Finished, Deadline, Quit };

// Waits for the handle to be signalled, at most `deadlineMs` (INFINITE: no
// limit), dispatching the calling thread's messages except user input. A
// WM_QUIT ends the wait; its exit code is kept for posting it again.
Waited WaitDispatching(HANDLE handle, DWORD deadlineMs, WPARAM* quitCode);

}  // namespace velmora
