// The HTTP port over WinINet.
//
// A download runs on a worker thread. The calling thread, normally the
// window thread, waits for it in a message loop, so the program's windows
// keep painting; meanwhile the active window is disabled and shows the wait
// cursor, and input to the thread's windows is dropped. WinINet's own
// timeouts bound each step; a deadline bounds the whole, because some steps
// (resolving a name, a server that trickles bytes) escape them. At the
// deadline the caller closes the download's handles, which ends a blocked
// WinINet call on Windows, and goes on without waiting for the worker longer
// than a moment. (Wine's WinINet leaves a blocked call running until its own
// timeout; the worker then finds its handles gone and ends.)
#include "platform/win32/Win32Http.h"

#include <windows.h>
#include <wininet.h>
#include <process.h>

#include <algorithm>
#include <memory>
#include <string>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/Ticks.h"
#include "platform/win32/Win32Ports.h"

namespace velmora {
namespace {

struct Target {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // with the query
  bool secure = false;
};

Target CrackUrl(const std::string& url) {
  const std::wstring wide = Utf8ToWide(url);
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths without buffers: the parts are pointed at in `wide`.
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  if (!VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetCrackUrlW)(wide.c_str(), static_cast<DWORD>(wide.size()), 0,
                                                                  &parts))
    RaiseSystemError(GetLastError());
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || !parts.lpszHostName ||
      parts.dwHostNameLength == 0)
    RaiseSystemError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  Target target;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  if (parts.lpszUrlPath) target.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) target.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.path.empty()) target.path = L"/";
  target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return target;
}

// One download, shared by the caller and the worker thread. Each holds a
// reference and the last to let go frees it, so that a worker the caller gave
// up on never writes into freed memory.
class Download {
 public:
  Download(Target target, std::size_t maxBytes, DWORD stepMs)
      : target_(std::move(target)), maxBytes_(maxBytes), stepMs_(stepMs) {
    InitializeCriticalSection(&lock_);
  }
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  void AddRef() { InterlockedIncrement(&refs_); }
  void Release() {
    if (InterlockedDecrement(&refs_) == 0) delete this;
  }

  // The worker's part. The results are read only after the thread has ended.
  void Run() {
    try {
      error_ = Fetch();
    } catch (...) {
      error_ = ERROR_NOT_ENOUGH_MEMORY;
    }
    CloseHandles();
  }

  // The caller's part when it stops waiting: closes whatever the worker has
  // open, and makes the worker close at once whatever it opens later.
  void Abandon() {
    EnterCriticalSection(&lock_);
    abandoned_ = true;
    LeaveCriticalSection(&lock_);
    CloseHandles();
  }

  DWORD Error() const { return error_; }
  int Status() const { return status_; }
  std::string& Body() { return body_; }

 private:
  ~Download() { DeleteCriticalSection(&lock_); }

  enum { kSession, kConnection, kRequest, kHandles };

  // Records a handle the worker just opened, unless the caller has given up,
  // in which case it is closed again. Returns null for a failed or given-up
  // open, with the reason as the last error.
  HINTERNET Keep(int slot, HINTERNET handle) {
    const DWORD error = GetLastError();
    if (!handle) {
      SetLastError(error);
      return nullptr;
    }
    EnterCriticalSection(&lock_);
    const bool given_up = abandoned_;
    if (!given_up) handles_[slot] = handle;
    LeaveCriticalSection(&lock_);
    if (given_up) {
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetCloseHandle)(handle);
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return nullptr;
    }
    return handle;
  }

  // Each handle is closed once, by whichever side gets to it first.
  void CloseHandles() {
    EnterCriticalSection(&lock_);
    for (int slot = kHandles - 1; slot >= 0; --slot) {
      if (handles_[slot]) VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetCloseHandle)(handles_[slot]);
      handles_[slot] = nullptr;
    }
    LeaveCriticalSection(&lock_);
  }

  void SetLimits(HINTERNET handle) {
    DWORD ms = stepMs_;
    VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetSetOptionW)
    (handle, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
    VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetSetOptionW)(handle, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
    VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetSetOptionW)
    (handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
  }

  DWORD Fetch() {
    HINTERNET session = Keep(kSession, VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetOpenW)(
                                           L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return GetLastError();
    SetLimits(session);
    HINTERNET connection = Keep(
        kConnection, VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetConnectW)(
                         session, target_.host.c_str(), target_.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return GetLastError();
    SetLimits(connection);
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
    if (target_.secure) flags |= INTERNET_FLAG_SECURE;
    HINTERNET request =
        Keep(kRequest, VELMORA_SYSTEM_FUNCTION(L"wininet.dll", HttpOpenRequestW)(
                           connection, L"GET", target_.path.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!request) return GetLastError();
    // Wine reads the timeouts from the request handle only.
    SetLimits(request);
    if (!VELMORA_SYSTEM_FUNCTION(L"wininet.dll", HttpSendRequestW)(request, nullptr, 0, nullptr, 0))
      return GetLastError();
    DWORD status = 0, size = sizeof status;
    if (!VELMORA_SYSTEM_FUNCTION(L"wininet.dll", HttpQueryInfoW)(
            request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
      return GetLastError();
    status_ = static_cast<int>(status);
    char buffer[4096];
    while (body_.size() < maxBytes_) {
      const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes_ - body_.size()));
      DWORD got = 0;
      if (!VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetReadFile)(request, buffer, want, &got))
        return GetLastError();
      if (got == 0) break;
      body_.append(buffer, got);
    }
    return 0;
  }

  LONG refs_ = 1;
  CRITICAL_SECTION lock_;
  bool abandoned_ = false;
  HINTERNET handles_[kHandles] = {};
  const Target target_;
  const std::size_t maxBytes_;
  const DWORD stepMs_;
  DWORD error_ = 0;
  int status_ = 0;
  std::string body_;
};

struct ReleaseDownload {
  void operator()(Download* download) const { download->Release(); }
};
using DownloadRef = std::unique_ptr<Download, ReleaseDownload>;

unsigned __stdcall Worker(void* parameter) {
  Download* download = static_cast<Download*>(parameter);
  download->Run();
  download->Release();
  return 0;
}

class ThreadHandle {
 public:
  explicit ThreadHandle(HANDLE h) : h_(h) {}
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;
  ~ThreadHandle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// The thread's active window, disabled and showing the wait cursor while the
// object lives. The mouse is captured: a captured mouse gets no WM_SETCURSOR,
// which would put the window's own cursor back at the first move.
class BusyWindow {
 public:
  BusyWindow() {
    if (HWND active = GetActiveWindow()) window_ = GetAncestor(active, GA_ROOT);
    if (window_ && IsWindowEnabled(window_)) {
      focus_ = GetFocus();
      EnableWindow(window_, FALSE);
      disabled_ = true;
    }
    if (window_) SetCapture(window_);
    cursor_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  }
  BusyWindow(const BusyWindow&) = delete;
  BusyWindow& operator=(const BusyWindow&) = delete;
  ~BusyWindow() {
    if (window_ && GetCapture() == window_) ReleaseCapture();
    if (disabled_ && IsWindow(window_)) {
      EnableWindow(window_, TRUE);
      if (focus_ && IsWindow(focus_)) SetFocus(focus_);
    }
    SetCursor(cursor_);
  }

 private:
  HWND window_ = nullptr;
  HWND focus_ = nullptr;
  bool disabled_ = false;
  HCURSOR cursor_ = nullptr;
};

bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

enum class Waited { Finished, Deadline, Quit };

// Waits for the thread to end, dispatching the calling thread's messages
// except user input. A WM_QUIT ends the wait; its exit code is kept for
// posting it again.
Waited WaitDispatching(HANDLE thread, DWORD deadlineMs, WPARAM* quitCode) {
  // The 32-bit tick counter, which Windows XP has: the time elapsed is its
  // unsigned difference, right also across its wrap.
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
    const DWORD left = TicksLeft(start, GetTickCount(), deadlineMs);
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &thread, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) return Waited::Finished;
    if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED || left == 0)
      return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 ? Waited::Finished : Waited::Deadline;
  }
}

class Win32Http : public HttpPort {
 public:
  explicit Win32Http(const HttpLimits& limits) : limits_(limits) {}

  Response Get(const std::string& url, std::size_t maxBytes) override {
    DownloadRef download(new Download(CrackUrl(url), maxBytes, limits_.stepMs));
    download->AddRef();  // the worker's reference
    const uintptr_t started = _beginthreadex(nullptr, 0, &Worker, download.get(), 0, nullptr);
    if (started == 0) {
      download->Release();
      RaiseSystemError(ERROR_NOT_ENOUGH_MEMORY);
    }
    ThreadHandle thread(reinterpret_cast<HANDLE>(started));

    Waited waited;
    WPARAM quitCode = 0;
    {
      BusyWindow busy;
      waited = WaitDispatching(thread.get(), limits_.deadlineMs, &quitCode);
    }
    if (waited != Waited::Finished) {
      download->Abandon();
      WaitForSingleObject(thread.get(), limits_.graceMs);
      if (waited == Waited::Quit) {
        // The loop that asked to quit must still see it.
        PostQuitMessage(static_cast<int>(quitCode));
        RaiseSystemError(ERROR_INTERNET_OPERATION_CANCELLED);
      }
      RaiseSystemError(ERROR_INTERNET_TIMEOUT);
    }
    if (download->Error() != 0) RaiseSystemError(download->Error());
    return Response{download->Status(), std::move(download->Body())};
  }

 private:
  const HttpLimits limits_;
};

}  // namespace

std::unique_ptr<HttpPort> MakeWin32Http(const HttpLimits& limits) { return std::make_unique<Win32Http>(limits); }

void InstallWin32HttpAndShell() {
  static const std::unique_ptr<HttpPort> http = MakeWin32Http();
  ThePorts().http = http.get();
  ThePorts().shell = &Win32Shell();
}

}  // namespace velmora
