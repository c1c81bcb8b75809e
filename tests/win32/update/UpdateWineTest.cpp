// The update check with the real WinINet and shell adapters, against the
// local server of update-server.py (started by the test fixture) through the
// UpdateURL setting in the test prefix's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Http.h"
#include "platform/win32/Win32Ports.h"
#include "services/clsAutoUpdate.h"

namespace velmora {
namespace {

using Failure = clsAutoUpdate::CheckFailure;

class HttpAndShellEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { InstallWin32HttpAndShell(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new HttpAndShellEnvironment);

const char kSettingsKey[] = "SOFTWARE\\velmora.example\\Velmora\\Settings";

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The fixture's server: its port, and a port nothing listens on.
struct Server {
  int port = 0, unused = 0;
};

Server ReadServer() {
  // The state file's Unix path, as Wine shows the root of the Unix file system.
  std::string path = "Z:" + std::string(VELMORA_UPDATE_SERVER_STATE);
  for (char& c : path)
    if (c == '/') c = '\\';
  Server server;
  std::ifstream(path) >> server.port >> server.unused;
  return server;
}

class UpdateWine : public ::testing::Test {
 protected:
  void SetUp() override {
    server = ReadServer();
    ASSERT_GT(server.port, 0) << "no update server: run through ctest, whose fixture starts it";
  }
  void TearDown() override { SetUpdateUrl(nullptr); }

  static std::string Dir(int port, const std::string& name) {
    return "http://127.0.0.1:" + std::to_string(port) + "/" + name + "/";
  }
  // Sets or (with null) removes the deployer's UpdateURL.
  static void SetUpdateUrl(const std::string* url) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    if (url)
      RegSetValueExA(key, "UpdateURL", 0, REG_SZ, reinterpret_cast<const BYTE*>(url->c_str()),
                     static_cast<DWORD>(url->size() + 1));
    else
      RegDeleteValueA(key, "UpdateURL");
    RegCloseKey(key);
  }
  // The check's version files in the temporary folder.
  static int VersionFilesInTemp() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((std::wstring(temp) + L"VelmoraVersion-*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(find, &found));
    FindClose(find);
    return n;
  }

  struct Outcome {
    bool newer;
    Failure failure;
    double seconds;
  };
  Outcome Check(const std::string& directory) {
    SetUpdateUrl(&directory);
    const Clock::time_point start = Clock::now();
    clsAutoUpdate update;
    EXPECT_EQ(update.DownloadDirectory(), directory);
    const bool newer = update.NewVersionExists();
    return {newer, update.LastFailure(), SecondsSince(start)};
  }

  Server server;
};

TEST_F(UpdateWine, OutcomesAgainstTheLocalServer) {
  const int before = VersionFilesInTemp();
  const struct {
    const char* name;
    bool newer;
    Failure failure;
  } cases[] = {
      {"newer", true, Failure::None},          {"same", false, Failure::None},
      {"crlf", false, Failure::None},          {"dotted", true, Failure::None},
      {"missing", false, Failure::HttpStatus}, {"error", false, Failure::HttpStatus},
      {"empty", false, Failure::NoVersionText}, {"huge", false, Failure::Incomparable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Check(Dir(server.port, c.name));
    EXPECT_EQ(outcome.newer, c.newer);
    EXPECT_EQ(outcome.failure, c.failure);
    EXPECT_LT(outcome.seconds, 5.0);
  }
  EXPECT_EQ(VersionFilesInTemp(), before);
  EXPECT_EQ(Err().Number, 0);
  EXPECT_TRUE(ReportText().empty());
}

TEST_F(UpdateWine, NoServerOnThePortFailsAtOnce) {
  const Outcome outcome = Check(Dir(server.unused, "newer"));
  EXPECT_FALSE(outcome.newer);
  EXPECT_EQ(outcome.failure, Failure::Unreachable);
  EXPECT_LT(outcome.seconds, 5.0);
}

TEST_F(UpdateWine, ServerThatNeverAnswersEndsTheCheckWithin15Seconds) {
  const Outcome outcome = Check(Dir(server.port, "silent"));
  EXPECT_FALSE(outcome.newer);
  EXPECT_EQ(outcome.failure, Failure::Unreachable);
  EXPECT_LT(outcome.seconds, 15.0);
}

// A window of the test's own, made the thread's active window, that notes
// what reaches it while a download waits.
struct Journal {
  int timers = 0, timersWhileDisabled = 0, clicks = 0, appMessages = 0;
};
Journal* g_journal = nullptr;

LRESULT CALLBACK JournalProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      ++g_journal->timers;
      if (!IsWindowEnabled(hwnd)) ++g_journal->timersWhileDisabled;
      return 0;
    case WM_LBUTTONDOWN:
      ++g_journal->clicks;
      return 0;
    case WM_APP:
      ++g_journal->appMessages;
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(UpdateWine, DeadlineEndsADownloadWhileTheWindowKeepsItsMessagesButTakesNoInput) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = JournalProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VelmoraUpdateJournal";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"journal", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(window);
  ShowWindow(window, SW_SHOW);
  SetActiveWindow(window);
  ASSERT_EQ(GetActiveWindow(), window);
  Journal journal;
  g_journal = &journal;
  SetTimer(window, 1, 50, nullptr);
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  PostMessageW(window, WM_APP, 0, 0);

  // Step timeouts far beyond the deadline: only the deadline can end it.
  const std::unique_ptr<HttpPort> http = MakeWin32Http(HttpLimits{60000, 1500, 300});
  const Clock::time_point start = Clock::now();
  EXPECT_THROW(http->Get(Dir(server.port, "silent") + "VelmoraVersion.ini", 100), VbError);
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.4);
  EXPECT_LT(seconds, 4.0);

  EXPECT_GE(journal.timers, 5);
  EXPECT_EQ(journal.timersWhileDisabled, journal.timers);
  EXPECT_EQ(journal.appMessages, 1);
  EXPECT_EQ(journal.clicks, 0);
  EXPECT_TRUE(IsWindowEnabled(window));
  EXPECT_NE(GetCapture(), window);

  // The adapter serves the next download as if nothing had been given up.
  const HttpPort::Response response = http->Get(Dir(server.port, "newer") + "VelmoraVersion.ini", 100);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "104");
  const HttpPort::Response capped = http->Get(Dir(server.port, "huge") + "VelmoraVersion.ini", 10);
  EXPECT_EQ(capped.body, std::string(10, '9'));

  KillTimer(window, 1);
  DestroyWindow(window);
  g_journal = nullptr;
}

// The shell starts a batch file by its ANSI name in the program's folder,
// and by its address with any character.
TEST_F(UpdateWine, ShellStartsDocumentsInTheProgramsFolder) {
  wchar_t tempW[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, tempW);
  const std::string temp = WideToUtf8(tempW, static_cast<int>(wcslen(tempW)));
  const std::string tag = std::to_string(GetCurrentProcessId());
  const struct {
    std::string script;
    bool byAddress;
  } cases[] = {
      {temp + "velmora shell " + tag + ".bat", false},
      {temp + "velmora \xC3\xA9" + "t\xC3\xA9 " + tag + ".bat", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const std::string output = c.script + ".out";
    {
      std::ofstream bat(Utf8ToWide(c.script).c_str(), std::ios::binary);
      bat << "@cd > \"%~f0.out\"\r\n";
    }
    if (c.byAddress)
      Shell().OpenAddress(0, c.script);
    else
      Shell().ExecuteA(0, c.script);
    std::string wrote;
    const Clock::time_point start = Clock::now();
    while (SecondsSince(start) < 15.0) {
      std::ifstream in(Utf8ToWide(output).c_str(), std::ios::binary);
      if (in && std::getline(in, wrote) && !wrote.empty()) break;
      Sleep(50);
    }
    while (!wrote.empty() && (wrote.back() == '\r' || wrote.back() == ' ')) wrote.pop_back();
    if (!c.byAddress) EXPECT_EQ(Ansi().FromAnsi(wrote), Facts().ProgramFolder());
    else EXPECT_FALSE(wrote.empty()) << "the script did not run";
    DeleteFileW(Utf8ToWide(c.script).c_str());
    DeleteFileW(Utf8ToWide(output).c_str());
  }
}

}  // namespace
}  // namespace velmora
