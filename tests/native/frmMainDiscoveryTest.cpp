// Finding ICQ at start-up, as the main window does it: the existence test on
// registered paths that cannot be looked at, and where the shared settings
// store points once the discovery is over, however it ended.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "FakePortsTest.h"
#include "services/basMain.h"
#include "services/clsReg.h"
#include "windows/frmMainDiscovery.h"

namespace velmora {
namespace {

using namespace frmMainDiscovery;
using testing::CallStack;
using testing::FakeFacts;
using testing::FakeFiles;
using testing::PortsScope;
using testing::RaisedBy;
using testing::RecordingMessageBox;

constexpr RegistryPort::Key kUser = HKEY_CURRENT_USER_VALUE;
constexpr RegistryPort::Key kMachine = HKEY_LOCAL_MACHINE_VALUE;
const std::string kOwnKey = "SOFTWARE\\velmora.example\\Velmora\\Settings";
const std::string kAppPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ICQ.exe";
const std::string kQuestion = "ICQ.exe could not be found would you like to search it?";

// Keys by root and path, each with its string values; every write recorded.
class FakeRegistry : public RegistryPort {
 public:
  using Where = std::pair<Key, std::string>;
  std::map<Where, std::map<std::string, std::string>> keys;
  std::vector<std::string> writes;  // "root|key|name=value"

  int32_t OpenKey(Key root, const std::string& subKey, uint32_t, uint32_t, Key* result) override {
    if (!keys.count({root, subKey})) return 2;
    return Handle(root, subKey, result);
  }
  int32_t QueryValue(Key key, const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    const auto& values = keys[open_.at(key - 1)];
    const auto it = values.find(name);
    if (it == values.end()) return 2;
    *type = 1;
    if (data) {
      if (*size < it->second.size()) return 234;
      std::copy(it->second.begin(), it->second.end(), data);
    }
    *size = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  int32_t CreateKey(Key root, const std::string& subKey, uint32_t, uint32_t, Key* result) override {
    keys[{root, subKey}];
    return Handle(root, subKey, result);
  }
  int32_t SetValue(Key key, const std::string& name, uint32_t, const uint8_t* data, uint32_t size) override {
    const Where& where = open_.at(key - 1);
    keys[where][name] = std::string(data, data + size);
    writes.push_back(std::to_string(where.first) + "|" + where.second + "|" + name + "=" + keys[where][name]);
    return 0;
  }
  int32_t CloseKey(Key) override { return 0; }

 private:
  int32_t Handle(Key root, const std::string& subKey, Key* result) {
    open_.push_back({root, subKey});
    *result = open_.size();
    return 0;
  }
  std::vector<Where> open_;
};

class NoMainWindow : public MainWindowTexts {
 public:
  void SetControlText(const std::string&, const std::string&) override {}
};

class Discovery : public testing::FakePortsTest {
 protected:
  Discovery() {
    ThePorts().registry = &registry;
    ThePorts().messageBox = &messageBox;
    CurrentLanguage = 0;
    messageBox.answer = 7;  // No: no search
    TheMainWindow = []() -> MainWindowTexts& {
      static NoMainWindow window;
      return window;
    };
    SetRegKey(true);
  }
  ~Discovery() override { TheMainWindow = nullptr; }

  void Register(const std::string& path) { registry.keys[{kMachine, kAppPaths}]["Path"] = path; }

  // What the language and the settings window's OK write after the start-up:
  // both write to whatever key the shared store is on.
  void WriteSettingsAsTheWindowsDo() {
    SetLanguage(2);
    RegStore().WriteEntry("CloseAfterChange", "1");
  }
  void ExpectOwnKeyOnly() {
    EXPECT_EQ(RegStore().RootKey(), HKEY_CURRENT_USER_VALUE);
    EXPECT_EQ(RegStore().KeyPath(), kOwnKey);
    const std::string own = std::to_string(kUser) + "|" + kOwnKey + "|";
    EXPECT_EQ(registry.writes, (std::vector<std::string>{own + "Language=2", own + "CloseAfterChange=1"}));
  }

  FakeRegistry registry;
  RecordingMessageBox messageBox;
};

TEST_F(Discovery, RegisteredFolderWithICQExeIsTakenWithoutAQuestion) {
  Register("C:\\Program Files\\ICQ6");
  files.AddFile("C:\\Program Files\\ICQ6\\ICQ.exe", "MZ");
  EXPECT_EQ(GetICQPath(), "C:\\Program Files\\ICQ6\\");
  EXPECT_TRUE(messageBox.shown.empty());
  WriteSettingsAsTheWindowsDo();
  ExpectOwnKeyOnly();
}

// A folder named ICQ.exe is no program; a registered folder without ICQ.exe
// brings the question.
TEST_F(Discovery, RightICQPathWantsAFile) {
  files.folders.insert("C:\\ICQ6\\ICQ.exe");
  EXPECT_FALSE(RightICQPath("C:\\ICQ6\\"));
  EXPECT_FALSE(RightICQPath("C:\\Elsewhere\\"));
  files.AddFile("C:\\ICQ7\\ICQ.exe", "MZ");
  EXPECT_TRUE(RightICQPath("C:\\ICQ7\\"));
}

// What the system answers for a path in quotes (a bad name), on a drive or
// share that is gone, a drive without its disk, a folder this user may not
// look into, a network that is down: each is "not there", never a failure,
// and nothing of it lingers in the error library.
TEST_F(Discovery, EveryFailureOfTheExistenceTestAnswersNotThere) {
  for (const uint32_t code : {123u, 3u, 15u, 21u, 53u, 67u, 5u, 59u, 64u, 1231u, 161u, 267u}) {
    SCOPED_TRACE(code);
    files.failures["Attributes"] = {code};
    EXPECT_FALSE(RightICQPath("\"C:\\Program Files\\ICQ6\"\\"));
    EXPECT_EQ(Err().Number, 0);
    EXPECT_TRUE(ReportText().empty());
  }
}

// The registered paths a user's system may hold: each gives the question and
// no report, and the settings written afterwards go to the program's own key
// while ICQ's registration stays as it was.
TEST_F(Discovery, UnusableRegisteredPathsAskTheUserAndTheSettingsStayInTheOwnKey) {
  const struct {
    std::string path;
    uint32_t failure;
  } cases[] = {
      {"\"C:\\Program Files\\ICQ6\"", 123},  // in quotes: a bad name
      {"Q:\\ICQ", 3},                        // a drive that is not there
      {"\\\\gone\\apps\\ICQ6", 53},          // a share that is gone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Register(c.path);
    registry.writes.clear();
    messageBox.shown.clear();
    files.failures["Attributes"] = {c.failure};
    EXPECT_EQ(GetICQPath(), "");
    ASSERT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(messageBox.shown[0].text, kQuestion);
    EXPECT_EQ(files.calls, std::vector<std::string>{"Attributes " + c.path + "\\ICQ.exe"});
    files.calls.clear();
    WriteSettingsAsTheWindowsDo();
    ExpectOwnKeyOnly();
    const std::map<std::string, std::string> registration = {{"Path", c.path}};
    EXPECT_EQ(registry.keys[FakeRegistry::Where(kMachine, kAppPaths)], registration);
  }
}

// The user's pick in the search dialog: the file must be named ICQ.exe, in
// any case of its letters; the answer is its folder.
TEST_F(Discovery, SearchTakesAFileNamedICQExeInAnyCase) {
  struct PickedFile : FileDialogPort {
    std::string path;
    bool ShowOpen(const std::string&, std::string* fileName) override {
      *fileName = path;
      return true;
    }
  } dialog;
  ThePorts().fileDialog = &dialog;
  messageBox.answer = 6;  // Yes: search
  const struct {
    std::string picked, folder;
  } cases[] = {
      {"C:\\Program Files\\ICQ6\\ICQ.exe", "C:\\Program Files\\ICQ6\\"},
      {"C:\\Program Files\\ICQ6\\icq.exe", "C:\\Program Files\\ICQ6\\"},
      {"D:\\Apps\\ICQ\\Icq.EXE", "D:\\Apps\\ICQ\\"},
      {"Z:/home/user/icq6/ICQ.exe", "Z:/home/user/icq6/"},
      {"C:\\ICQ6\\NotICQ.exe", ""},
      {"C:\\ICQ6\\FooICQ.exe", ""},
      {"C:\\ICQ6\\ICQ.exe.lnk", ""},
      {"C:\\ICQ.exe\\setup.exe", ""},
      {"C:\\ICQ6\\\xC3\x8D" "CQ.exe", ""},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picked);
    dialog.path = c.picked;
    messageBox.shown.clear();
    EXPECT_EQ(SelfSearch(), c.folder);
    const bool refused = c.folder.empty();
    ASSERT_EQ(messageBox.shown.size(), refused ? 2u : 1u);
    if (refused) {
      EXPECT_EQ(messageBox.shown[1].text, "You have chosen a wrong path");
    }
  }
}

// A discovery that fails on the way (here the question cannot be shown) is
// reported through its traps as before, and still leaves the shared store on
// the program's own key: what is written next does not land in ICQ's.
TEST_F(Discovery, FailedDiscoveryLeavesTheStoreOnTheOwnKey) {
  ThePorts().messageBox = nullptr;
  const VbError e = RaisedBy([] { GetICQPath(); });
  EXPECT_EQ(e.Number(), 91);
  EXPECT_EQ(CallStack(e.Description()), (std::vector<std::string>{"frmMain.SelfSearch", "frmMain.GetICQPath"}));
  testing::ResetErrorLibrary();
  WriteSettingsAsTheWindowsDo();
  ExpectOwnKeyOnly();
  EXPECT_EQ(registry.keys.count(FakeRegistry::Where(kMachine, kAppPaths)), 0u)
      << "nothing was created in ICQ's registration";
}

}  // namespace
}  // namespace velmora
