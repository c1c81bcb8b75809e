// The update check against a fake web server, registry and file system: what
// each version file means, how each failure is told apart from "latest", the
// boxes of the dialogue and where the version file lives while it is read.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FakePortsTest.h"
#include "errors/ErrChain.h"
#include "services/clsAutoUpdate.h"

namespace velmora {
namespace {

using testing::CallStack;
using testing::FakePortsTest;
using testing::RaisedBy;
using testing::RecordingMessageBox;
using testing::RecordingReportWindow;
using Failure = clsAutoUpdate::CheckFailure;

const std::string kDefaultDir = "https://www.velmora.example/downloads/";
const std::string kVersionUrl = kDefaultDir + "VelmoraVersion.ini";
const std::string kSetupUrl = kDefaultDir + "Velmora-Setup.exe";
const std::string kSettingsKey = "SOFTWARE\\velmora.example\\Velmora\\Settings";

class FakeHttp : public HttpPort {
 public:
  std::map<std::string, Response> pages;  // a URL not listed answers 404
  bool unreachable = false;
  std::vector<std::string> urls;
  std::vector<std::size_t> caps;
  // What the window thread dispatches while a download waits.
  std::function<void()> whileWaiting;
  int dialogueDepth = 0, dialogues = 0, getsOutsideDialogue = 0;
  Response Get(const std::string& url, std::size_t maxBytes) override {
    urls.push_back(url);
    caps.push_back(maxBytes);
    if (dialogueDepth == 0) ++getsOutsideDialogue;
    if (whileWaiting) whileWaiting();
    if (unreachable) RaiseSystemError(12029);  // cannot connect
    const auto it = pages.find(url);
    Response response = it == pages.end() ? Response{404, "<h1>Not Found</h1>"} : it->second;
    if (response.body.size() > maxBytes) response.body.resize(maxBytes);
    return response;
  }
  void BeginDialogue() override { ++dialogueDepth, ++dialogues; }
  void EndDialogue() override { --dialogueDepth; }
};

class FakeShell : public ShellPort {
 public:
  std::vector<std::string> opened;
  bool fails = false;
  void ExecuteA(uintptr_t, const std::string& file) override { opened.push_back("ExecuteA " + file); }
  void OpenAddress(uintptr_t, const std::string& address) override {
    if (fails) RaiseSystemError(1155);  // no program for it
    opened.push_back(address);
  }
};

// REG_SZ values under HKEY_CURRENT_USER keys; writes are counted, not kept.
class SettingsRegistry : public RegistryPort {
 public:
  std::map<std::string, std::string> values;  // "key|name"
  int writes = 0;
  int32_t OpenKey(Key root, const std::string& subKey, uint32_t, uint32_t, Key* result) override {
    if (root != 0x80000001u) return 2;
    keys_.push_back(subKey);
    *result = keys_.size();
    return 0;
  }
  int32_t QueryValue(Key key, const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    const auto it = values.find(keys_.at(key - 1) + "|" + name);
    if (it == values.end()) return 2;
    *type = 1;
    if (data) {
      if (*size < it->second.size()) return 234;
      std::copy(it->second.begin(), it->second.end(), data);
    }
    *size = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  int32_t CreateKey(Key, const std::string&, uint32_t, uint32_t, Key*) override { return ++writes, 5; }
  int32_t SetValue(Key, const std::string&, uint32_t, const uint8_t*, uint32_t) override { return ++writes, 5; }
  int32_t CloseKey(Key) override { return 0; }

 private:
  std::vector<std::string> keys_;
};

class UpdateTest : public FakePortsTest {
 protected:
  UpdateTest() {
    ThePorts().registry = &registry;
    ThePorts().messageBox = &messageBox;
    ThePorts().reportWindow = &reportWindow;
    ThePorts().shell = &shell;
    ThePorts().http = &http;
    files.folders.insert("C:\\Temp");
    files.folders.insert(facts.programFolder);
  }

  void Publish(const std::string& body, int status = 200) { http.pages[kVersionUrl] = {status, body}; }

  // Every file the check touched lay in the temporary folder, and none is
  // left there (nor anywhere else).
  void ExpectNoVersionFileLeft() {
    EXPECT_TRUE(files.files.empty());
    for (const std::string& call : files.calls)
      EXPECT_EQ(call.find(" C:\\Temp\\VelmoraVersion-"), call.find(' ')) << call;
  }

  SettingsRegistry registry;
  RecordingMessageBox messageBox;
  RecordingReportWindow reportWindow;
  FakeHttp http;
  FakeShell shell;
};

using UpdateCheck = UpdateTest;

TEST_F(UpdateCheck, VersionTextsAgainstOwnVersion103) {
  const struct {
    std::string body;
    bool newer;
    Failure failure;
  } cases[] = {
      // Digits run together compare as text, the longer winning on a tie.
      {"104", true, Failure::None},
      {"103", false, Failure::None},
      {"102", false, Failure::None},
      {"1010", false, Failure::None},
      {"1030", true, Failure::None},
      {"2", true, Failure::None},
      {"099", false, Failure::None},
      // Dotted versions compare number by number; a missing revision is 0.
      {"1.0.10", true, Failure::None},
      {"1.0.3", false, Failure::None},
      {"1.0.2", false, Failure::None},
      {"1.1", true, Failure::None},
      {"1.0", false, Failure::None},
      {"2.0", true, Failure::None},
      {"0.9.99", false, Failure::None},
      {"01.00.0004", true, Failure::None},
      {"1.0.99999999999999999999", true, Failure::None},
      // Blanks and line breaks around the text, and Notepad's byte order mark.
      {"103\r\n", false, Failure::None},
      {"\t104\r\n\r\n", true, Failure::None},
      {"  1.0.4 \t\n", true, Failure::None},
      {"\xEF\xBB\xBF"
       "103\r\n",
       false, Failure::None},
      {"\xEF\xBB\xBF"
       "104",
       true, Failure::None},
      // Nothing to compare, or nothing comparable.
      {"", false, Failure::NoVersionText},
      {" \r\n\t ", false, Failure::NoVersionText},
      {"1.0.x", false, Failure::Incomparable},
      {"1..4", false, Failure::Incomparable},
      {"1.0.", false, Failure::Incomparable},
      {"1.0.0.4", false, Failure::Incomparable},
      {"v1.0.4", false, Failure::Incomparable},
      {std::string(4097, '9'), false, Failure::Incomparable},
      // Without dots only digits compare: what a portal or a wrong page
      // answers would otherwise sort after "103".
      {"OK", false, Failure::Incomparable},
      {"OK\r\n", false, Failure::Incomparable},
      {"<html><body>Sign in to continue</body></html>", false, Failure::Incomparable},
      {"<!DOCTYPE html>\n<html><head><title>v1.0.4</title></head></html>", false, Failure::Incomparable},
      {"104a", false, Failure::Incomparable},
      {"+104", false, Failure::Incomparable},
      {"1 04", false, Failure::Incomparable},
      {"\xEF\xBC\x91\xEF\xBC\x90\xEF\xBC\x94", false, Failure::Incomparable},  // full-width 104
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("version file: '" + c.body.substr(0, 40) + "'");
    Publish(c.body);
    files.calls.clear();
    clsAutoUpdate update;
    EXPECT_EQ(update.NewVersionExists(), c.newer);
    EXPECT_EQ(update.LastFailure(), c.failure);
    EXPECT_EQ(update.LastCheckFailed(), c.failure != Failure::None);
    EXPECT_EQ(http.urls.back(), kVersionUrl);
    ExpectNoVersionFileLeft();
  }
  // A version file is fetched fresh each time, with a cap of a few KiB.
  EXPECT_EQ(http.urls.size(), std::size(cases));
  for (std::size_t cap : http.caps) {
    EXPECT_GT(cap, 4096u);
    EXPECT_LE(cap, 16384u);
  }
}

TEST_F(UpdateCheck, OwnVersionDigitsAreJoinedWithoutSeparator) {
  facts.version = {2, 10, 0};
  Publish("2100");
  EXPECT_FALSE(clsAutoUpdate().NewVersionExists());
  Publish("2101");
  EXPECT_TRUE(clsAutoUpdate().NewVersionExists());
  Publish("2.9.5");
  EXPECT_FALSE(clsAutoUpdate().NewVersionExists());
  Publish("2.10.1");
  EXPECT_TRUE(clsAutoUpdate().NewVersionExists());
}

TEST_F(UpdateCheck, FailuresAreToldApartFromLatest) {
  const struct {
    const char* what;
    int status;
    Failure failure;
  } cases[] = {
      {"not found", 404, Failure::HttpStatus},
      {"server error", 500, Failure::HttpStatus},
      {"moved, not followed", 302, Failure::HttpStatus},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The error page's body holds digits that would compare as newer.
    Publish("999", c.status);
    clsAutoUpdate update;
    EXPECT_FALSE(update.NewVersionExists());
    EXPECT_EQ(update.LastFailure(), c.failure);
    EXPECT_EQ(update.LastHttpStatus(), c.status);
    ExpectNoVersionFileLeft();
  }

  http.unreachable = true;
  clsAutoUpdate update;
  EXPECT_FALSE(update.NewVersionExists());
  EXPECT_EQ(update.LastFailure(), Failure::Unreachable);
  EXPECT_EQ(update.LastHttpStatus(), 0);
  ExpectNoVersionFileLeft();

  // The next check of the same object starts afresh.
  http.unreachable = false;
  Publish("103");
  EXPECT_FALSE(update.NewVersionExists());
  EXPECT_FALSE(update.LastCheckFailed());
}

TEST_F(UpdateCheck, FileFailuresAreSteppedOverAndLeaveNoErrorBehind) {
  Publish("104");
  // The version file cannot be written: nothing is read, the check failed.
  files.failures["WriteNew"] = {5};
  clsAutoUpdate update;
  EXPECT_FALSE(update.NewVersionExists());
  EXPECT_EQ(update.LastFailure(), Failure::NoVersionText);
  // Read, then removing it fails: the answer stands.
  files.failures["Remove"] = {32};
  EXPECT_TRUE(update.NewVersionExists());
  EXPECT_FALSE(update.LastCheckFailed());
  files.files.clear();
  // Reading fails.
  files.failures["ReadWhole"] = {32};
  EXPECT_FALSE(update.NewVersionExists());
  EXPECT_EQ(update.LastFailure(), Failure::NoVersionText);
  ExpectNoVersionFileLeft();

  // clsFile's trap began a report for each failure; none of it may linger.
  EXPECT_EQ(Err().Number, 0);
  EXPECT_TRUE(ReportText().empty());
  EXPECT_NE(PreservedErr().Source, PROPAGATION_MARKER);

  // So the next real failure reports itself alone, and the button's
  // handler is the only procedure its report names.
  messageBox.answer = 6;
  shell.fails = true;
  RunEvent("frmMain.qbtnCheckUpdate_Click", [](Trap& trap) {
    trap.at(10);
    RunUpdateCheck(2);
  });
  ASSERT_EQ(reportWindow.reports.size(), 1u);
  const std::string& report = reportWindow.reports[0];
  EXPECT_EQ(CallStack(report), std::vector<std::string>{"frmMain.qbtnCheckUpdate_Click"});
  EXPECT_NE(report.find("  Method: frmMain.qbtnCheckUpdate_Click \r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("  API Error: (1155) "), std::string::npos) << report;
  EXPECT_NE(report.find("()  at Line 10 "), std::string::npos) << report;
  EXPECT_EQ(report.find("clsAutoUpdate"), std::string::npos) << report;

  // The failure left no check running: the next one asks the server.
  shell.fails = false;
  http.urls.clear();
  RunUpdateCheck(2);
  EXPECT_EQ(http.urls.size(), 1u);
}

TEST_F(UpdateCheck, UpdateUrlNamesAnotherDirectoryForBothFiles) {
  registry.values[kSettingsKey + "|UpdateURL"] = "http://127.0.0.1:8080/velmora/";
  http.pages["http://127.0.0.1:8080/velmora/VelmoraVersion.ini"] = {200, "104"};
  Publish("103");  // the default directory would say "latest"
  clsAutoUpdate update;
  EXPECT_EQ(update.DownloadDirectory(), "http://127.0.0.1:8080/velmora/");
  EXPECT_TRUE(update.NewVersionExists());
  update.QuickDownloadNewVersion();
  EXPECT_EQ(shell.opened, std::vector<std::string>{"http://127.0.0.1:8080/velmora/Velmora-Setup.exe"});

  // Names are appended as they are: no slash is added.
  registry.values[kSettingsKey + "|UpdateURL"] = "https://mirror/get?f=";
  clsAutoUpdate query;
  query.NewVersionExists();
  EXPECT_EQ(http.urls.back(), "https://mirror/get?f=VelmoraVersion.ini");

  // An empty value means the default; the program never writes it.
  registry.values[kSettingsKey + "|UpdateURL"] = "";
  EXPECT_EQ(clsAutoUpdate().DownloadDirectory(), kDefaultDir);
  EXPECT_EQ(registry.writes, 0);
}

// Plain http is asked only on this computer; any other plain http address
// fails the check before a request goes out, whatever it would have served.
TEST_F(UpdateCheck, PlainHttpIsAskedOnlyOnThisComputer) {
  const std::string refused[] = {
      "http://example.com/",
      "HTTP://Example.com:8080/velmora/",
      "http://127.0.0.1.example.com/",
      "http://localhost.example.com/",
      "http://127.0.0.2/",
      "http://localhost@example.com/",
      "http://127.0.0.1:80@example.com/",
      "http://localhost\\@example.com/",
      "http://[::1].example.com/",
      "http://[::1]x/",
      "http://localhost:8o/",
      "http://example.com/127.0.0.1/",
      "http:/localhost/",
      "http:localhost/",
      " http://localhost/",
  };
  for (const std::string& url : refused) {
    SCOPED_TRACE(url);
    registry.values[kSettingsKey + "|UpdateURL"] = url;
    http.pages[url + "VelmoraVersion.ini"] = {200, "104"};
    http.urls.clear();
    files.calls.clear();
    messageBox.shown.clear();
    messageBox.answer = 6;
    RunUpdateCheck(2);
    EXPECT_TRUE(http.urls.empty());
    EXPECT_TRUE(files.calls.empty());
    ASSERT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(messageBox.shown[0].text, "The update check failed. Please try again later.");
    clsAutoUpdate update;
    EXPECT_FALSE(update.NewVersionExists());
    EXPECT_EQ(update.LastFailure(), Failure::PlainHttp);
    EXPECT_TRUE(http.urls.empty());
  }
  EXPECT_TRUE(shell.opened.empty());

  const std::string asked[] = {
      "http://127.0.0.1:8080/velmora/",
      "http://localhost/",
      "http://LocalHost:80/",
      "http://localhost?f=",
      "http://[::1]:8080/",
      "http://[::1]/",
      "Http://127.0.0.1/",
      "http://localhost:/",
      "https://example.com/",
  };
  for (const std::string& url : asked) {
    SCOPED_TRACE(url);
    registry.values[kSettingsKey + "|UpdateURL"] = url;
    http.pages[url + "VelmoraVersion.ini"] = {200, "104"};
    http.urls.clear();
    clsAutoUpdate update;
    EXPECT_TRUE(update.NewVersionExists());
    EXPECT_EQ(http.urls, std::vector<std::string>{url + "VelmoraVersion.ini"});
  }
}

TEST_F(UpdateCheck, AnElevatedProcessTakesOnlyTheBuiltInAddress) {
  registry.values[kSettingsKey + "|UpdateURL"] = "http://planted.example/";
  http.pages["http://planted.example/VelmoraVersion.ini"] = {200, "999"};
  Publish("104");
  messageBox.answer = 6;
  facts.elevated = true;
  RunUpdateCheck(2);
  EXPECT_EQ(http.urls, std::vector<std::string>{kVersionUrl});
  EXPECT_EQ(shell.opened, std::vector<std::string>{kSetupUrl});

  facts.elevated = false;
  EXPECT_EQ(clsAutoUpdate().DownloadDirectory(), "http://planted.example/");
}

using UpdateDialogueHold = UpdateTest;

// The window thread dispatches messages while the download waits. A click
// on the update button that gets through then must not start a second check,
// and the dialogue spans the check and its answer.
TEST_F(UpdateDialogueHold, ASecondCheckWhileOneWaitsDoesNothing) {
  struct HeldBox : RecordingMessageBox {
    FakeHttp* http = nullptr;
    std::vector<int> depths;
    int Show(const std::string& text, const std::string& title, uint32_t style) override {
      depths.push_back(http->dialogueDepth);
      return RecordingMessageBox::Show(text, title, style);
    }
  } box;
  box.http = &http;
  ThePorts().messageBox = &box;
  Publish("104");
  box.answer = 7;
  int nestedBoxes = -1;
  http.whileWaiting = [&] {
    const std::size_t before = box.shown.size();
    RunUpdateCheck(2);
    nestedBoxes = static_cast<int>(box.shown.size() - before);
  };
  RunUpdateCheck(2);
  EXPECT_EQ(nestedBoxes, 0);
  EXPECT_EQ(http.urls.size(), 1u);
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].text, "A new version is available. Do you want to download it now?");
  // The answer is part of the dialogue: the window still holds its close.
  EXPECT_EQ(box.depths, std::vector<int>{1});
  EXPECT_EQ(http.getsOutsideDialogue, 0);
  EXPECT_EQ(http.dialogues, 1);
  EXPECT_EQ(http.dialogueDepth, 0);

  // Once it is over, the next click checks again.
  http.whileWaiting = nullptr;
  RunUpdateCheck(2);
  EXPECT_EQ(http.urls.size(), 2u);
  EXPECT_EQ(http.dialogueDepth, 0);
}

using UpdateDialogue = UpdateTest;

TEST_F(UpdateDialogue, NewVersionAsksInTheUsersLanguageAndYesOpensTheSetup) {
  const struct {
    int16_t language;
    int answer;
    std::string text;
    uint32_t style;
    bool opens;
  } cases[] = {
      {1, 6, "Es existiert eine neue Version. Wollen Sie diese nun herunterladen?", 0x24, true},
      {1, 7, "Es existiert eine neue Version. Wollen Sie diese nun herunterladen?", 0x24, false},
      {2, 6, "A new version is available. Do you want to download it now?", 0x04, true},
      {2, 7, "A new version is available. Do you want to download it now?", 0x04, false},
      // Escape on a Yes/No box answers Cancel under Wine.
      {0, 2, "A new version is available. Do you want to download it now?", 0x04, false},
  };
  Publish("1.0.4\r\n");
  for (const auto& c : cases) {
    SCOPED_TRACE("language " + std::to_string(c.language) + ", answer " + std::to_string(c.answer));
    messageBox.shown.clear();
    shell.opened.clear();
    messageBox.answer = c.answer;
    RunUpdateCheck(c.language);
    ASSERT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(messageBox.shown[0].text, c.text);
    EXPECT_EQ(messageBox.shown[0].title, "Velmora");
    EXPECT_EQ(messageBox.shown[0].style, c.style);
    EXPECT_EQ(shell.opened, c.opens ? std::vector<std::string>{kSetupUrl} : std::vector<std::string>{});
  }
  ExpectNoVersionFileLeft();
}

TEST_F(UpdateDialogue, LatestAndFailedEachHaveTheirBox) {
  const std::string latestDe = "Sie setzen bereits die neuste Version ein.";
  const std::string latestEn = "You are already using the latest version.";
  const std::string failedDe =
      "Die Suche nach Updates ist fehlgeschlagen. Bitte versuchen Sie es sp\xC3\xA4ter noch einmal.";
  const std::string failedEn = "The update check failed. Please try again later.";
  const struct {
    const char* what;
    std::function<void()> serve;
    std::string de, en;
    uint32_t style;
  } cases[] = {
      {"same version", [&] { Publish("103\r\n"); }, latestDe, latestEn, 0x40},
      {"older version", [&] { Publish("1.0.2"); }, latestDe, latestEn, 0x40},
      {"unreachable", [&] { http.unreachable = true; }, failedDe, failedEn, 0x30},
      {"missing", [&] { http.pages.clear(); }, failedDe, failedEn, 0x30},
      {"server error", [&] { Publish("104", 500); }, failedDe, failedEn, 0x30},
      {"empty", [&] { Publish(""); }, failedDe, failedEn, 0x30},
      {"garbled", [&] { Publish("1.0.4-beta"); }, failedDe, failedEn, 0x30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    http.unreachable = false;
    c.serve();
    messageBox.shown.clear();
    messageBox.answer = 6;
    RunUpdateCheck(1);
    RunUpdateCheck(2);
    ASSERT_EQ(messageBox.shown.size(), 2u);
    EXPECT_EQ(messageBox.shown[0].text, c.de);
    EXPECT_EQ(messageBox.shown[1].text, c.en);
    for (const auto& shown : messageBox.shown) {
      EXPECT_EQ(shown.title, "Velmora");
      EXPECT_EQ(shown.style, c.style);
    }
  }
  EXPECT_TRUE(shell.opened.empty());
  EXPECT_TRUE(reportWindow.reports.empty());
  ExpectNoVersionFileLeft();
}

}  // namespace
}  // namespace velmora
