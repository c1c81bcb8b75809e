#include "platform/win32/Win32Ports.h"

#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"

namespace velmora {

std::string WideToUtf8(const wchar_t* text, int length) {
  if (length == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  // Without the flag, XP drops a byte that is not UTF-8 where later systems
  // put U+FFFD: a path checked as ".\xC0." would reach the system as "..".
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) RaiseSystemError(GetLastError());
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

namespace {

class Win32CodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) override {
    const std::wstring wide = Utf8ToWide(utf8);
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
  }
  std::string FromAnsi(const std::string& ansi) override {
    if (ansi.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
    return WideToUtf8(wide.data(), n);
  }
};

// Releases a COM interface pointer when it goes out of scope.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() {
    if (p_) p_->Release();
  }
  T** Put() { return &p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Keeps COM initialised on this thread for the lifetime of the object, if it
// was not already.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

std::string LocaleText(LCTYPE type, const char* fallback) {
  wchar_t buf[16] = {};
  const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 16);
  if (n <= 1) return fallback;
  return WideToUtf8(buf, n - 1);
}

std::wstring ModulePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::wstring(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

bool withoutComFacts = false;

class Win32SystemFacts : public SystemFacts {
 public:
  std::string ComputerName() override {
    char buf[255];
    DWORD size = sizeof buf;
    if (!GetComputerNameA(buf, &size)) return {};
    return Ansi().FromAnsi(std::string(buf, size));
  }

  std::string SystemErrorText(int32_t code) override {
    char buf[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, buf, sizeof buf, nullptr);
    return Ansi().FromAnsi(std::string(buf, n));
  }

  std::string AdoVersion() override {
    if (withoutComFacts) RaiseRuntime(RuntimeError::kCantCreateObject);
    ComScope com;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"ADODB.Connection", &clsid))) RaiseRuntime(RuntimeError::kCantCreateObject);
    ComPtr<IDispatch> connection;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(connection.Put()))))
      RaiseRuntime(RuntimeError::kCantCreateObject);
    wchar_t name[] = L"Version";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    if (FAILED(connection->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
      RaiseRuntime(RuntimeError::kNoSuchMember);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = connection->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                          &result, nullptr, nullptr);
    if (FAILED(hr) || FAILED(VariantChangeType(&result, &result, 0, VT_BSTR))) {
      VariantClear(&result);
      RaiseRuntime(RuntimeError::kNoSuchMember);
    }
    std::string text = WideToUtf8(result.bstrVal, static_cast<int>(SysStringLen(result.bstrVal)));
    VariantClear(&result);
    return text;
  }

  std::string ExeName() override {
    std::wstring path = ModulePath();
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos) path.erase(0, slash + 1);
    const std::size_t dot = path.rfind(L'.');
    if (dot != std::wstring::npos) path.erase(dot);
    return WideToUtf8(path.data(), static_cast<int>(path.size()));
  }

  VersionNumbers AppVersion() override {
    const std::wstring path = ModulePath();
    DWORD ignored = 0;
    const DWORD size = VELMORA_SYSTEM_FUNCTION(L"version.dll", GetFileVersionInfoSizeW)(path.c_str(), &ignored);
    if (size == 0) RaiseSystemError(GetLastError());
    std::vector<BYTE> data(size);
    if (!VELMORA_SYSTEM_FUNCTION(L"version.dll", GetFileVersionInfoW)(path.c_str(), 0, size, data.data()))
      RaiseSystemError(GetLastError());
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VELMORA_SYSTEM_FUNCTION(L"version.dll", VerQueryValueW)(data.data(), L"\\", reinterpret_cast<void**>(&info),
                                                                 &infoSize) ||
        !info)
      RaiseRuntime(RuntimeError::kInvalidCall);
    // The file version is major.minor.0.revision.
    return {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionLS)};
  }

  LocalTime Now() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  }

  std::string DateSeparator() override { return LocaleText(LOCALE_SDATE, "/"); }
  std::string TimeSeparator() override { return LocaleText(LOCALE_STIME, ":"); }
  std::string DecimalSeparator() override { return LocaleText(LOCALE_SDECIMAL, "."); }
  uint16_t UserDefaultLangId() override { return GetUserDefaultLangID(); }

  std::string ProgramFolder() override {
    std::wstring path = ModulePath();
    const std::size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash);
    return WideToUtf8(path.data(), static_cast<int>(path.size()));
  }

  std::string TempFolder() override {
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) RaiseSystemError(GetLastError());
    return WideToUtf8(buf, static_cast<int>(n));
  }

  bool RunsElevated() override {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    // TokenElevation (20) is known from Vista on; XP refuses the class with
    // ERROR_INVALID_PARAMETER.
    DWORD elevated = 0, size = 0;
    const BOOL known = GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(20), &elevated,
                                           sizeof elevated, &size);
    const DWORD error = known ? 0 : GetLastError();
    CloseHandle(token);
    if (known) return elevated != 0;
    if (error != ERROR_INVALID_PARAMETER) return true;
    // Without UAC an administrator's token carries all its rights at once.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
      return true;
    BOOL member = FALSE;
    const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
    FreeSid(administrators);
    return !checked || member;
  }

  std::string LocalAppDataFolder() override {
    wchar_t buf[MAX_PATH] = {};
    const HRESULT hr = VELMORA_SYSTEM_FUNCTION(L"shell32.dll", SHGetFolderPathW)(
        nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buf);
    if (FAILED(hr)) RaiseSystemError(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_PATH_NOT_FOUND);
    std::string folder = WideToUtf8(buf, static_cast<int>(wcslen(buf)));
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder;
  }
};

HKEY AsHkey(RegistryPort::Key key) { return reinterpret_cast<HKEY>(key); }

class Win32Registry : public RegistryPort {
 public:
  int32_t OpenKey(Key root, const std::string& subKey, uint32_t options, uint32_t access, Key* result) override {
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(AsHkey(root), subKey.c_str(), options, access, &key);
    *result = reinterpret_cast<Key>(key);
    return rc;
  }
  int32_t QueryValue(Key key, const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    DWORD t = 0, s = *size;
    const LONG rc = RegQueryValueExA(AsHkey(key), name.c_str(), nullptr, &t, data, &s);
    *type = t;
    *size = s;
    return rc;
  }
  int32_t CreateKey(Key root, const std::string& subKey, uint32_t options, uint32_t access, Key* result) override {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExA(AsHkey(root), subKey.c_str(), 0, nullptr, options, access, nullptr, &key,
                                    nullptr);
    *result = reinterpret_cast<Key>(key);
    return rc;
  }
  int32_t SetValue(Key key, const std::string& name, uint32_t type, const uint8_t* data, uint32_t size) override {
    return RegSetValueExA(AsHkey(key), name.c_str(), 0, type, data, size);
  }
  int32_t CloseKey(Key key) override { return RegCloseKey(AsHkey(key)); }
};

class Win32MessageBox : public MessageBoxPort {
  static_assert(kOk == MB_OK && kOkExclamation == (MB_OK | MB_ICONEXCLAMATION) &&
                kOkInformation == (MB_OK | MB_ICONINFORMATION) && kYesNo == MB_YESNO &&
                kYesNoQuestion == (MB_YESNO | MB_ICONQUESTION));
  static_assert(kAnswerOk == IDOK && kAnswerCancel == IDCANCEL && kAnswerYes == IDYES && kAnswerNo == IDNO);

 public:
  int Show(const std::string& text, const std::string& title, uint32_t style) override {
    // The active window is the one whose command asks; the box disables it
    // while it is open, as every modal window of the program does.
    HWND owner = GetActiveWindow();
    const std::wstring wideText = Utf8ToWide(text), wideTitle = Utf8ToWide(title);
    if (style == kYesNoElevate) {
      if (const int answer = AskToElevate(owner, wideText, wideTitle)) return answer;
      style = kYesNoQuestion;
    }
    return MessageBoxW(owner, wideText.c_str(), wideTitle.c_str(), style);
  }
};

}  // namespace

FARPROC SystemFunctionIfAny(const wchar_t* dll, const char* name) {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  // From the system folder only: never a DLL of that name elsewhere. The
  // DLL's own dependencies are then looked for there too, not beside the
  // program.
  const std::wstring path = std::wstring(folder, n) + L"\\" + dll;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module ? GetProcAddress(module, name) : nullptr;
}

FARPROC SystemFunction(const wchar_t* dll, const char* name) {
  SetLastError(ERROR_SUCCESS);
  FARPROC function = SystemFunctionIfAny(dll, name);
  if (!function) RaiseSystemError(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_PROC_NOT_FOUND);
  return function;
}

void LoadDllsFromSystemFolder() {
  // Windows 8 and later, and Vista and 7 with their update of 2011 (KB2533623),
  // can keep every DLL loaded by name in the system folder. XP cannot;
  // there the program loads its DLLs by full path, and SetDllDirectoryW
  // takes the current folder out of the search that remains.
  if (const auto onlySystem = VELMORA_SYSTEM_FUNCTION_IF_ANY(L"kernel32.dll", SetDefaultDllDirectories))
    onlySystem(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void ReportWithoutComFacts() { withoutComFacts = true; }

void InstallWin32Ports() {
  static Win32SystemFacts facts;
  static Win32CodePage codePage;
  static Win32Registry registry;
  static Win32MessageBox messageBox;
  Ports& ports = ThePorts();
  ports.facts = &facts;
  ports.codePage = &codePage;
  ports.registry = &registry;
  ports.messageBox = &messageBox;
  ports.files = &Win32FileSystem();
}

}  // namespace velmora
