// What the Wine tests of the real program share: paths of the build tree as
// Wine sees them, the program started as a process of its own, its windows
// found and read from outside (through the tests' driver, tests/driver), and
// a scene (a copy of the fixture ICQ
// registered, the program's settings kept and put back).
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "Driver.h"

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
  ASSERT_EQ(driver::SetString(root, key, name, value), ERROR_SUCCESS) << driver::Utf8(key + L" " + name);
}

using driver::DeleteValue;

inline const std::wstring kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ICQ.exe";
inline const std::wstring kSettings = L"SOFTWARE\\velmora.example\\Velmora\\Settings";

// ------------------------------------------------------------------ windows

// The program's windows are found and read, and clicked with posted
// messages, as the tests' driver does it.
using driver::ClassOf;
using driver::Descendants;
using driver::DialogWith;
using driver::PostClick;
using driver::PressButton;
using driver::TextOf;
using driver::TopWindow;

inline std::string Narrow(const std::wstring& text) { return driver::Utf8(text); }

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
  return driver::WaitFor(found, static_cast<DWORD>(std::chrono::milliseconds(limit).count()));
}

inline bool WaitGone(HWND hwnd, std::chrono::seconds limit = std::chrono::seconds(10)) {
  return driver::WaitGone(hwnd, static_cast<DWORD>(std::chrono::milliseconds(limit).count()));
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
