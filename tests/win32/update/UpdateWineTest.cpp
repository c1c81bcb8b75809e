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

// The system's facts, but for a limited token: Wine starts every process
// from Unix with an administrator's full token, under which the check takes
// no UpdateURL.
class LimitedTokenFacts : public SystemFacts {
 public:
  explicit LimitedTokenFacts(SystemFacts& real) : real_(real) {}
  std::string ComputerName() override { return real_.ComputerName(); }
  std::string SystemErrorText(int32_t code) override { return real_.SystemErrorText(code); }
  std::string AdoVersion() override { return real_.AdoVersion(); }
  std::string ExeName() override { return real_.ExeName(); }
  VersionNumbers AppVersion() override { return real_.AppVersion(); }
  LocalTime Now() override { return real_.Now(); }
  std::string DateSeparator() override { return real_.DateSeparator(); }
  std::string TimeSeparator() override { return real_.TimeSeparator(); }
  std::string DecimalSeparator() override { return real_.DecimalSeparator(); }
  uint16_t UserDefaultLangId() override { return real_.UserDefaultLangId(); }
  std::string ProgramFolder() override { return real_.ProgramFolder(); }
  std::string TempFolder() override { return real_.TempFolder(); }
  std::string LocalAppDataFolder() override { return real_.LocalAppDataFolder(); }
  bool RunsElevated() override { return false; }

 private:
  SystemFacts& real_;
};

class UpdateWine : public ::testing::Test {
 protected:
  void SetUp() override {
    server = ReadServer();
    ASSERT_GT(server.port, 0) << "no update server: run through ctest, whose fixture starts it";
    realFacts_ = &Facts();
    limitedFacts_ = std::make_unique<LimitedTokenFacts>(*realFacts_);
    ThePorts().facts = limitedFacts_.get();
  }
  void TearDown() override {
    SetUpdateUrl(nullptr);
    if (realFacts_) ThePorts().facts = realFacts_;
  }
  SystemFacts* RealFacts() { return realFacts_; }

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
    int status;
  };
  Outcome Check(const std::string& directory) {
    SetUpdateUrl(&directory);
    const Clock::time_point start = Clock::now();
    clsAutoUpdate update;
    EXPECT_EQ(update.DownloadDirectory(), directory);
    const bool newer = update.NewVersionExists();
    return {newer, update.LastFailure(), SecondsSince(start), update.LastHttpStatus()};
  }

  Server server;

 private:
  SystemFacts* realFacts_ = nullptr;
  std::unique_ptr<LimitedTokenFacts> limitedFacts_;
};

TEST_F(UpdateWine, OutcomesAgainstTheLocalServer) {
  const int before = VersionFilesInTemp();
  const struct {
    const char* name;
    bool newer;
    Failure failure;
    int status;
  } cases[] = {
      {"newer", true, Failure::None, 200},
      {"same", false, Failure::None, 200},
      {"crlf", false, Failure::None, 200},
      {"dotted", true, Failure::None, 200},
      {"missing", false, Failure::HttpStatus, 404},
      {"error", false, Failure::HttpStatus, 500},
      {"empty", false, Failure::NoVersionText, 200},
      {"huge", false, Failure::Incomparable, 200},
      // A portal's answers in the version file's place.
      {"ok", false, Failure::Incomparable, 200},
      {"portal", false, Failure::Incomparable, 200},
      // Redirects on the same server are followed, others are not: the
      // check stops at the 302.
      {"moved", true, Failure::None, 200},
      {"relative", true, Failure::None, 200},
      {"elsewhere", false, Failure::HttpStatus, 302},
      {"scheme", false, Failure::HttpStatus, 302},
      {"loop", false, Failure::HttpStatus, 302},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Check(Dir(server.port, c.name));
    EXPECT_EQ(outcome.newer, c.newer);
    EXPECT_EQ(outcome.failure, c.failure);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_LT(outcome.seconds, 5.0);
  }
  EXPECT_EQ(VersionFilesInTemp(), before);
  EXPECT_EQ(Err().Number, 0);
  EXPECT_TRUE(ReportText().empty());
}

// Under Wine's own full token, the system's facts call the process
// elevated, and the check goes to the built-in address whatever UpdateURL
// says.
TEST_F(UpdateWine, UnderAnAdministratorsFullTokenUpdateUrlDoesNotCount) {
  ThePorts().facts = RealFacts();
  EXPECT_TRUE(Facts().RunsElevated());
  const std::string local = Dir(server.port, "newer");
  SetUpdateUrl(&local);
  EXPECT_EQ(clsAutoUpdate().DownloadDirectory(), "https://www.velmora.example/downloads/");
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
  int timers = 0, timersWhileDisabled = 0, clicks = 0, commands = 0, closes = 0, registered = 0;
};
Journal* g_journal = nullptr;
UINT g_registeredMessage = 0;

LRESULT CALLBACK JournalProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      ++g_journal->timers;
      if (!IsWindowEnabled(hwnd)) ++g_journal->timersWhileDisabled;
      return 0;
    case WM_LBUTTONDOWN:
      ++g_journal->clicks;
      return 0;
    case WM_COMMAND:
    case WM_APP + 1:
      ++g_journal->commands;
      return 0;
    case WM_CLOSE:
      ++g_journal->closes;
      return 0;
  }
  if (message == g_registeredMessage) {
    ++g_journal->registered;
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class JournalWindow {
 public:
  JournalWindow() {
    g_registeredMessage = RegisterWindowMessageW(L"VelmoraUpdateJournal");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = JournalProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VelmoraUpdateJournal";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, wc.lpszClassName, L"journal", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    SetActiveWindow(hwnd);
    g_journal = &journal;
  }
  ~JournalWindow() {
    DestroyWindow(hwnd);
    g_journal = nullptr;
  }
  JournalWindow(const JournalWindow&) = delete;
  JournalWindow& operator=(const JournalWindow&) = delete;

  // Dispatches what is queued now.
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }

  HWND hwnd = nullptr;
  Journal journal;
};

TEST_F(UpdateWine, DeadlineEndsADownloadWhileTheWindowKeepsItsMessagesButTakesNoInput) {
  JournalWindow window;
  ASSERT_TRUE(window.hwnd);
  ASSERT_EQ(GetActiveWindow(), window.hwnd);
  const Journal& journal = window.journal;
  SetTimer(window.hwnd, 1, 50, nullptr);
  PostMessageW(window.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  PostMessageW(window.hwnd, g_registeredMessage, 0, 0);

  // Step timeouts far beyond the deadline: only the deadline can end it.
  const std::unique_ptr<HttpPort> http = MakeWin32Http(HttpLimits{60000, 1500, 300});
  const Clock::time_point start = Clock::now();
  EXPECT_THROW(http->Get(Dir(server.port, "silent") + "VelmoraVersion.ini", 100), VbError);
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.4);
  EXPECT_LT(seconds, 4.0);

  EXPECT_GE(journal.timers, 5);
  EXPECT_EQ(journal.timersWhileDisabled, journal.timers);
  EXPECT_EQ(journal.registered, 1);
  EXPECT_EQ(journal.clicks, 0);
  EXPECT_TRUE(IsWindowEnabled(window.hwnd));
  EXPECT_NE(GetCapture(), window.hwnd);

  // The next download is served as if nothing had been given up, although
  // the given-up worker may still be waiting on the network. (With the usual
  // deadline: a loaded machine may take longer than the short one here.)
  const std::unique_ptr<HttpPort> next = MakeWin32Http();
  const HttpPort::Response response = next->Get(Dir(server.port, "newer") + "VelmoraVersion.ini", 100);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "104");
  const HttpPort::Response capped = next->Get(Dir(server.port, "huge") + "VelmoraVersion.ini", 10);
  EXPECT_EQ(capped.body, std::string(10, '9'));
  KillTimer(window.hwnd, 1);
}

// Commands and closing while a dialogue around a download runs: commands
// posted or sent to the window are dropped, Alt+F4 and WM_CLOSE (posted, or
// sent from another thread as another program would) make one close at the
// end of the dialogue, not before.
TEST_F(UpdateWine, CommandsWaitNotAndClosingWaitsForTheEndOfTheDialogue) {
  JournalWindow window;
  ASSERT_EQ(GetActiveWindow(), window.hwnd);
  const Journal& journal = window.journal;
  const std::unique_ptr<HttpPort> http = MakeWin32Http();

  http->BeginDialogue();
  PostMessageW(window.hwnd, WM_COMMAND, 1, 0);
  PostMessageW(window.hwnd, WM_APP + 1, 0, 0);
  PostMessageW(window.hwnd, WM_SYSKEYDOWN, VK_F4, 0x20000000);
  PostMessageW(window.hwnd, WM_CLOSE, 0, 0);
  PostMessageW(window.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  struct Sender {
    HWND to;
    static DWORD WINAPI Run(void* self) {
      Sleep(300);
      const HWND to = static_cast<Sender*>(self)->to;
      SendMessageW(to, WM_CLOSE, 0, 0);
      SendMessageW(to, WM_COMMAND, 2, 0);
      return 0;
    }
  } sender{window.hwnd};
  HANDLE thread = CreateThread(nullptr, 0, &Sender::Run, &sender, 0, nullptr);
  ASSERT_TRUE(thread);
  const HttpPort::Response response = http->Get(Dir(server.port, "slow") + "VelmoraVersion.ini", 100);
  EXPECT_EQ(response.body, "104");
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);

  // The check is over; its answer (a message box) would show now.
  window.Pump();
  EXPECT_EQ(journal.closes, 0);
  EXPECT_EQ(journal.commands, 0);
  // A second download while the first one's dialogue lasts works as well.
  EXPECT_EQ(http->Get(Dir(server.port, "same") + "VelmoraVersion.ini", 100).body, "103");
  window.Pump();
  EXPECT_EQ(journal.closes, 0);

  http->EndDialogue();
  window.Pump();
  EXPECT_EQ(journal.closes, 1);
  EXPECT_EQ(journal.commands, 0);
  // Once the dialogue is over, the window takes its messages again.
  PostMessageW(window.hwnd, WM_COMMAND, 1, 0);
  SendMessageW(window.hwnd, WM_CLOSE, 0, 0);
  window.Pump();
  EXPECT_EQ(journal.commands, 1);
  EXPECT_EQ(journal.closes, 2);
}

// Without a dialogue around it, a download holds the window by itself.
TEST_F(UpdateWine, ADownloadAloneKeepsTheCloseUntilItEnds) {
  JournalWindow window;
  const std::unique_ptr<HttpPort> http = MakeWin32Http();
  PostMessageW(window.hwnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(http->Get(Dir(server.port, "newer") + "VelmoraVersion.ini", 100).body, "104");
  EXPECT_EQ(window.journal.closes, 0);
  window.Pump();
  EXPECT_EQ(window.journal.closes, 1);
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
