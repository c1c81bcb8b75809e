// The HTTP port over WinINet.
//
// A download runs on a worker thread. The calling thread, normally the
// window thread, waits for it in a message loop, so the program's windows
// keep painting; meanwhile the active window is disabled and shows the wait
// cursor, input and commands to the thread's windows are dropped, and a
// request to close the active window waits for the end of the dialogue. WinINet's own
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
#include <cwctype>
#include <memory>
#include <string>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Ports.h"
#include "platform/win32/Win32Wait.h"

namespace velmora {
namespace {

// The WinINet functions, looked up once by the calling thread before a
// worker starts: the worker must not meet a failed lookup, which raises.
struct WinInet {
  decltype(&::InternetCrackUrlW) crackUrl;
  decltype(&::InternetCombineUrlW) combineUrl;
  decltype(&::InternetOpenW) open;
  decltype(&::InternetConnectW) connect;
  decltype(&::HttpOpenRequestW) openRequest;
  decltype(&::InternetSetOptionW) setOption;
  decltype(&::HttpSendRequestW) sendRequest;
  decltype(&::HttpQueryInfoW) queryInfo;
  decltype(&::InternetReadFile) readFile;
  decltype(&::InternetCloseHandle) closeHandle;
};

const WinInet& Api() {
  static const WinInet api = {
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetCrackUrlW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetCombineUrlW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetOpenW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetConnectW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", HttpOpenRequestW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetSetOptionW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", HttpSendRequestW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", HttpQueryInfoW),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetReadFile),
      VELMORA_SYSTEM_FUNCTION(L"wininet.dll", InternetCloseHandle),
  };
  return api;
}

struct Target {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // with the query
  bool secure = false;
};

// Splits an http or https address; false for any other, with the reason as
// the last error. Runs on the worker too, so it raises nothing.
bool TryCrackUrl(const std::wstring& url, Target* target) {
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths without buffers: the parts are pointed at in `url`.
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  if (!Api().crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || !parts.lpszHostName ||
      parts.dwHostNameLength == 0) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return false;
  }
  target->host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target->port = parts.nPort;
  target->path.clear();
  if (parts.lpszUrlPath) target->path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) target->path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target->path.empty()) target->path = L"/";
  target->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

Target CrackUrl(const std::string& url) {
  Target target;
  if (!TryCrackUrl(Utf8ToWide(url), &target)) RaiseSystemError(GetLastError());
  return target;
}

bool SameHostName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (towlower(a[i]) != towlower(b[i])) return false;
  return true;
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One download, shared by the caller and the worker thread. Each holds a
// reference and the last to let go frees it, so that a worker the caller gave
// up on never writes into freed memory.
//
// The handles are the caller's to close once it has given up, and a closed
// handle's value may be handed out again by WinINet. So the worker takes
// every handle out of `handles_` under the lock, right before each call, and
// stops as soon as the caller has given up. The calls that return at once
// run under the lock, so that no close can come between that check and the
// call. The two that wait on the network (sending, reading) cannot: they are
// what closing the handle is meant to end. A close that lands between their
// check and their start makes them fail on the closed handle.
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
  // open, which ends a call that waits on the network, and keeps the worker
  // from making any call after this one.
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

  enum Slot { kSession, kConnection, kRequest, kHandles };
  static constexpr int kMaxRedirects = 5;

  // Runs `call` with the handle of `slot` (null for none) under the lock,
  // unless the caller has given up. The call's last error is kept.
  template <class Call>
  auto Locked(Slot slot, Call call) -> decltype(call(HINTERNET{})) {
    EnterCriticalSection(&lock_);
    if (abandoned_) {
      LeaveCriticalSection(&lock_);
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return {};
    }
    const auto result = call(handles_[slot]);
    const DWORD error = GetLastError();
    LeaveCriticalSection(&lock_);
    SetLastError(error);
    return result;
  }

  // Opens a handle (from the one of `parent`) into `slot`.
  template <class Open>
  bool OpenInto(Slot slot, Slot parent, Open open) {
    return Locked(parent, [&](HINTERNET from) {
      handles_[slot] = open(from);
      return handles_[slot] != nullptr;
    });
  }

  // A call that waits on the network: the handle is taken under the lock,
  // the call made outside it.
  template <class Call>
  BOOL Waiting(Call call) {
    const HINTERNET request = Locked(kRequest, [](HINTERNET h) { return h; });
    if (!request) return FALSE;
    return call(request);
  }

  void CloseSlot(Slot slot) {
    EnterCriticalSection(&lock_);
    if (handles_[slot]) Api().closeHandle(handles_[slot]);
    handles_[slot] = nullptr;
    LeaveCriticalSection(&lock_);
  }

  // Each handle is closed once, by whichever side gets to it first.
  void CloseHandles() {
    for (int slot = kHandles - 1; slot >= 0; --slot) CloseSlot(static_cast<Slot>(slot));
  }

  void SetLimits(Slot slot) {
    Locked(slot, [&](HINTERNET handle) {
      DWORD ms = stepMs_;
      const auto set = Api().setOption;
      set(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
      set(handle, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
      set(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
      return true;
    });
  }

  // The path to ask for next when the answer in kRequest redirects within
  // the same scheme, host and port; false for any other redirect.
  bool NextPathOnSameServer(const Target& from, std::wstring* path) {
    wchar_t location[INTERNET_MAX_URL_LENGTH + 1];
    DWORD size = sizeof location - sizeof location[0];
    if (!Locked(kRequest, [&](HINTERNET request) {
          return Api().queryInfo(request, HTTP_QUERY_LOCATION, location, &size, nullptr);
        }))
      return false;
    location[size / sizeof location[0]] = L'\0';
    // The address asked for, for a relative Location to be read against.
    const std::wstring base = std::wstring(from.secure ? L"https://" : L"http://") + from.host + L":" +
                              std::to_wstring(from.port) + from.path;
    wchar_t combined[INTERNET_MAX_URL_LENGTH + 1];
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (!Api().combineUrl(base.c_str(), location, combined, &length, ICU_NO_ENCODE)) return false;
    Target to;
    if (!TryCrackUrl(std::wstring(combined, length), &to)) return false;
    if (to.secure != from.secure || to.port != from.port || !SameHostName(to.host, from.host)) return false;
    *path = to.path;
    return true;
  }

  DWORD Fetch() {
    if (!OpenInto(kSession, kSession,
                  [](HINTERNET) { return Api().open(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0); }))
      return GetLastError();
    SetLimits(kSession);
    if (!OpenInto(kConnection, kSession, [&](HINTERNET session) {
          return Api().connect(session, target_.host.c_str(), target_.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                               0);
        }))
      return GetLastError();
    SetLimits(kConnection);
    // Redirects are followed here, and only to the same server: no logon,
    // no cookie, no cache, and nothing from a copy kept on the way.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (target_.secure) flags |= INTERNET_FLAG_SECURE;
    Target asked = target_;
    for (int redirects = 0;; ++redirects) {
      CloseSlot(kRequest);
      if (!OpenInto(kRequest, kConnection, [&](HINTERNET connection) {
            return Api().openRequest(connection, L"GET", asked.path.c_str(), nullptr, nullptr, nullptr, flags, 0);
          }))
        return GetLastError();
      // Wine reads the timeouts from the request handle only.
      SetLimits(kRequest);
      if (!Waiting([](HINTERNET request) { return Api().sendRequest(request, nullptr, 0, nullptr, 0); }))
        return GetLastError();
      DWORD status = 0, size = sizeof status;
      if (!Locked(kRequest, [&](HINTERNET request) {
            return Api().queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
          }))
        return GetLastError();
      status_ = static_cast<int>(status);
      // Any other redirect comes back as the answer it is.
      if (!IsRedirect(status) || redirects == kMaxRedirects || !NextPathOnSameServer(asked, &asked.path)) break;
    }
    char buffer[4096];
    while (body_.size() < maxBytes_) {
      const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes_ - body_.size()));
      DWORD got = 0;
      if (!Waiting([&](HINTERNET request) { return Api().readFile(request, buffer, want, &got); }))
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

class Win32Http : public HttpPort {
 public:
  explicit Win32Http(const HttpLimits& limits) : limits_(limits) {}

  Response Get(const std::string& url, std::size_t maxBytes) override {
    // The wait dispatches messages; nothing it dispatches may start another.
    if (waiting_) RaiseSystemError(ERROR_BUSY);
    Api();
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
      const HoldScope hold;
      const BusyWindow busy;
      waiting_ = true;
      struct Unmark {
        bool& flag;
        ~Unmark() { flag = false; }
      } const unmark{waiting_};
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

  void BeginDialogue() override { BeginHold(); }
  void EndDialogue() override { EndHold(); }

 private:
  const HttpLimits limits_;
  bool waiting_ = false;
};

}  // namespace

std::unique_ptr<HttpPort> MakeWin32Http(const HttpLimits& limits) { return std::make_unique<Win32Http>(limits); }

void InstallWin32HttpAndShell() {
  static const std::unique_ptr<HttpPort> http = MakeWin32Http();
  ThePorts().http = http.get();
  ThePorts().shell = &Win32Shell();
}

}  // namespace velmora
