// Quillon2.dll comes from the program's own folder and from nowhere else.
// A stranger's Quillon2.dll (PlantedQuillon.cpp: it leaves a marker file when
// it is loaded) waits in the current folder and in a folder on PATH; the real
// Velmora.exe is started from that current folder with that PATH, finds a
// registered ICQ (a copy of the fixture installation) and must come up with
// its buttons from the real library, never touching the planted ones. Started
// from a folder without the real library it must report that it cannot
// create its buttons, and still leave the planted ones alone.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Build-tree paths come from CMake as Linux paths; Wine sees them under Z:.
fs::path Windows(const char* linuxPath) {
  std::wstring path = L"Z:";
  for (const char* p = linuxPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return fs::path(path);
}

const fs::path kProgram = Windows(VELMORA_EXE);
const fs::path kPlanted = Windows(PLANTED_DLL);
const fs::path kFixture = Windows(VELMORA_FIXTURES) / L"icq6";
const fs::path kLayout = Windows(VELMORA_WINDOWS) / L"frmMain.layout";
const fs::path kWork = Windows(HARDENING_WORK);

constexpr wchar_t kMarker[] = L"planted-loaded.txt";
constexpr wchar_t kButtonClass[] = L"Quillon2.Button";

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

void SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  HKEY k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
  RegDeleteValueW(k, name.c_str());
  RegCloseKey(k);
}

const std::wstring kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ICQ.exe";
const std::wstring kSettings = L"SOFTWARE\\velmora.example\\Velmora\\Settings";

// ------------------------------------------------------------------ windows

std::wstring TextOf(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

std::string Narrow(const std::wstring& text) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256];
  const int n = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, n > 0 ? n : 0);
}

struct Search {
  DWORD pid;
  std::wstring title;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTopWindow(HWND hwnd, LPARAM p) {
  auto& s = *reinterpret_cast<Search*>(p);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != s.pid || !IsWindowVisible(hwnd) || TextOf(hwnd) != s.title) return TRUE;
  s.found = hwnd;
  return FALSE;
}

// A visible top-level window of the process with this title.
HWND TopWindow(DWORD pid, const std::wstring& title) {
  Search s{pid, title};
  EnumWindows(MatchTopWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

struct Found {
  std::wstring cls;
  std::vector<HWND> windows;
};

BOOL CALLBACK MatchClass(HWND hwnd, LPARAM p) {
  auto& f = *reinterpret_cast<Found*>(p);
  if (ClassOf(hwnd) == f.cls) f.windows.push_back(hwnd);
  return TRUE;
}

// Every window of this class below `parent`, at any depth.
std::vector<HWND> Descendants(HWND parent, const std::wstring& cls) {
  Found found{cls, {}};
  EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

// The Quillon buttons the main window's layout asks for.
std::size_t ButtonsInLayout() {
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
  // ahead of everything else on PATH.
  Program(const fs::path& exe, const fs::path& folder, const fs::path& pathFirst) {
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

  // Every Quillon2.dll the process has loaded, by full path.
  std::vector<std::wstring> QuillonModules() const {
    std::vector<std::wstring> found;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, Pid());
    if (snap == INVALID_HANDLE_VALUE) return found;
    MODULEENTRY32W m{};
    m.dwSize = sizeof m;
    for (BOOL ok = Module32FirstW(snap, &m); ok; ok = Module32NextW(snap, &m))
      if (_wcsicmp(m.szModule, L"Quillon2.dll") == 0) found.push_back(m.szExePath);
    CloseHandle(snap);
    return found;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION pi_{};
};

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// ------------------------------------------------------------------ the scene

class DllPlanting : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kProgram)) << kProgram.string();
    ASSERT_TRUE(fs::exists(kProgram.parent_path() / L"Quillon2.dll")) << "the real library beside the program";
    ASSERT_TRUE(fs::exists(kPlanted)) << kPlanted.string();

    scene_ = kWork / (L"scene-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ec;
    fs::remove_all(scene_, ec);
    here_ = scene_ / L"current folder";
    onPath_ = scene_ / L"on path";
    icq_ = scene_ / L"ICQ6";
    for (const fs::path& folder : {here_, onPath_}) {
      fs::create_directories(folder);
      fs::copy_file(kPlanted, folder / L"Quillon2.dll");
    }
    fs::copy(kFixture, icq_, fs::copy_options::recursive);
    ASSERT_TRUE(fs::exists(icq_ / L"ICQ.exe"));

    // ICQ registered where the program looks first, so that the start asks
    // nobody for anything; the program's own settings start empty.
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

  // Asserts that no planted library was loaded by anyone.
  void ExpectNoPlantedLoad() {
    for (const fs::path& folder : {here_, onPath_}) {
      std::ifstream marker(folder / kMarker);
      std::string by((std::istreambuf_iterator<char>(marker)), std::istreambuf_iterator<char>());
      EXPECT_FALSE(fs::exists(folder / kMarker))
          << "the Quillon2.dll in \"" << folder.string() << "\" was loaded by " << by;
    }
  }

  fs::path scene_, here_, onPath_, icq_;
  RegistryValues registry_;
};

// The planted libraries are where a plain LoadLibrary finds them, and a load
// leaves its marker: without this, no marker would prove nothing.
TEST_F(DllPlanting, APlainLoadFindsThePlantedLibrariesAndLeavesTheMarker) {
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(here_.c_str()));
  HMODULE fromHere = LoadLibraryW(L"Quillon2.dll");
  SetCurrentDirectoryW(previous);
  ASSERT_NE(fromHere, nullptr);
  FreeLibrary(fromHere);
  EXPECT_TRUE(fs::exists(here_ / kMarker));

  const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring path(size, L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), size));
  SetEnvironmentVariableW(L"PATH", (onPath_.wstring() + L";" + path).c_str());
  HMODULE fromPath = LoadLibraryW(L"Quillon2.dll");
  SetEnvironmentVariableW(L"PATH", path.c_str());
  ASSERT_NE(fromPath, nullptr);
  FreeLibrary(fromPath);
  EXPECT_TRUE(fs::exists(onPath_ / kMarker));
}

TEST_F(DllPlanting, TheProgramTakesItsButtonsFromItsOwnFolderOnly) {
  Program program(kProgram, here_, onPath_);
  ASSERT_TRUE(program.Started()) << "CreateProcess failed: " << GetLastError();

  const HWND main = program.WaitForWindow(L"Velmora");
  ASSERT_NE(main, nullptr) << "no main window; the program " << (program.Running() ? "is still running" : "has ended");
  // Every button of the layout is a window of the real library's class, and
  // the start reported nothing.
  const std::size_t expected = ButtonsInLayout();
  ASSERT_GE(expected, 1u);
  EXPECT_EQ(Descendants(main, kButtonClass).size(), expected);
  EXPECT_EQ(TopWindow(program.Pid(), L"Error Report"), nullptr) << "the start reported an error";

  const std::vector<std::wstring> modules = program.QuillonModules();
  ASSERT_EQ(modules.size(), 1u) << "Quillon2.dll loaded " << modules.size() << " times";
  EXPECT_TRUE(SameFile(modules[0], kProgram.parent_path() / L"Quillon2.dll"))
      << "Quillon2.dll came from " << Narrow(modules[0]);

  PostMessageW(main, WM_CLOSE, 0, 0);
  const std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code.has_value()) << "the program did not end on WM_CLOSE";
  EXPECT_EQ(*code, 0u);
  ExpectNoPlantedLoad();
}

TEST_F(DllPlanting, WithoutItsOwnLibraryTheProgramReportsAndLoadsNoOther) {
  // The program alone in a folder of its own: no Quillon2.dll beside it.
  const fs::path alone = scene_ / L"program alone";
  fs::create_directories(alone);
  fs::copy_file(kProgram, alone / kProgram.filename());

  Program program(alone / kProgram.filename(), here_, onPath_);
  ASSERT_TRUE(program.Started()) << "CreateProcess failed: " << GetLastError();

  const HWND report = program.WaitForWindow(L"Error Report");
  ASSERT_NE(report, nullptr) << "no error report; the program "
                             << (program.Running() ? "is still running" : "has ended");
  std::wstring text;
  for (HWND edit : Descendants(report, L"Edit")) text += TextOf(edit);
  EXPECT_NE(text.find(L"Number: 429 "), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L"ActiveX component can't create object"), std::wstring::npos);
  EXPECT_TRUE(program.QuillonModules().empty());

  EXPECT_EQ(TopWindow(program.Pid(), L"Velmora"), nullptr) << "a main window without its buttons is showing";

  // With no main window to go back to, closing the report ends the program.
  PostMessageW(report, WM_CLOSE, 0, 0);
  const std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code.has_value()) << "the program did not end with its report";
  EXPECT_EQ(*code, 1u);
  ExpectNoPlantedLoad();
}

}  // namespace
