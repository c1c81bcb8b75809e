// The tests' hands and eyes on the real program from outside its process:
// its windows found, their texts read as another program reads them, clicks
// and keys through the real input queue or as posted messages, the registry
// and the clipboard. The console driver (DriverMain.cpp) offers these to the
// shell scripts; the Wine tests of the real program link them directly.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora::driver {

// What a step of the driver could not do, and why.
struct Failure {
  std::string why;
};

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);

// ------------------------------------------------------------------ windows

std::wstring ClassOf(HWND hwnd);
// The text a window gives out when asked (WM_GETTEXT), as another program
// asks: empty when the window does not answer within five seconds.
std::wstring TextOf(HWND hwnd);
DWORD ProcessOf(HWND hwnd);

std::vector<HWND> TopLevel();
// Every window below `parent`, at any depth.
std::vector<HWND> Children(HWND parent);
// Those of them of this class.
std::vector<HWND> Descendants(HWND parent, const std::wstring& cls);

// A visible top-level window with this title, of process `pid` (0: of any)
// and of class `cls` (empty: of any); null when there is none.
HWND TopWindow(DWORD pid, const std::wstring& title, const std::wstring& cls = {});
// A visible dialog of the process (a message box, the file dialog) with a
// control that shows exactly this text; null when there is none.
HWND DialogWith(DWORD pid, const std::wstring& text);

// Waits until `found` gives a window, polling; null when `ms` run out.
template <typename Find>
HWND WaitFor(Find found, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  for (;;) {
    if (HWND hwnd = found()) return hwnd;
    if (static_cast<int>(until - GetTickCount()) <= 0) return nullptr;
    Sleep(50);
  }
}
// Until the window is gone or hidden; false when `ms` run out first.
bool WaitGone(HWND hwnd, DWORD ms);

// ------------------------------------------------------------------ input

// A left click at the window's centre, or at `at` within its rectangle,
// through the real input queue: the window must be the one under the point.
// Throws Failure.
void Click(HWND hwnd, std::optional<POINT> at = std::nullopt);
// A click posted to the window's own queue, in the middle of its client
// area: reaches a window that is covered or on no screen at all.
void PostClick(HWND hwnd);
// Presses a dialog's button as a click would.
void PressButton(HWND dialog, int id);

struct Key {
  WORD vk;
  bool ctrl = false;
  bool shift = false;
};
// Brings the window's top-level window to the front and presses the keys,
// each with its modifiers held. Throws Failure.
void PressKeys(HWND hwnd, const std::vector<Key>& keys);
// The same for a text, as Unicode key strokes. Throws Failure.
void TypeText(HWND hwnd, const std::wstring& text);

// ------------------------------------------------------------------ the system

// The clipboard's text; nothing when it holds none. Throws Failure when the
// clipboard cannot be opened.
std::optional<std::wstring> ClipboardText();

// A key given as "HKCU\..." (or HKLM, HKCR, or their long names): its root
// and the rest. Throws Failure on another root.
HKEY RootOf(const std::string& key, std::wstring* rest);
// A string value; an empty name is the key's default value. ERROR_SUCCESS or
// the error.
LONG SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);
// The key with everything below it; ERROR_SUCCESS also when it is not there.
LONG DeleteKey(HKEY root, const std::wstring& key);
// A value as text: a string as it is, a DWORD in decimal; nothing when the
// key or the value is missing or of another type.
std::optional<std::wstring> GetValue(HKEY root, const std::wstring& key, const std::wstring& name);

// A shell folder by its CSIDL (CSIDL_LOCAL_APPDATA, CSIDL_PROGRAMS, ...).
// Throws Failure.
std::wstring ShellFolder(int csidl);

// Runs `exe` with the limited half of this process's token, as a user's
// program runs under UAC, and ends with it; its exit code, or 125/126 when it
// could not be started. `exe` ends with this process too.
int RunLimited(const std::wstring& exe);

}  // namespace velmora::driver
