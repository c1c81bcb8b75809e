// The end-to-end tests' hands and eyes inside Wine: a console program run in
// the same prefix as Velmora.exe. It finds windows, reports their controls
// with the texts the controls themselves give out (WM_GETTEXT), clicks with
// the real input queue (SendInput), reads the clipboard and the registry.
//
//   driver <command> [args] [-- <command> [args]] ...
//   driver serve              the same requests from stdin (see Serve)
//   driver limited EXE        runs EXE with the limited half of the process's
//                             token, as a user's program runs under UAC, and
//                             ends with it (its exit code); EXE ends with this
//                             process too
//
// Commands (windows are given as hex handles, as printed):
//   wait TITLE CLASS MS       first visible top-level window with that title
//                             and class ("*": any), waited for up to MS ms
//   waitgone HWND MS          until the window is gone or hidden
//   waittext HWND TEXT MS     until a child control shows TEXT
//   windows                   every visible top-level window
//   controls HWND             the window's child controls, one a line
//   text HWND                 the window's text, as it is (no line end added)
//   client HWND               the client area on the screen: left top width height
//   check HWND                a check box's state: 0, 1 or 2
//   selected HWND             a drop-down list's chosen entry, or "<none>"
//   click HWND [X Y]          a left click at the window's centre, or at X,Y
//                             within it, through SendInput
//   keys HWND VK...           brings the window to the front and presses keys
//                             (hex virtual-key codes; "^" before one holds Ctrl)
//   type HWND TEXT            the same for a text, as Unicode key strokes
//   close HWND                asks the window to close (WM_CLOSE)
//   clipboard                 the clipboard's text, as it is
//   regset KEY NAME VALUE     a string value (KEY: HKCU\... or HKLM\...)
//   regdel KEY [NAME]         a value, or the whole key
//   regget KEY NAME           the value, or the line "<none>"
//   langid                    the user's default language id, in hex
//   sleep MS
//
// Output is UTF-8. A line of `windows`/`controls` reads
//   hwnd class id visible enabled left top right bottom "text"
// with the rectangle in screen pixels and the text's line breaks as \r \n.
// A command that fails prints its reason to stderr; the exit code is then 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

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

// Bytes to stdout as they are: a console's code page must not touch them.
void Out(const std::string& s) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

struct Failure {
  std::string why;
};

[[noreturn]] void Fail(const std::string& why) { throw Failure{why}; }

HWND HandleOf(const std::string& s) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 16);
  if (!end || *end) Fail("not a window handle: " + s);
  HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
  if (!IsWindow(h)) Fail("no such window: " + s);
  return h;
}

std::string Hex(HWND h) {
  char b[32];
  std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
  return b;
}

std::wstring ClassOf(HWND h) {
  wchar_t c[256] = {};
  GetClassNameW(h, c, 256);
  return c;
}

// The text a window gives out when asked, as another program would ask:
// standard controls of another process answer WM_GETTEXT through Wine.
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

std::string Quoted(const std::wstring& w) {
  std::string s = "\"";
  for (char c : Utf8(w)) {
    if (c == '\r') s += "\\r";
    else if (c == '\n') s += "\\n";
    else if (c == '\\') s += "\\\\";
    else if (c == '"') s += "\\\"";
    else s += c;
  }
  return s + "\"";
}

std::string Line(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  // Where the window sits in its top-level window's client area.
  POINT at{r.left, r.top};
  ScreenToClient(GetAncestor(h, GA_ROOT), &at);
  char b[200];
  std::snprintf(b, sizeof b, " %d %d %d %ld %ld %ld %ld %ld %ld ", static_cast<int>(GetDlgCtrlID(h)),
                IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0, r.left, r.top, r.right, r.bottom, at.x,
                at.y);
  return Hex(h) + " " + Utf8(ClassOf(h)) + b + Quoted(TextOf(h)) + "\n";
}

BOOL CALLBACK Collect(HWND h, LPARAM into) {
  reinterpret_cast<std::vector<HWND>*>(into)->push_back(h);
  return TRUE;
}

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

int Millis(const std::string& s) { return std::atoi(s.c_str()); }

void Wait(const std::vector<std::string>& a) {
  if (a.size() != 3) Fail("wait TITLE CLASS MS");
  const std::wstring title = Wide(a[0]), cls = Wide(a[1]);
  const DWORD until = GetTickCount() + static_cast<DWORD>(Millis(a[2]));
  do {
    for (HWND h : TopLevel()) {
      if (!IsWindowVisible(h)) continue;
      wchar_t t[512] = {};
      GetWindowTextW(h, t, 512);
      if (title != t) continue;
      if (cls != L"*" && cls != ClassOf(h)) continue;
      Out(Hex(h) + "\n");
      return;
    }
    Sleep(50);
  } while (static_cast<int>(until - GetTickCount()) > 0);
  Fail("no window \"" + a[0] + "\" of class " + a[1]);
}

void WaitGone(const std::vector<std::string>& a) {
  if (a.size() != 2) Fail("waitgone HWND MS");
  char* end = nullptr;
  HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(a[0].c_str(), &end, 16)));
  const DWORD until = GetTickCount() + static_cast<DWORD>(Millis(a[1]));
  do {
    if (!IsWindow(h) || !IsWindowVisible(h)) return;
    Sleep(50);
  } while (static_cast<int>(until - GetTickCount()) > 0);
  Fail("window " + a[0] + " is still there");
}

void WaitText(const std::vector<std::string>& a) {
  if (a.size() != 3) Fail("waittext HWND TEXT MS");
  HWND h = HandleOf(a[0]);
  const std::wstring want = Wide(a[1]);
  const DWORD until = GetTickCount() + static_cast<DWORD>(Millis(a[2]));
  do {
    for (HWND c : Children(h))
      if (IsWindowVisible(c) && TextOf(c) == want) {
        Out(Hex(c) + "\n");
        return;
      }
    Sleep(50);
  } while (static_cast<int>(until - GetTickCount()) > 0);
  Fail("no control shows \"" + a[1] + "\"");
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

void Click(const std::vector<std::string>& a) {
  if (a.size() != 1 && a.size() != 3) Fail("click HWND [X Y]");
  HWND h = HandleOf(a[0]);
  if (!IsWindowVisible(h)) Fail("window " + a[0] + " is hidden");
  if (!IsWindowEnabled(h)) Fail("window " + a[0] + " is disabled");
  RECT r{};
  GetWindowRect(h, &r);
  const int x = a.size() == 3 ? r.left + std::atoi(a[1].c_str()) : (r.left + r.right) / 2;
  const int y = a.size() == 3 ? r.top + std::atoi(a[2].c_str()) : (r.top + r.bottom) / 2;
  // The window must be the one under the point, or the click lands elsewhere.
  POINT p{x, y};
  HWND under = WindowFromPoint(p);
  if (under != h && !IsChild(h, under)) Fail("window " + a[0] + " is covered at its centre by " + Line(under));
  SendMouse(MOUSEEVENTF_MOVE, x, y);
  Sleep(60);
  SendMouse(MOUSEEVENTF_LEFTDOWN, x, y);
  Sleep(60);
  SendMouse(MOUSEEVENTF_LEFTUP, x, y);
  Sleep(60);
}

void ToFront(HWND h) {
  HWND top = GetAncestor(h, GA_ROOT);
  SetForegroundWindow(top);
  const DWORD until = GetTickCount() + 2000;
  while (GetForegroundWindow() != top && static_cast<int>(until - GetTickCount()) > 0) Sleep(20);
  if (GetForegroundWindow() != top) Fail("window " + Hex(top) + " does not come to the front");
}

void Key(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
  Sleep(30);
}

void Keys(const std::vector<std::string>& a) {
  if (a.empty()) Fail("keys HWND VK...");
  ToFront(HandleOf(a[0]));
  for (std::size_t i = 1; i < a.size(); ++i) {
    const bool ctrl = a[i][0] == '^';
    const WORD vk = static_cast<WORD>(std::strtoul(a[i].c_str() + (ctrl ? 1 : 0), nullptr, 16));
    if (ctrl) Key(VK_CONTROL, false);
    Key(vk, false);
    Key(vk, true);
    if (ctrl) Key(VK_CONTROL, true);
  }
  Sleep(100);
}

void Type(const std::vector<std::string>& a) {
  if (a.size() != 2) Fail("type HWND TEXT");
  ToFront(HandleOf(a[0]));
  for (wchar_t c : Wide(a[1])) {
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

void Clipboard() {
  bool open = false;
  for (int i = 0; i < 50 && !open; ++i) {
    open = OpenClipboard(nullptr) != FALSE;
    if (!open) Sleep(20);
  }
  if (!open) Fail("the clipboard cannot be opened");
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  std::wstring text;
  if (data) {
    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  if (!data) Fail("no text on the clipboard");
  Out(Utf8(text));
}

HKEY Root(const std::string& key, std::string* rest) {
  const std::size_t slash = key.find('\\');
  const std::string root = key.substr(0, slash);
  *rest = slash == std::string::npos ? std::string() : key.substr(slash + 1);
  if (root == "HKCU" || root == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  Fail("unknown registry root in " + key);
}

void RegSet(const std::vector<std::string>& a) {
  if (a.size() != 3) Fail("regset KEY NAME VALUE");
  std::string path;
  HKEY root = Root(a[0], &path);
  HKEY key;
  if (RegCreateKeyExW(root, Wide(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr))
    Fail("cannot create " + a[0]);
  const std::wstring value = Wide(a[2]);
  const LONG rc = RegSetValueExW(key, a[1].empty() ? nullptr : Wide(a[1]).c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  if (rc) Fail("cannot write " + a[0] + " " + a[1]);
}

void RegDel(const std::vector<std::string>& a) {
  if (a.size() != 1 && a.size() != 2) Fail("regdel KEY [NAME]");
  std::string path;
  HKEY root = Root(a[0], &path);
  if (a.size() == 1) {
    const LONG rc = RegDeleteTreeW(root, Wide(path).c_str());
    if (rc && rc != ERROR_FILE_NOT_FOUND) Fail("cannot delete " + a[0]);
    return;
  }
  HKEY key;
  if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_SET_VALUE, &key)) return;
  RegDeleteValueW(key, Wide(a[1]).c_str());
  RegCloseKey(key);
}

void RegGet(const std::vector<std::string>& a) {
  if (a.size() != 2) Fail("regget KEY NAME");
  std::string path;
  HKEY root = Root(a[0], &path);
  wchar_t value[4096] = {};
  DWORD size = sizeof value - sizeof(wchar_t), type = 0;
  const LONG rc = RegGetValueW(root, Wide(path).c_str(), a[1].empty() ? nullptr : Wide(a[1]).c_str(),
                               RRF_RT_REG_SZ, &type, value, &size);
  Out(rc ? std::string("<none>\n") : Utf8(value) + "\n");
}

void Run(const std::string& cmd, const std::vector<std::string>& a) {
  if (cmd == "wait") Wait(a);
  else if (cmd == "waitgone") WaitGone(a);
  else if (cmd == "waittext") WaitText(a);
  else if (cmd == "windows") {
    for (HWND h : TopLevel())
      if (IsWindowVisible(h)) Out(Line(h));
  } else if (cmd == "controls") {
    if (a.size() != 1) Fail("controls HWND");
    for (HWND h : Children(HandleOf(a[0]))) Out(Line(h));
  } else if (cmd == "text") {
    if (a.size() != 1) Fail("text HWND");
    Out(Utf8(TextOf(HandleOf(a[0]))));
  } else if (cmd == "client") {
    if (a.size() != 1) Fail("client HWND");
    HWND h = HandleOf(a[0]);
    RECT r{};
    GetClientRect(h, &r);
    POINT p{0, 0};
    ClientToScreen(h, &p);
    char b[80];
    std::snprintf(b, sizeof b, "%ld %ld %ld %ld\n", p.x, p.y, r.right, r.bottom);
    Out(b);
  } else if (cmd == "check") {
    if (a.size() != 1) Fail("check HWND");
    Out(std::to_string(SendMessageW(HandleOf(a[0]), BM_GETCHECK, 0, 0)) + "\n");
  } else if (cmd == "selected") {
    if (a.size() != 1) Fail("selected HWND");
    HWND h = HandleOf(a[0]);
    const LRESULT at = SendMessageW(h, CB_GETCURSEL, 0, 0);
    if (at < 0) {
      Out("<none>\n");
    } else {
      std::wstring t(static_cast<std::size_t>(SendMessageW(h, CB_GETLBTEXTLEN, at, 0)) + 1, L'\0');
      t.resize(static_cast<std::size_t>(SendMessageW(h, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(t.data()))));
      Out(Utf8(t) + "\n");
    }
  } else if (cmd == "click") Click(a);
  else if (cmd == "keys") Keys(a);
  else if (cmd == "type") Type(a);
  else if (cmd == "close") {
    if (a.size() != 1) Fail("close HWND");
    PostMessageW(HandleOf(a[0]), WM_CLOSE, 0, 0);
  } else if (cmd == "clipboard") Clipboard();
  else if (cmd == "regset") RegSet(a);
  else if (cmd == "regdel") RegDel(a);
  else if (cmd == "regget") RegGet(a);
  else if (cmd == "langid") {
    char b[16];
    std::snprintf(b, sizeof b, "%04x\n", GetUserDefaultLangID());
    Out(b);
  } else if (cmd == "sleep") {
    if (a.size() != 1) Fail("sleep MS");
    Sleep(static_cast<DWORD>(Millis(a[0])));
  } else {
    Fail("unknown command " + cmd);
  }
}

// Runs the commands of one request, "--" between them.
void RunAll(const std::vector<std::string>& words) {
  std::size_t at = 0;
  while (at < words.size()) {
    std::size_t end = at;
    while (end < words.size() && words[end] != "--") ++end;
    if (end > at) Run(words[at], std::vector<std::string>(words.begin() + at + 1, words.begin() + end));
    at = end + 1;
  }
}

// Requests on stdin, one a line, words separated by tabs; each answer is the
// commands' output, then the byte 0x1E and the exit code on a line of its
// own ("1 reason" on a failure). Ends at "quit" or at the end of the input.
// A Wine process costs a few hundred milliseconds to start; this one is
// started once per run.
int Serve() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  for (;;) {
    std::size_t newline;
    while ((newline = pending.find('\n')) == std::string::npos) {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr) || got == 0) return 0;
      pending.append(buffer, got);
    }
    std::string line = pending.substr(0, newline);
    pending.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") return 0;
    std::vector<std::string> words;
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      words.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    try {
      RunAll(words);
      Out("\x1e" "0\n");
    } catch (const Failure& f) {
      Out("\x1e" "1 " + f.why + "\n");
    }
  }
}

}  // namespace

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

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.push_back(Utf8(argv[i]));
  if (words.size() == 1 && words[0] == "serve") return Serve();
  if (words.size() == 2 && words[0] == "limited") return RunLimited(argv[2]);
  try {
    RunAll(words);
  } catch (const Failure& f) {
    DWORD written = 0;
    const std::string line = "driver: " + f.why + "\n";
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return 1;
  }
  return 0;
}
