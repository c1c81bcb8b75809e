// Waiting on the window thread for something that runs elsewhere (the update
// check's worker thread, the program started as administrator) while the
// windows keep painting and nothing the user does reaches them.
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

// The hold on the window that is active when it begins: commands sent or
// posted to it are dropped, and a request to close it is kept and posted
// again when the hold ends, so that the window is never unloaded under the
// code that waits. Holds nest. Window thread only.
void BeginHold();
void EndHold();

class HoldScope {
 public:
  HoldScope() { BeginHold(); }
  HoldScope(const HoldScope&) = delete;
  HoldScope& operator=(const HoldScope&) = delete;
  ~HoldScope() { EndHold(); }
};

enum class Waited { Finished, Deadline, Quit };

// Waits for the handle to be signalled, at most `deadlineMs` (INFINITE: no
// limit), dispatching the calling thread's messages except user input and
// commands for visible windows. A WM_QUIT ends the wait; its exit code is
// kept for posting it again.
Waited WaitDispatching(HANDLE handle, DWORD deadlineMs, WPARAM* quitCode);

}  // namespace velmora
