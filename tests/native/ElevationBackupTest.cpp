// The originals kept before Velmora changes ICQ's files, their restore, and
// the decision to ask for administrator rights with the elevated program's
// command line, against fake files and a fake elevation port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakePortsTest.h"
#include "services/basElevation.h"
#include "services/basMain.h"
#include "services/basTrust.h"
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
  ElevationPort::Outcome outcome{true, 0, {}};
  std::string report;  // what the elevated program writes into its report file
  std::vector<std::string> started;

  bool MayWrite(const std::string&) override { return mayWrite; }
  bool TokenIsLimited() override { return limited; }
  Outcome RunElevated(const std::string& arguments) override {
    started.push_back(arguments);
    Outcome answer = outcome;
    answer.report = report;
    return answer;
  }
  std::string NewToken() override {
    std::string token = std::to_string(++tokens);
    return std::string(32 - token.size(), '0') + token;
  }
  int tokens = 0;
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
  EXPECT_THAT(files.files[Backup() + "index.txt"].bytes, HasSubstr("0\t0\t0000000000000000\t-\t0\t0000000000000000\t" + kPicture + "\r\n"));

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

TEST(TrustRules, OnlyPlainLocalPathsAndIcqsFixedFilesPass) {
  // Windows compares folder names without case: these name one folder.
  EXPECT_EQ(BackupFolderName("C:\\Program Files\\ICQ6\\").substr(4),
            BackupFolderName("c:\\program files\\icq6\\\\").substr(4));
  EXPECT_NE(BackupFolderName("C:\\Program Files\\ICQ6\\"), BackupFolderName("D:\\Program Files\\ICQ6\\"));
  EXPECT_EQ(BackupFolderName("C:\\Program Files\\ICQ6\\").substr(0, 5), "ICQ6-");

  for (const char* good : {"C:\\", "C:\\Program Files\\ICQ6\\", "d:\\a b\\x.y.z", "C:\\ICQ\xc3\xa9\\con-x\\nul_"})
    EXPECT_TRUE(IsPlainLocalPath(good)) << good;
  for (const char* bad :
       {"", "C:", "C:ICQ6", "ICQ6\\", "\\\\server\\share\\", "\\\\?\\C:\\ICQ6", "\\\\.\\C:\\ICQ6",
        "C:\\ICQ6/..\\Windows", "C:\\ICQ6\\..\\Windows", "C:\\ICQ6\\.\\x", "C:\\ICQ6\\\\x",
        "C:\\ICQ6\\x:stream", "C:\\ICQ6.\\x", "C:\\ICQ6 \\x", "C:\\.\\xc0.\\x", "C:\\a\xed\xa0\x80",
        "C:\\ICQ6\\CON", "C:\\ICQ6\\nul.xml", "C:\\ICQ6\\Com1.txt", "C:\\ICQ6\\LPT9", "C:\\ICQ6\\AUX .x",
        "C:\\a\\b\x01", "C:\\a*"})
    EXPECT_FALSE(IsPlainLocalPath(bad)) << bad;

  for (const std::string& good : {kMsg, kCl, kPicture, kXml, std::string("configfiles\\defaults\\skin.xml")})
    EXPECT_TRUE(IsFixedSetPath(good)) << good;
  for (const char* bad :
       {"ICQ.exe", "services\\icqApp\\ver1\\theme\\x.dll", "services\\icqApp\\ver1\\theme\\MUICore\\a\\cl.jpg",
        "services\\icqApp\\ver1\\theme\\..\\..\\..\\ICQ.exe", "ConfigFiles\\Defaults\\",
        "ConfigFiles\\Defaults\\.xml", "ConfigFiles\\Defaults\\a\\b.xml", "ConfigFiles\\Defaults\\Skin.XML",
        "ConfigFiles\\Defaults\\NUL.xml", "ConfigFiles\\Defaults\\a:b.xml", "ConfigFiles\\Defaults\\..\\x.xml",
        "C:\\Windows\\x.xml"})
    EXPECT_FALSE(IsFixedSetPath(bad)) << bad;

  // An index is taken whole or not at all.
  const std::string heading = "Velmora backup of C:\\ICQ6\\\r\n";
  EXPECT_THROW(ParseBackupIndex(heading + "1\t1\t00\tC:\\Windows\\win.ini\r\n"), VbError);
  EXPECT_THROW(ParseBackupIndex(heading + "0\t0\t00\t" + kMsg + "\r\n0\t0\t00\tConfigFiles\\Defaults\\CON.xml\r\n"),
               VbError);
  EXPECT_THROW(ParseBackupIndex("0\t0\t00\t" + kMsg + "\r\n"), VbError);
  EXPECT_THROW(ParseBackupIndex("Velmora backup of \\\\pc\\icq\\\r\n0\t0\t00\t" + kMsg + "\r\n"), VbError);
  BackupIndex index{"C:\\ICQ6\\", {{kMsg, true, 13, 0xabc, true, true, 7, 0xdef}, {kPicture, false, 0, 0}}};
  const BackupIndex back = ParseBackupIndex(FormatBackupIndex(index));
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.folder, "C:\\ICQ6\\");
  EXPECT_EQ(back.entries[0].writtenHash, 0xdefu);
  EXPECT_FALSE(back.entries[1].writtenKnown);
  // An index of the earlier form knows nothing of what Velmora wrote.
  const BackupIndex old = ParseBackupIndex(heading + "1\t13\t0abc\t" + kMsg + "\r\n");
  ASSERT_EQ(old.entries.size(), 1u);
  EXPECT_EQ(old.entries[0].hash, 0xabcu);
  EXPECT_FALSE(old.entries[0].writtenKnown);
}

TEST(ElevatedCommandLine, QuotingSurvivesTheSplitAndOnlyOurCommandsPass) {
  const std::vector<std::string> args = {
      "/elevated",          "apply", "C:\\Program Files\\ICQ6\\", "C:\\Temp\\a b\\pic.tmp", "C:\\Temp\\say \"hi\"\\",
      "\\\\server\\share\\"};
  EXPECT_EQ(SplitCommandLine(QuoteArguments(args)), args);
  EXPECT_EQ(SplitCommandLine("Velmora.exe  /elevated \"a\\\\\" b"),
            (std::vector<std::string>{"Velmora.exe", "/elevated", "a\\", "b"}));

  const std::string channel(32, 'a');
  ElevatedCommand c;
  ASSERT_TRUE(ParseElevatedCommand({"/elevated", "remove-banners", "C:\\ICQ6", channel}, &c));
  EXPECT_EQ(c.icqFolder, "C:\\ICQ6\\");
  EXPECT_EQ(c.reportChannel, channel);
  ASSERT_TRUE(ParseElevatedCommand({"/elevated", "restore", "C:\\ICQ6", "C:\\B", channel}, &c));
  EXPECT_EQ(c.backupFolder, "C:\\B\\");
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"/elevated"},
      {"/elevated", "format", "C:\\ICQ6\\", channel},
      {"/elevated", "remove-banners", "C:\\ICQ6\\"},
      {"/elevated", "remove-banners", "C:\\ICQ6\\", "C:\\Temp\\r.tmp"},
      {"/elevated", "remove-banners", "C:\\ICQ6\\", channel + "0"},
      {"/elevated", "remove-banners", "C:\\ICQ6\\", std::string(32, 'G')},
      {"/elevated", "remove-banners", "C:\\ICQ6\\", channel, "extra"},
      {"/elevated", "remove-banners", "\\\\pc\\icq6\\", channel},
      {"/elevated", "remove-banners", "C:\\ICQ6/..\\Windows\\", channel},
      {"/elevated", "apply", "C:\\ICQ6\\", "\\\\?\\C:\\pic.bmp", channel},
      {"/elevated", "restore", "C:\\ICQ6\\", "\\\\.\\C:\\B\\", channel},
      {"/ELEVATED", "remove-banners", "C:\\ICQ6\\", channel},
      {"remove-banners", "/elevated", "C:\\ICQ6\\", channel},
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
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0], "/elevated");
  EXPECT_EQ(args[2], kIcq);

  // A declined prompt is a No; a failure shows the elevated program's report.
  elevation.outcome = {false, 0, {}};
  EXPECT_EQ(WithRights({kIcq}, work), Rights::Here);
  elevation.outcome = {true, 1, {}};
  elevation.report = "Error report of the elevated program";
  const std::string bitmap(42078, 'x');
  EXPECT_EQ(WithRights({kIcq}, {"apply", kIcq, {}, {}, {}}, bitmap), Rights::FailedElevated);
  EXPECT_EQ(reportWindow.reports, std::vector<std::string>{"Error report of the elevated program"});
  EXPECT_EQ(SplitCommandLine(elevation.started.back()).size(), 4u);
  EXPECT_EQ(SplitCommandLine(elevation.started.back())[3].substr(0, 24), "C:\\Temp\\Velmora-picture-");
  // The picture file is gone again.
  for (const auto& [path, file] : files.files) EXPECT_NE(path.substr(0, 8), "C:\\Temp\\") << path;
}

TEST_F(BackupTest, ElevatedProgramRefusesWhatItWasNotMadeFor) {
  files.AddFile("C:\\Temp\\pic.tmp", "BM not a picture");
  const std::string before = files.files[kIcq + kMsg].bytes;
  const std::string channel(32, '0');
  EXPECT_EQ(RunElevatedCommand({"apply", kIcq, "C:\\Temp\\pic.tmp", {}, channel}, reportWindow), 2);
  EXPECT_EQ(RunElevatedCommand({"remove-banners", "C:\\Windows\\", {}, {}, channel}, reportWindow), 2);
  // A network drive, for ICQ or for the picture.
  files.remoteDrives = "N";
  files.AddFile("N:\\ICQ6\\ICQ.exe", "MZ");
  EXPECT_EQ(RunElevatedCommand({"remove-banners", "N:\\ICQ6\\", {}, {}, channel}, reportWindow), 2);
  std::string bitmap(42078, '\0');
  const auto put = [&](std::size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) bitmap[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  };
  bitmap[0] = 'B', bitmap[1] = 'M';
  put(2, 42078, 4), put(10, 54, 4), put(14, 40, 4), put(18, 136, 4), put(22, 103, 4), put(26, 1, 2), put(28, 24, 2);
  ASSERT_TRUE(IsInstallableBitmap(bitmap));
  files.AddFile("N:\\pic.bmp", bitmap);
  EXPECT_EQ(RunElevatedCommand({"apply", kIcq, "N:\\pic.bmp", {}, channel}, reportWindow), 2);
  // A planted index: a backup that names a file outside the fixed set, and
  // one of another folder.
  files.AddFile("C:\\Temp\\b\\index.txt", "Velmora backup of " + kIcq + "\r\n0\t0\t00\tservices\\icqApp\\ver1\\theme\\x.dll\r\n");
  EXPECT_EQ(RunElevatedCommand({"restore", kIcq, {}, "C:\\Temp\\b\\", channel}, reportWindow), 2);
  files.AddFile("C:\\Temp\\b\\index.txt", "Velmora backup of D:\\ICQ6\\\r\n0\t0\t00\t" + kPicture + "\r\n");
  EXPECT_EQ(RunElevatedCommand({"restore", kIcq, {}, "C:\\Temp\\b\\", channel}, reportWindow), 2);
  EXPECT_EQ(files.files[kIcq + kMsg].bytes, before);
  EXPECT_EQ(files.files.count(kIcq + kPicture), 0u);
  EXPECT_TRUE(reportWindow.reports.empty());

  // A failure reaches the caller's channel, and only that.
  files.AddFile(kIcq + kMsg, "<style id=\"bannerStyle\">", FileSystemPort::kReadOnly);
  EXPECT_EQ(RunElevatedCommand({"remove-banners", kIcq, {}, {}, channel}, reportWindow), 1);
  ASSERT_EQ(reportWindow.reports.size(), 1u);
  EXPECT_THAT(reportWindow.reports[0], HasSubstr("clsKorvanel.RemoveMsgBanner"));
}

TEST_F(BackupTest, RestoreKeepsOthersChangesAndIsAllOrNothing) {
  // Velmora changes the files, then an ICQ update replaces one style file
  // and someone else puts a cl.jpg there.
  const std::vector<std::string> set = {kMsg, kCl, PictureFile()};
  clsBackup().KeepOriginals(kIcq, set);
  files.files[kIcq + kMsg].bytes = "message style, Velmora's";
  files.files[kIcq + kCl].bytes = "contact list style, Velmora's";
  files.AddFile(kIcq + kPicture, "BM Velmora's picture");
  clsBackup().NoteWritten(kIcq, set);
  files.files[kIcq + kCl].bytes = "contact list style of ICQ 6.5";
  EXPECT_EQ(clsBackup::ChangedByOthers(kIcq, Backup()), std::vector<std::string>{kCl});

  // The next removal takes the update as the original.
  clsBackup().KeepOriginals(kIcq, set);
  EXPECT_EQ(files.files[Backup() + kCl].bytes, "contact list style of ICQ 6.5");
  EXPECT_EQ(files.files[Backup() + kMsg].bytes, "message style");
  files.files[kIcq + kCl].bytes = "contact list style 6.5, Velmora's";
  clsBackup().NoteWritten(kIcq, set);
  files.files[kIcq + kPicture].bytes = "BM another program's picture";

  // A swap that fails puts back the ones before it: nothing changes.
  const std::map<std::string, testing::FakeFiles::File> before = files.files;
  files.files[kIcq + kCl].attributes = FileSystemPort::kReadOnly;
  const VbError failed = RaisedBy([&] { clsBackup().Restore(kIcq, Backup()); });
  EXPECT_EQ(failed.Number(), 75);
  EXPECT_THAT(ReportText(), HasSubstr(kCl));
  files.files[kIcq + kCl].attributes = FileSystemPort::kArchive;
  EXPECT_EQ(files.files, before);

  testing::ResetErrorLibrary();
  EXPECT_EQ(clsBackup().Restore(kIcq, Backup()), std::vector<std::string>{kPicture});
  EXPECT_EQ(files.files[kIcq + kMsg].bytes, "message style");
  EXPECT_EQ(files.files[kIcq + kCl].bytes, "contact list style of ICQ 6.5");
  EXPECT_EQ(files.files[kIcq + kPicture].bytes, "BM another program's picture");
  EXPECT_TRUE(files.FileNames("C:\\Program Files\\ICQ6\\services\\icqApp\\ver1\\theme\\MUICore").size() == 2u);
}

}  // namespace
}  // namespace velmora
