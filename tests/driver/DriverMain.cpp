// The driver as a console program, for the shell scripts (the end-to-end
// flows, the package check, the demo): run in the same Wine prefix as
// Velmora.exe, it does one step of the tests' hands and eyes per command.
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
//   windows [HWND]            every visible top-level window, or those of
//                             HWND's process but HWND
//   controls HWND             the window's child controls, one a line
//   text HWND                 the window's text, as it is (no line end added)
//   client HWND               the client area on the screen: left top width height
//   check HWND                a check box's state: 0, 1 or 2
//   selected HWND             a drop-down list's chosen entry, or "<none>"
//   picture HWND              whether a button shows a picture beside its
//                             text (BM_SETIMAGE): 1 or 0
//   click HWND [X Y]          a left click at the window's centre, or at X,Y
//                             within it, through SendInput
//   keys HWND VK...           brings the window to the front and presses keys
//                             (hex virtual-key codes; "^" before one holds
//                             Ctrl, "+" holds Shift: "^+45" is Ctrl+Shift+E)
//   type HWND TEXT            the same for a text, as Unicode key strokes
//   close HWND                asks the window to close (WM_CLOSE)
//   clipboard                 the clipboard's text, as it is
//   regset KEY NAME VALUE     a string value (KEY: HKCU\... or HKLM\...)
//   regdel KEY [NAME]         a value, or the whole key
//   regget KEY NAME           the value (a DWORD in decimal), or the line "<none>"
//   folder NAME               a shell folder: local-appdata or programs
//   langid                    the user's default language id, in hex
//   sleep MS
//
// Output is UTF-8. A line of `windows`/`controls` reads
//   hwnd class id visible enabled left top right bottom x y "text"
// with the rectangle in screen pixels, x y the place in its top-level
// window's client area, and the text's line breaks as \r \n.
// A command that fails prints its reason to stderr; the exit code is then 1.
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Driver.h"

namespace {

using namespace velmora::driver;

// Bytes to stdout as they are: a console's code page must not touch them.
void Out(const std::string& s) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

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

DWORD Millis(const std::string& s) { return static_cast<DWORD>(std::atoi(s.c_str())); }

void Need(const std::vector<std::string>& a, std::size_t from, std::size_t to, const char* usage) {
  if (a.size() < from || a.size() > to) Fail(usage);
}

void Wait(const std::vector<std::string>& a) {
  Need(a, 3, 3, "wait TITLE CLASS MS");
  const std::wstring title = Wide(a[0]), cls = a[1] == "*" ? std::wstring() : Wide(a[1]);
  HWND h = WaitFor([&] { return TopWindow(0, title, cls); }, Millis(a[2]));
  if (!h) Fail("no window \"" + a[0] + "\" of class " + a[1]);
  Out(Hex(h) + "\n");
}

void WaitGoneCommand(const std::vector<std::string>& a) {
  Need(a, 2, 2, "waitgone HWND MS");
  // A handle that is no window any more is gone already.
  HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(a[0].c_str(), nullptr, 16)));
  if (!WaitGone(h, Millis(a[1]))) Fail("window " + a[0] + " is still there");
}

void WaitText(const std::vector<std::string>& a) {
  Need(a, 3, 3, "waittext HWND TEXT MS");
  HWND parent = HandleOf(a[0]);
  const std::wstring want = Wide(a[1]);
  HWND h = WaitFor(
      [&]() -> HWND {
        for (HWND c : Children(parent))
          if (IsWindowVisible(c) && TextOf(c) == want) return c;
        return nullptr;
      },
      Millis(a[2]));
  if (!h) Fail("no control shows \"" + a[1] + "\"");
  Out(Hex(h) + "\n");
}

void Windows(const std::vector<std::string>& a) {
  Need(a, 0, 1, "windows [HWND]");
  HWND of = a.empty() ? nullptr : HandleOf(a[0]);
  for (HWND h : TopLevel())
    if (IsWindowVisible(h) && (!of || (h != of && ProcessOf(h) == ProcessOf(of)))) Out(Line(h));
}

void Keys(const std::vector<std::string>& a) {
  Need(a, 1, 1000, "keys HWND VK...");
  std::vector<Key> keys;
  for (std::size_t i = 1; i < a.size(); ++i) {
    Key k{};
    std::size_t at = 0;
    for (; at < a[i].size() && (a[i][at] == '^' || a[i][at] == '+'); ++at) (a[i][at] == '^' ? k.ctrl : k.shift) = true;
    k.vk = static_cast<WORD>(std::strtoul(a[i].c_str() + at, nullptr, 16));
    keys.push_back(k);
  }
  PressKeys(HandleOf(a[0]), keys);
}

void RegSet(const std::vector<std::string>& a) {
  Need(a, 3, 3, "regset KEY NAME VALUE");
  std::wstring path;
  HKEY root = RootOf(a[0], &path);
  if (SetString(root, path, Wide(a[1]), Wide(a[2])) != ERROR_SUCCESS) Fail("cannot write " + a[0] + " " + a[1]);
}

void RegDel(const std::vector<std::string>& a) {
  Need(a, 1, 2, "regdel KEY [NAME]");
  std::wstring path;
  HKEY root = RootOf(a[0], &path);
  if (a.size() == 2) DeleteValue(root, path, Wide(a[1]));
  else if (DeleteKey(root, path) != ERROR_SUCCESS) Fail("cannot delete " + a[0]);
}

void RegGet(const std::vector<std::string>& a) {
  Need(a, 2, 2, "regget KEY NAME");
  std::wstring path;
  HKEY root = RootOf(a[0], &path);
  const auto value = GetValue(root, path, Wide(a[1]));
  Out(value ? Utf8(*value) + "\n" : std::string("<none>\n"));
}

void Run(const std::string& cmd, const std::vector<std::string>& a) {
  if (cmd == "wait") Wait(a);
  else if (cmd == "waitgone") WaitGoneCommand(a);
  else if (cmd == "waittext") WaitText(a);
  else if (cmd == "windows") Windows(a);
  else if (cmd == "controls") {
    Need(a, 1, 1, "controls HWND");
    for (HWND h : Children(HandleOf(a[0]))) Out(Line(h));
  } else if (cmd == "text") {
    Need(a, 1, 1, "text HWND");
    Out(Utf8(TextOf(HandleOf(a[0]))));
  } else if (cmd == "client") {
    Need(a, 1, 1, "client HWND");
    HWND h = HandleOf(a[0]);
    RECT r{};
    GetClientRect(h, &r);
    POINT p{0, 0};
    ClientToScreen(h, &p);
    char b[80];
    std::snprintf(b, sizeof b, "%ld %ld %ld %ld\n", p.x, p.y, r.right, r.bottom);
    Out(b);
  } else if (cmd == "check") {
    Need(a, 1, 1, "check HWND");
    Out(std::to_string(SendMessageW(HandleOf(a[0]), BM_GETCHECK, 0, 0)) + "\n");
  } else if (cmd == "selected") {
    Need(a, 1, 1, "selected HWND");
    HWND h = HandleOf(a[0]);
    const LRESULT at = SendMessageW(h, CB_GETCURSEL, 0, 0);
    if (at < 0) {
      Out("<none>\n");
    } else {
      std::wstring t(static_cast<std::size_t>(SendMessageW(h, CB_GETLBTEXTLEN, at, 0)) + 1, L'\0');
      t.resize(static_cast<std::size_t>(SendMessageW(h, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(t.data()))));
      Out(Utf8(t) + "\n");
    }
  } else if (cmd == "picture") {
    Need(a, 1, 1, "picture HWND");
    HWND h = HandleOf(a[0]);
    bool shown = false;
    for (WPARAM type : {IMAGE_ICON, IMAGE_BITMAP}) {
      DWORD_PTR image = 0;
      if (SendMessageTimeoutW(h, BM_GETIMAGE, type, 0, SMTO_ABORTIFHUNG, 5000, &image) && image) shown = true;
    }
    Out(shown ? "1\n" : "0\n");
  } else if (cmd == "click") {
    if (a.size() != 1 && a.size() != 3) Fail("click HWND [X Y]");
    std::optional<POINT> at;
    if (a.size() == 3) at = POINT{std::atoi(a[1].c_str()), std::atoi(a[2].c_str())};
    Click(HandleOf(a[0]), at);
  } else if (cmd == "keys") Keys(a);
  else if (cmd == "type") {
    Need(a, 2, 2, "type HWND TEXT");
    TypeText(HandleOf(a[0]), Wide(a[1]));
  } else if (cmd == "close") {
    Need(a, 1, 1, "close HWND");
    PostMessageW(HandleOf(a[0]), WM_CLOSE, 0, 0);
  } else if (cmd == "clipboard") {
    const auto text = ClipboardText();
    if (!text) Fail("no text on the clipboard");
    Out(Utf8(*text));
  } else if (cmd == "regset") RegSet(a);
  else if (cmd == "regdel") RegDel(a);
  else if (cmd == "regget") RegGet(a);
  else if (cmd == "folder") {
    Need(a, 1, 1, "folder local-appdata|programs");
    if (a[0] == "local-appdata") Out(Utf8(ShellFolder(CSIDL_LOCAL_APPDATA)) + "\n");
    else if (a[0] == "programs") Out(Utf8(ShellFolder(CSIDL_PROGRAMS)) + "\n");
    else Fail("no folder " + a[0]);
  } else if (cmd == "langid") {
    char b[16];
    std::snprintf(b, sizeof b, "%04x\n", GetUserDefaultLangID());
    Out(b);
  } else if (cmd == "sleep") {
    Need(a, 1, 1, "sleep MS");
    Sleep(Millis(a[0]));
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
