// The elevation port over the token, a probe file and the shell's "runas".
#include <windows.h>
#include <shellapi.h>

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

  Outcome RunElevated(const std::string& arguments) override {
    const std::wstring parameters = Utf8ToWide(arguments);
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
      if (error == ERROR_CANCELLED) return Outcome{};
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
    return Outcome{true, exitCode};
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

void InstallWin32Elevation() {
  // A port put in place before the program started (a test's) stays.
  if (ThePorts().elevation) return;
  static const std::unique_ptr<ElevationPort> elevation = MakeWin32Elevation();
  ThePorts().elevation = elevation.get();
}

}  // namespace velmora
