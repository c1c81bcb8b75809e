// The originals kept before Velmora changes ICQ's files, their restore, and
// the decision to ask for administrator rights with the elevated program's
// command line, against fake files and a fake elevation port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakePortsTest.h"
#include "services/basElevation.h"
#include "services/basMain.h"
#include "services/clsBackup.h"

namespace velmora {
namespace {

using ::testing::HasSubstr;
using testing::RaisedBy;

const std::string kIcq = "C:\\Program Files\\ICQ6\\";
const std::string kAppData = "C:\\Users\\Anna\\AppData\\Local\\";
const std::string kMsg = "services\\icqApp\\ver1\\theme\\MUIMessage\\MsgSessionDlg.style.box";
const std::string kCl = "services\\icqApp\\ver1\\theme\\MUICore\\MainDlgPanelOwner.style.box";
const std::string kPicture = "services\\icqApp\\ver1\\theme\\MUICore\\cl.jpg";
const std::string kXml = "ConfigFiles\\Defaults\\Main.xml";

class FakeElevation : public ElevationPort {
 public:
  bool mayWrite = true, limited = false;
  ElevationPort::Outcome outcome{true, 0};
  std::string report;  // what the elevated program writes into its report file
  std::vector<std::string> started;
  testing::FakeFiles* files = nullptr;

  bool MayWrite(const std::string&) override { return mayWrite; }
  bool TokenIsLimited() override { return limited; }
  Outcome RunElevated(const std::string& arguments) override {
    started.push_back(arguments);
    const std::vector<std::string> args = SplitCommandLine(arguments);
    if (files && !report.empty()) files->files[args.back()].bytes = report;
    return outcome;
  }
};

class BackupTest : public testing::FakePortsTest {
 protected:
  BackupTest() {
    files.folders = {
        "C:",      "C:\\Users", "C:\\Users\\Anna", "C:\\Users\\Anna\\AppData", "C:\\Users\\Anna\\AppData\\Local",
        "C:\\Temp"};
    files.AddFile(kIcq + "ICQ.exe", "MZ");
    files.AddFile(kIcq + kMsg, "message style");
    files.AddFile(kIcq + kCl, "contact list style");
    files.AddFile(kIcq + kXml, "<defaults/>");
    files.AddFile(kIcq + "ConfigFiles\\Defaults\\Skin.XML", "kept");
    ThePorts().elevation = &elevation;
    ThePorts().messageBox = &messageBox;
    ThePorts().reportWindow = &reportWindow;
    elevation.files = &files;
    CurrentLanguage = 2;
  }
  std::string Backup() const { return kAppData + "Velmora\\Backup\\" + BackupFolderName(kIcq) + "\\"; }

  FakeElevation elevation;
  testing::RecordingMessageBox messageBox;
  testing::RecordingReportWindow reportWindow;
};

TEST_F(BackupTest, FirstOriginalsAreKeptAndRestoredByteForByte) {
  EXPECT_EQ(BannerRemovalFiles(kIcq), (std::vector<std::string>{kMsg, kCl, kXml}));
  clsBackup().KeepOriginals(kIcq, BannerRemovalFiles(kIcq));
  clsBackup().KeepOriginals(kIcq, {PictureFile()});
  ASSERT_TRUE(clsBackup::Exists(kIcq));
  EXPECT_EQ(clsBackup::FolderFor(kIcq), Backup());
  EXPECT_EQ(files.files[Backup() + kMsg].bytes, "message style");
  EXPECT_THAT(files.files[Backup() + "index.txt"].bytes, HasSubstr("0\t0\t0000000000000000\t" + kPicture + "\r\n"));

  // The changes, then a second round that must not replace the originals.
  files.files[kIcq + kMsg].bytes = "edited";
  files.files.erase(kIcq + kXml);
  files.AddFile(kIcq + kPicture, "BM picture");
  clsBackup().KeepOriginals(kIcq, {kMsg, kCl, PictureFile()});
  EXPECT_EQ(files.files[Backup() + kMsg].bytes, "message style");

  clsBackup().Restore(kIcq, Backup());
  EXPECT_EQ(files.files[kIcq + kMsg].bytes, "message style");
  EXPECT_EQ(files.files[kIcq + kXml].bytes, "<defaults/>");
  EXPECT_EQ(files.files.count(kIcq + kPicture), 0u);
  EXPECT_EQ(files.files[kIcq + "ConfigFiles\\Defaults\\Skin.XML"].bytes, "kept");
}

TEST_F(BackupTest, DamagedCopyOrUnwritableBackupChangesNothing) {
  clsBackup().KeepOriginals(kIcq, {kMsg, kCl});
  files.files[kIcq + kMsg].bytes = "edited";
  files.files[kIcq + kCl].bytes = "edited too";
  files.files[Backup() + kCl].bytes = "damaged";
  EXPECT_EQ(RaisedBy([&] { clsBackup().Restore(kIcq, Backup()); }).Number(), 5);
  EXPECT_EQ(files.files[kIcq + kMsg].bytes, "edited");

  // The backup folder of another ICQ is a file: no backup, a report.
  const std::string other = "D:\\ICQ\\";
  files.AddFile(kAppData + "Velmora\\Backup\\" + BackupFolderName(other), "in the way");
  const VbError e = RaisedBy([&] { clsBackup().KeepOriginals(other, {kMsg}); });
  EXPECT_EQ(e.Number(), 58);
  EXPECT_THAT(ReportText(), HasSubstr("clsBackup.KeepOriginals"));
}

TEST(BackupNames, FolderNameAndIndexRefuseWhatIsNotOurs) {
  // Windows compares folder names without case: these name one folder.
  EXPECT_EQ(BackupFolderName("C:\\Program Files\\ICQ6\\").substr(4),
            BackupFolderName("c:\\program files\\icq6\\\\").substr(4));
  EXPECT_NE(BackupFolderName("C:\\Program Files\\ICQ6\\"), BackupFolderName("D:\\Program Files\\ICQ6\\"));
  EXPECT_EQ(BackupFolderName("C:\\Program Files\\ICQ6\\").substr(0, 5), "ICQ6-");
  EXPECT_TRUE(IsChangeablePath(kMsg));
  EXPECT_TRUE(IsChangeablePath(kXml));
  for (const char* bad :
       {"ICQ.exe", "services\\icqApp\\ver1\\theme\\..\\..\\..\\ICQ.exe", "ConfigFiles\\Defaults\\",
        "ConfigFiles\\Defaults\\a:stream", "..\\x", "services\\icqApp\\ver1\\theme\\\\x", "C:\\Windows\\x"})
    EXPECT_FALSE(IsChangeablePath(bad)) << bad;
  EXPECT_THROW(ParseBackupIndex("1\t1\t00\tC:\\Windows\\win.ini\r\n"), VbError);
  const std::vector<BackupEntry> entries = {{kMsg, true, 13, 0xabc}, {kPicture, false, 0, 0}};
  const std::vector<BackupEntry> back = ParseBackupIndex(FormatBackupIndex(entries));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].hash, 0xabcu);
  EXPECT_FALSE(back[1].existed);
}

TEST(ElevatedCommandLine, QuotingSurvivesTheSplitAndOnlyOurCommandsPass) {
  const std::vector<std::string> args = {
      "/elevated",          "apply", "C:\\Program Files\\ICQ6\\", "C:\\Temp\\a b\\pic.tmp", "C:\\Temp\\say \"hi\"\\",
      "\\\\server\\share\\"};
  EXPECT_EQ(SplitCommandLine(QuoteArguments(args)), args);
  EXPECT_EQ(SplitCommandLine("Velmora.exe  /elevated \"a\\\\\" b"),
            (std::vector<std::string>{"Velmora.exe", "/elevated", "a\\", "b"}));

  ElevatedCommand c;
  ASSERT_TRUE(ParseElevatedCommand({"/elevated", "remove-banners", "C:\\ICQ6\\\\", "C:\\Temp\\r.tmp"}, &c));
  EXPECT_EQ(c.icqFolder, "C:\\ICQ6\\");
  ASSERT_TRUE(ParseElevatedCommand({"/elevated", "restore", "C:\\ICQ6", "C:\\B", "\\\\pc\\t\\r.tmp"}, &c));
  EXPECT_EQ(c.backupFolder, "C:\\B\\");
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"/elevated"},
      {"/elevated", "format", "C:\\ICQ6\\", "C:\\Temp\\r.tmp"},
      {"/elevated", "remove-banners", "C:\\ICQ6\\"},
      {"/elevated", "remove-banners", "C:\\ICQ6\\", "C:\\Temp\\r.tmp", "extra"},
      {"/elevated", "remove-banners", "ICQ6\\", "C:\\Temp\\r.tmp"},
      {"/elevated", "remove-banners", "C:ICQ6\\", "C:\\Temp\\r.tmp"},
      {"/elevated", "remove-banners", "C:\\ICQ6\\..\\Windows\\", "C:\\Temp\\r.tmp"},
      {"/elevated", "apply", "C:\\ICQ6\\", "pic.bmp", "C:\\Temp\\r.tmp"},
      {"/ELEVATED", "remove-banners", "C:\\ICQ6\\", "C:\\Temp\\r.tmp"},
      {"remove-banners", "/elevated", "C:\\ICQ6\\", "C:\\Temp\\r.tmp"},
  };
  for (const auto& line : refused) EXPECT_FALSE(ParseElevatedCommand(line, &c)) << QuoteArguments(line);
}

TEST_F(BackupTest, RightsAreAskedForOnlyWhereAskingHelps) {
  const ElevatedCommand work{"remove-banners", kIcq, {}, {}, {}};
  // May write, or may not but cannot get more (XP, UAC off): no question.
  EXPECT_EQ(WithRights({kIcq}, work), Rights::Here);
  elevation.mayWrite = false;
  EXPECT_EQ(WithRights({kIcq}, work), Rights::Here);
  EXPECT_TRUE(messageBox.shown.empty());

  elevation.limited = true;
  messageBox.answer = 7;  // No
  EXPECT_EQ(WithRights({kIcq}, work), Rights::Here);
  ASSERT_EQ(messageBox.shown.size(), 1u);
  EXPECT_EQ(messageBox.shown[0].text,
            "Velmora needs administrator rights to change ICQ's files in C:\\Program Files\\ICQ6. Continue as "
            "administrator?");
  EXPECT_EQ(messageBox.shown[0].style, MessageBoxPort::kYesNoElevate);
  EXPECT_TRUE(elevation.started.empty());

  CurrentLanguage = 1;
  messageBox.answer = 6;
  EXPECT_EQ(WithRights({kIcq}, work), Rights::DoneElevated);
  EXPECT_EQ(messageBox.shown[1].text,
            "Velmora benötigt Administratorrechte, um die Dateien von ICQ in C:\\Program Files\\ICQ6 zu ändern. Als "
            "Administrator fortfahren?");
  const std::vector<std::string> args = SplitCommandLine(elevation.started.at(0));
  ASSERT_EQ(args.size(), 4u);
  EXPECT_EQ(args[0], "/elevated");
  EXPECT_EQ(args[2], kIcq);
  EXPECT_EQ(args[3].substr(0, 8), "C:\\Temp\\");

  // A declined prompt is a No; a failure shows the elevated program's report.
  elevation.outcome = {false, 0};
  EXPECT_EQ(WithRights({kIcq}, work), Rights::Here);
  elevation.outcome = {true, 1};
  elevation.report = "Error report of the elevated program";
  const std::string bitmap(42078, 'x');
  EXPECT_EQ(WithRights({kIcq}, {"apply", kIcq, {}, {}, {}}, bitmap), Rights::FailedElevated);
  EXPECT_EQ(reportWindow.reports, std::vector<std::string>{"Error report of the elevated program"});
  EXPECT_EQ(SplitCommandLine(elevation.started.back()).size(), 5u);
  // The picture and report files are gone again.
  for (const auto& [path, file] : files.files) EXPECT_NE(path.substr(0, 8), "C:\\Temp\\") << path;
}

TEST_F(BackupTest, ElevatedProgramRefusesWhatItWasNotMadeFor) {
  files.AddFile("C:\\Temp\\report.tmp", "");
  files.AddFile("C:\\Temp\\pic.tmp", "BM not a picture");
  const std::string before = files.files[kIcq + kMsg].bytes;
  ElevatedCommand c{"apply", kIcq, "C:\\Temp\\pic.tmp", {}, "C:\\Temp\\report.tmp"};
  EXPECT_EQ(RunElevatedCommand(c), 2);
  c = {"remove-banners", "C:\\Windows\\", {}, {}, "C:\\Temp\\report.tmp"};
  EXPECT_EQ(RunElevatedCommand(c), 2);
  files.files["C:\\Temp\\report.tmp"].bytes = "someone's text";
  c = {"remove-banners", kIcq, {}, {}, "C:\\Temp\\report.tmp"};
  EXPECT_EQ(RunElevatedCommand(c), 2);
  EXPECT_EQ(files.files["C:\\Temp\\report.tmp"].bytes, "someone's text");
  EXPECT_EQ(files.files[kIcq + kMsg].bytes, before);
  EXPECT_EQ(files.files.count(kIcq + kPicture), 0u);
}

}  // namespace
}  // namespace velmora
