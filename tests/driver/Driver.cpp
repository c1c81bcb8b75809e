#include "Driver.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>

namespace velmora::driver {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// ------------------------------------------------------------------ windows

std::wstring ClassOf(HWND h) {
  wchar_t c[256] = {};
  const int n = GetClassNameW(h, c, 256);
  return std::wstring(c, n > 0 ? n : 0);
}

// Standard controls of another process answer WM_GETTEXT through the system;
// a program that hangs must not hang its test.
std::wstring TextOf(HWND h) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::wstring t(length + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, t.size(), reinterpret_cast<LPARAM>(t.data()), SMTO_ABORTIFHUNG, 5000, &got))
    return {};
  t.resize(got);
  return t;
}

DWORD ProcessOf(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return pid;
}

namespace {

BOOL CALLBACK Collect(HWND h, LPARAM into) {
  reinterpret_cast<std::vector<HWND>*>(into)->push_back(h);
  return TRUE;
}

void SendMouse(DWORD flags, int x, int y) {
  // Absolute coordinates are in 1/65536 of the primary screen.
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = static_cast<LONG>((x * 65536LL + w / 2) / w);
  in.mi.dy = static_cast<LONG>((y * 65536LL + h / 2) / h);
  in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &in, sizeof in);
}

void SendKey(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
  Sleep(30);
}

std::string Hex(HWND h) {
  char b[32];
  std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
  return b;
}

void ToFront(HWND h) {
  HWND top = GetAncestor(h, GA_ROOT);
  SetForegroundWindow(top);
  const DWORD until = GetTickCount() + 2000;
  while (GetForegroundWindow() != top && static_cast<int>(until - GetTickCount()) > 0) Sleep(20);
  if (GetForegroundWindow() != top) throw Failure{"window " + Hex(top) + " does not come to the front"};
}

}  // namespace

std::vector<HWND> TopLevel() {
  std::vector<HWND> all;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Descendants(HWND parent, const std::wstring& cls) {
  std::vector<HWND> found;
  for (HWND h : Children(parent))
    if (ClassOf(h) == cls) found.push_back(h);
  return found;
}

HWND TopWindow(DWORD pid, const std::wstring& title, const std::wstring& cls) {
  for (HWND h : TopLevel()) {
    if (!IsWindowVisible(h) || (pid && ProcessOf(h) != pid)) continue;
    // A top-level window's title is read without a message: another
    // process's window that hangs does not hold up the search.
    wchar_t t[512] = {};
    GetWindowTextW(h, t, 512);
    if (title != t || (!cls.empty() && cls != ClassOf(h))) continue;
    return h;
  }
  return nullptr;
}

HWND DialogWith(DWORD pid, const std::wstring& text) {
  for (HWND h : TopLevel()) {
    if (ProcessOf(h) != pid || !IsWindowVisible(h) || ClassOf(h) != L"#32770") continue;
    for (HWND c : Children(h))
      if (TextOf(c) == text) return h;
  }
  return nullptr;
}

bool WaitGone(HWND h, DWORD ms) {
  return WaitFor([&]() -> HWND { return IsWindow(h) && IsWindowVisible(h) ? nullptr : GetDesktopWindow(); }, ms) !=
         nullptr;
}

// ------------------------------------------------------------------ input

void Click(HWND h, std::optional<POINT> at) {
  if (!IsWindowVisible(h)) throw Failure{"window " + Hex(h) + " is hidden"};
  if (!IsWindowEnabled(h)) throw Failure{"window " + Hex(h) + " is disabled"};
  RECT r{};
  GetWindowRect(h, &r);
  const int x = at ? r.left + at->x : (r.left + r.right) / 2;
  const int y = at ? r.top + at->y : (r.top + r.bottom) / 2;
  // The window must be the one under the point, or the click lands elsewhere.
  HWND under = WindowFromPoint(POINT{x, y});
  if (under != h && !IsChild(h, under))
    throw Failure{"window " + Hex(h) + " is covered at its centre by " + Hex(under) + " " + Utf8(ClassOf(under)) +
                  " \"" + Utf8(TextOf(under)) + "\""};
  SendMouse(MOUSEEVENTF_MOVE, x, y);
  Sleep(60);
  SendMouse(MOUSEEVENTF_LEFTDOWN, x, y);
  Sleep(60);
  SendMouse(MOUSEEVENTF_LEFTUP, x, y);
  Sleep(60);
}

void PostClick(HWND h) {
  RECT r;
  GetClientRect(h, &r);
  const LPARAM middle = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, middle);
  PostMessageW(h, WM_LBUTTONUP, 0, middle);
}

void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKeys(HWND h, const std::vector<Key>& keys) {
  ToFront(h);
  for (const Key& k : keys) {
    if (k.ctrl) SendKey(VK_CONTROL, false);
    if (k.shift) SendKey(VK_SHIFT, false);
    SendKey(k.vk, false);
    SendKey(k.vk, true);
    if (k.shift) SendKey(VK_SHIFT, true);
    if (k.ctrl) SendKey(VK_CONTROL, true);
  }
  Sleep(100);
}

void TypeText(HWND h, const std::wstring& text) {
  ToFront(h);
  for (wchar_t c : text) {
    INPUT in[2]{};
    for (INPUT& i : in) {
      i.type = INPUT_KEYBOARD;
      i.ki.wScan = c;
      i.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof in[0]);
    Sleep(5);
  }
  Sleep(100);
}

// ------------------------------------------------------------------ the system

std::optional<std::wstring> ClipboardText() {
  bool open = false;
  for (int i = 0; i < 50 && !open; ++i) {
    open = OpenClipboard(nullptr) != FALSE;
    if (!open) Sleep(20);
  }
  if (!open) throw Failure{"the clipboard cannot be opened"};
  std::optional<std::wstring> text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text.emplace();
    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      *text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

HKEY RootOf(const std::string& key, std::wstring* rest) {
  const std::size_t slash = key.find('\\');
  const std::string root = key.substr(0, slash);
  *rest = slash == std::string::npos ? std::wstring() : Wide(key.substr(slash + 1));
  if (root == "HKCU" || root == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  throw Failure{"unknown registry root in " + key};
}

LONG SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  HKEY k;
  LONG rc = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(k, name.empty() ? nullptr : name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return rc;
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  HKEY k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
  RegDeleteValueW(k, name.c_str());
  RegCloseKey(k);
}

LONG DeleteKey(HKEY root, const std::wstring& key) {
  // SHDeleteKey: the whole tree, on every Windows the tests meet.
  const LONG rc = static_cast<LONG>(SHDeleteKeyW(root, key.c_str()));
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

std::optional<std::wstring> GetValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  HKEY k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return std::nullopt;
  std::vector<BYTE> data(8192);
  DWORD type = 0, size = static_cast<DWORD>(data.size() - sizeof(wchar_t));
  const LONG rc = RegQueryValueExW(k, name.empty() ? nullptr : name.c_str(), nullptr, &type, data.data(), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD v;
    memcpy(&v, data.data(), sizeof v);
    return std::to_wstring(v);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  // The stored string need not end in its terminator.
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) throw Failure{"no shell folder " + std::to_string(csidl)};
  return path;
}

// Wine starts a process from Unix with an administrator's full token, which
// has a limited twin linked to it.
int RunLimited(const std::wstring& exe) {
  HANDLE own = nullptr, limited = nullptr;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) ||
      !GetTokenInformation(own, TokenLinkedToken, &limited, sizeof limited, &size))
    return 125;
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring command = L"\"" + exe + L"\"";
  if (!CreateProcessAsUserW(limited, exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
    return 126;
  if (job) AssignProcessToJobObject(job, pi.hProcess);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}

}  // namespace velmora::driver
