// What the Wine tests of the real program share: paths of the build tree as
// Wine sees them, the program started as a process of its own, its windows
// found and read from outside, and a scene (a copy of the fixture ICQ
// registered, the program's settings kept and put back).
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::hardening {

namespace fs = std::filesystem;

// Build-tree paths come from CMake as Linux paths; Wine sees them under Z:.
inline fs::path Windows(const char* linuxPath) {
  std::wstring path = L"Z:";
  for (const char* p = linuxPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return fs::path(path);
}

inline const fs::path kProgram = Windows(VELMORA_EXE);
inline const fs::path kFixture = Windows(VELMORA_FIXTURES) / L"icq6";
inline const fs::path kLayout = Windows(VELMORA_WINDOWS) / L"frmMain.layout";
inline const fs::path kWork = Windows(HARDENING_WORK);

inline constexpr wchar_t kButtonClass[] = L"Quillon2.Button";

// ------------------------------------------------------------------ registry

// Puts the values back as they were when the test ends: the program's own
// settings are shared with the rest of the prefix.
class RegistryValues {
 public:
  void Keep(HKEY root, const std::wstring& key, const std::wstring& name) {
    Saved s{root, key, name, false, 0, {}};
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) == ERROR_SUCCESS) {
      DWORD size = 0;
      if (RegQueryValueExW(k, name.c_str(), nullptr, &s.type, nullptr, &size) == ERROR_SUCCESS) {
        s.data.resize(size);
        s.present = RegQueryValueExW(k, name.c_str(), nullptr, &s.type, s.data.data(), &size) == ERROR_SUCCESS;
      }
      RegCloseKey(k);
    }
    saved_.push_back(std::move(s));
  }
  ~RegistryValues() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      HKEY k;
      if (RegCreateKeyExW(it->root, it->key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) !=
          ERROR_SUCCESS)
        continue;
      if (it->present)
        RegSetValueExW(k, it->name.c_str(), 0, it->type, it->data.data(), static_cast<DWORD>(it->data.size()));
      else RegDeleteValueW(k, it->name.c_str());
      RegCloseKey(k);
    }
  }

 private:
  struct Saved {
    HKEY root;
    std::wstring key, name;
    bool present;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::vector<Saved> saved_;
};

inline void SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

inline void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  HKEY k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
  RegDeleteValueW(k, name.c_str());
  RegCloseKey(k);
}

inline const std::wstring kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ICQ.exe";
inline const std::wstring kSettings = L"SOFTWARE\\velmora.example\\Velmora\\Settings";

// ------------------------------------------------------------------ windows

inline std::wstring TextOf(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

inline std::string Narrow(const std::wstring& text) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256];
  const int n = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, n > 0 ? n : 0);
}

struct Search {
  DWORD pid;
  std::wstring title;
  HWND found = nullptr;
};

inline BOOL CALLBACK MatchTopWindow(HWND hwnd, LPARAM p) {
  auto& s = *reinterpret_cast<Search*>(p);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != s.pid || !IsWindowVisible(hwnd) || TextOf(hwnd) != s.title) return TRUE;
  s.found = hwnd;
  return FALSE;
}

// A visible top-level window of the process with this title.
inline HWND TopWindow(DWORD pid, const std::wstring& title) {
  Search s{pid, title};
  EnumWindows(MatchTopWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

struct Found {
  std::wstring cls;
  std::vector<HWND> windows;
};

inline BOOL CALLBACK MatchClass(HWND hwnd, LPARAM p) {
  auto& f = *reinterpret_cast<Found*>(p);
  if (ClassOf(hwnd) == f.cls) f.windows.push_back(hwnd);
  return TRUE;
}

// Every window of this class below `parent`, at any depth.
inline std::vector<HWND> Descendants(HWND parent, const std::wstring& cls) {
  Found found{cls, {}};
  EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

// The Quillon buttons the main window's layout asks for.
inline std::size_t ButtonsInLayout() {
  std::ifstream in(kLayout);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Control Quillon ", 0) == 0) ++n;
  return n;
}

// ------------------------------------------------------------------ processes

class Program {
 public:
  // Starts the program with `folder` as its current folder and `pathFirst`
  // ahead of everything else on PATH; `arguments` follow the program's name
  // on its command line.
  Program(const fs::path& exe, const fs::path& folder, const fs::path& pathFirst,
          const std::wstring& arguments = {}) {
    std::wstring env;
    bool pathSet = false;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* v = block; *v; v += wcslen(v) + 1) {
      std::wstring var = v;
      if (_wcsnicmp(var.c_str(), L"PATH=", 5) == 0) {
        var = L"PATH=" + pathFirst.wstring() + L";" + var.substr(5);
        pathSet = true;
      }
      env += var;
      env += L'\0';
    }
    FreeEnvironmentStringsW(block);
    if (!pathSet) env += L"PATH=" + pathFirst.wstring() + L'\0';
    env += L'\0';
    std::wstring command = L"\"" + exe.wstring() + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    started_ = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                              env.data(), folder.c_str(), &si, &pi_);
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 10000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }

  bool Started() const { return started_; }
  DWORD Pid() const { return pi_.dwProcessId; }
  bool Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

  // Waits for a visible top-level window of the program with this title;
  // null when the program ends first or the time runs out.
  HWND WaitForWindow(const std::wstring& title, std::chrono::seconds limit = std::chrono::seconds(60)) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (HWND hwnd = TopWindow(Pid(), title)) return hwnd;
      if (!Running()) return nullptr;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
  }

  std::optional<DWORD> WaitForExit(DWORD ms = 30000) const {
    if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

  // Every module the process has loaded, by full path.
  std::vector<fs::path> Modules() const {
    std::vector<fs::path> found;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, Pid());
    if (snap == INVALID_HANDLE_VALUE) return found;
    MODULEENTRY32W m{};
    m.dwSize = sizeof m;
    for (BOOL ok = Module32FirstW(snap, &m); ok; ok = Module32NextW(snap, &m)) found.push_back(m.szExePath);
    CloseHandle(snap);
    return found;
  }

  // Every Quillon2.dll the process has loaded, by full path.
  std::vector<std::wstring> QuillonModules() const {
    std::vector<std::wstring> found;
    for (const fs::path& module : Modules())
      if (_wcsicmp(module.filename().c_str(), L"Quillon2.dll") == 0) found.push_back(module.wstring());
    return found;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION pi_{};
};

inline bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// Waits until `found` gives a window; null when the time runs out.
template <typename Find>
HWND WaitFor(Find found, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    if (HWND hwnd = found()) return hwnd;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < end);
  return nullptr;
}

inline bool WaitGone(HWND hwnd, std::chrono::seconds limit = std::chrono::seconds(10)) {
  return WaitFor([&]() -> HWND { return IsWindow(hwnd) && IsWindowVisible(hwnd) ? nullptr : GetDesktopWindow(); },
                 limit) != nullptr;
}

struct DialogSearch {
  DWORD pid;
  std::wstring text;
  HWND found = nullptr;
};

inline BOOL CALLBACK HoldsText(HWND child, LPARAM p) {
  auto& s = *reinterpret_cast<DialogSearch*>(p);
  if (TextOf(child) != s.text) return TRUE;
  s.found = child;
  return FALSE;
}

inline BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM p) {
  auto& s = *reinterpret_cast<DialogSearch*>(p);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != s.pid || !IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") return TRUE;
  DialogSearch inner{s.pid, s.text};
  EnumChildWindows(hwnd, HoldsText, reinterpret_cast<LPARAM>(&inner));
  if (!inner.found) return TRUE;
  s.found = hwnd;
  return FALSE;
}

// A visible dialog of the process (a message box, the file dialog) with a
// control that shows exactly this text.
inline HWND DialogWith(DWORD pid, const std::wstring& text) {
  DialogSearch s{pid, text};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// Presses a dialog's button as a click would.
inline void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A click of the mouse in the middle of a window.
inline void Click(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  const LPARAM middle = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, middle);
  PostMessageW(hwnd, WM_LBUTTONUP, 0, middle);
}

// The Quillon button below `parent` with this caption; null if there is none.
inline HWND ButtonCaptioned(HWND parent, const std::wstring& caption) {
  for (HWND b : Descendants(parent, kButtonClass))
    if (TextOf(b) == caption) return b;
  return nullptr;
}

// ------------------------------------------------------------------ the scene

// A fresh folder for one test with a copy of the fixture ICQ installation,
// registered where the program looks first so that the start asks nobody
// for anything, and the program's own settings emptied; both are put back
// as they were afterwards.
class ProgramScene : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kProgram)) << kProgram.string();
    ASSERT_TRUE(fs::exists(kProgram.parent_path() / L"Quillon2.dll")) << "the real library beside the program";
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = L"scene-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (const char* c = test->name(); *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : L'-';
    scene_ = kWork / name;
    std::error_code ec;
    fs::remove_all(scene_, ec);
    icq_ = scene_ / L"ICQ6";
    fs::create_directories(scene_);
    fs::copy(kFixture, icq_, fs::copy_options::recursive);
    ASSERT_TRUE(fs::exists(icq_ / L"ICQ.exe"));

    registry_.Keep(HKEY_LOCAL_MACHINE, kAppPaths, L"Path");
    for (const wchar_t* name : {L"FormLeft", L"FormTop", L"Language", L"CloseAfterChange", L"ICQLitePath"}) {
      registry_.Keep(HKEY_CURRENT_USER, kSettings, name);
      DeleteValue(HKEY_CURRENT_USER, kSettings, name);
    }
    SetString(HKEY_LOCAL_MACHINE, kAppPaths, L"Path", icq_.wstring());
  }

  void TearDown() override {
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(scene_, ec);
  }

  fs::path scene_, icq_;
  RegistryValues registry_;
};

}  // namespace velmora::hardening
