// The elevation port over the token, a probe file and the shell's "runas".
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <string>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Elevation.h"
#include "platform/win32/Win32Ports.h"
#include "platform/win32/Win32Wait.h"

namespace velmora {
namespace {

// Token information classes and elevation types of Vista and later, which
// the XP headers this program is built with do not declare. XP answers
// ERROR_INVALID_PARAMETER for them.
constexpr int kTokenElevationType = 18;
constexpr int kTokenElevation = 20;
constexpr DWORD kElevationTypeDefault = 1;
constexpr DWORD kElevationTypeLimited = 3;

class TokenHandle {
 public:
  TokenHandle() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &h_)) h_ = nullptr;
  }
  TokenHandle(const TokenHandle&) = delete;
  TokenHandle& operator=(const TokenHandle&) = delete;
  ~TokenHandle() {
    if (h_) CloseHandle(h_);
  }
  bool Query(int infoClass, DWORD* value) const {
    DWORD size = 0;
    return h_ && GetTokenInformation(h_, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), value, sizeof *value, &size);
  }

 private:
  HANDLE h_ = nullptr;
};

// Whether UAC is on: "EnableLUA" of the system policies, on unless set to 0.
bool UacIsOn() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return true;
  DWORD value = 1, type = 0, size = sizeof value;
  const LONG rc = RegQueryValueExW(key, L"EnableLUA", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc != ERROR_SUCCESS || type != REG_DWORD || value != 0;
}

// Where a report travels from the elevated program to its caller.
std::wstring ChannelName(const std::string& token) {
  return L"\\\\.\\pipe\\Velmora-report-" + std::wstring(token.begin(), token.end());
}

// What the elevated program sends is read as it comes, so that a long
// report never holds it up; past this much, the rest is read and dropped.
constexpr std::size_t kReportCap = 16u << 20;

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_;
};

// The caller's end: a pipe of its own that takes one client, read on a
// thread of its own while the elevated program runs.
class ReportPipe {
 public:
  explicit ReportPipe(const std::string& token) : name_(ChannelName(token)) {
    // The first instance of the name, or none: nobody who made the pipe
    // before us gets our report. Remote clients are refused where the
    // system knows how (Vista and later; XP refuses the flag).
    constexpr DWORD kRejectRemoteClients = 0x08;
    const DWORD open = PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED;
    for (const DWORD reject : {kRejectRemoteClients, DWORD{0}}) {
      pipe_ = CreateNamedPipeW(name_.c_str(), open, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | reject, 1, 0,
                               64 * 1024, 0, nullptr);
      if (pipe_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) break;
    }
    if (pipe_ == INVALID_HANDLE_VALUE) RaiseSystemError(GetLastError());
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    io_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop_) thread_ = CreateThread(nullptr, 0, &ReportPipe::Run, this, 0, nullptr);
    if (!thread_) {
      const DWORD error = GetLastError();
      Close();
      RaiseSystemError(error);
    }
  }
  ReportPipe(const ReportPipe&) = delete;
  ReportPipe& operator=(const ReportPipe&) = delete;
  ~ReportPipe() { Close(); }

  // Everything the elevated program sent, once it has ended (or was never
  // started).
  std::string Finish() {
    // A program that never connected left the pipe waiting for a client:
    // this end connects and goes, and the reader finds nothing more.
    { const Handle self(CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)); }
    if (WaitForSingleObject(thread_, 10000) != WAIT_OBJECT_0) {
      SetEvent(stop_);
      WaitForSingleObject(thread_, INFINITE);
    }
    return report_;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    static_cast<ReportPipe*>(self)->Read();
    return 0;
  }

  // Waits for an overlapped operation; false when it failed or was stopped.
  bool Complete(BOOL started, DWORD* done) {
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE events[] = {io_, stop_};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIo(pipe_);
      GetOverlappedResult(pipe_, &overlapped_, done, TRUE);
      return false;
    }
    return GetOverlappedResult(pipe_, &overlapped_, done, FALSE) != FALSE;
  }

  void Read() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = io_;
    DWORD done = 0;
    if (!ConnectNamedPipe(pipe_, &overlapped_)) {
      const DWORD error = GetLastError();
      // Connected before we asked, or connected and gone already: what it
      // wrote is there to read either way.
      if (error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA && !Complete(FALSE, &done)) return;
    }
    char buffer[4096];
    for (;;) {
      overlapped_ = OVERLAPPED{};
      overlapped_.hEvent = io_;
      ResetEvent(io_);
      done = 0;
      if (!Complete(ReadFile(pipe_, buffer, sizeof buffer, nullptr, &overlapped_), &done)) return;
      if (report_.size() < kReportCap) report_.append(buffer, std::min<std::size_t>(done, kReportCap - report_.size()));
    }
  }

  void Close() {
    if (thread_) {
      SetEvent(stop_);
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
    if (io_) CloseHandle(io_);
    if (stop_) CloseHandle(stop_);
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    io_ = stop_ = nullptr;
    pipe_ = INVALID_HANDLE_VALUE;
  }

  std::wstring name_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr, io_ = nullptr, thread_ = nullptr;
  OVERLAPPED overlapped_{};
  std::string report_;
};

class PipeChannel : public ReportWindowPort {
 public:
  explicit PipeChannel(std::string token) : name_(ChannelName(token)) {}
  void SetErrorReport(const std::string& text) override {
    // Identification only: the caller's end learns who writes, and cannot
    // take on this process's rights.
    constexpr DWORD kFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 5; ++tries) {
      pipe = CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kFlags, nullptr);
      if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
      WaitNamedPipeW(name_.c_str(), 1000);
    }
    if (pipe == INVALID_HANDLE_VALUE) RaiseSystemError(GetLastError());
    const Handle owned(pipe);
    std::size_t sent = 0;
    while (sent < text.size()) {
      DWORD put = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - sent, 64 * 1024));
      if (!WriteFile(pipe, text.data() + sent, want, &put, nullptr) || put == 0) RaiseSystemError(GetLastError());
      sent += put;
    }
  }

 private:
  std::wstring name_;
};

class Win32Elevation : public ElevationPort {
 public:
  explicit Win32Elevation(std::wstring program) : program_(std::move(program)) {}

  bool MayWrite(const std::string& folder) override {
    std::wstring probe = Utf8ToWide(folder);
    if (!probe.empty() && probe.back() != L'\\') probe += L'\\';
    probe += L"Velmora-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial_) + L".tmp";
    // Deleted when closed: creating it asks for the right to delete as well.
    const HANDLE file =
        CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return true;
    }
    // Only a refusal is a matter of rights. A folder that is missing, or any
    // other failure, is left to the write itself, which reports it.
    const DWORD error = GetLastError();
    return error != ERROR_ACCESS_DENIED && error != ERROR_PRIVILEGE_NOT_HELD;
  }

  bool TokenIsLimited() override {
    TokenHandle token;
    DWORD type = 0;
    // XP and earlier know no elevation: there is nothing to ask for.
    if (!token.Query(kTokenElevationType, &type)) return false;
    if (type == kElevationTypeLimited) return true;
    if (type != kElevationTypeDefault) return false;
    // A token that is neither split nor elevated is a standard user's; with
    // UAC on, "runas" asks for an administrator's password.
    DWORD elevated = 0;
    if (token.Query(kTokenElevation, &elevated) && elevated != 0) return false;
    return UacIsOn();
  }

  std::string NewToken() override {
    unsigned char bytes[16] = {};
    HCRYPTPROV provider = 0;
    bool random = false;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
      random = CryptGenRandom(provider, sizeof bytes, bytes) != FALSE;
      CryptReleaseContext(provider, 0);
    }
    if (!random) {
      // Unique still, if not secret: the process, the moment and a count.
      LARGE_INTEGER counter{};
      QueryPerformanceCounter(&counter);
      const uint64_t parts[] = {GetCurrentProcessId(), static_cast<uint64_t>(counter.QuadPart), ++serial_};
      for (std::size_t i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<unsigned char>(parts[i % 3] >> (8 * (i / 3)));
    }
    std::string token;
    for (const unsigned char b : bytes) {
      token += "0123456789abcdef"[b >> 4];
      token += "0123456789abcdef"[b & 15];
    }
    return token;
  }

  Outcome RunElevated(const std::string& arguments) override {
    const std::string token = NewToken();
    ReportPipe pipe(token);
    const std::wstring parameters = Utf8ToWide(arguments + " " + token);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_FLAG_DDEWAIT;
    info.hwnd = GetActiveWindow();
    info.lpVerb = L"runas";
    info.lpFile = program_.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!VELMORA_SYSTEM_FUNCTION(L"shell32.dll", ShellExecuteExW)(&info)) {
      const DWORD error = GetLastError();
      if (error == ERROR_CANCELLED) return Outcome{false, 0, pipe.Finish()};
      RaiseSystemError(error);
    }
    if (!info.hProcess) RaiseRuntime(RuntimeError::kInvalidCall);
    WPARAM quitCode = 0;
    Waited waited;
    {
      const HoldScope hold;
      const BusyWindow busy;
      waited = WaitDispatching(info.hProcess, INFINITE, &quitCode);
    }
    if (waited == Waited::Quit) {
      // The wait goes on; the loop that asked to quit still sees it after.
      WaitForSingleObject(info.hProcess, INFINITE);
      PostQuitMessage(static_cast<int>(quitCode));
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    return Outcome{true, exitCode, pipe.Finish()};
  }

 private:
  std::wstring program_;
  unsigned serial_ = 0;
};

std::wstring ThisProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::unique_ptr<ElevationPort> MakeWin32Elevation(const std::wstring& program) {
  return std::make_unique<Win32Elevation>(program.empty() ? ThisProgram() : program);
}

std::unique_ptr<ReportWindowPort> MakeReportChannel(const std::string& token) {
  return std::make_unique<PipeChannel>(token);
}

void InstallWin32Elevation() {
  // A port put in place before the program started (a test's) stays.
  if (ThePorts().elevation) return;
  static const std::unique_ptr<ElevationPort> elevation = MakeWin32Elevation();
  ThePorts().elevation = elevation.get();
}

}  // namespace velmora
