// The banner edits: the head replacement rule, the two remove operations and
// their checks on ICQ's style files, and the clearing of the defaults folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "IcqFixture.h"
#include "FakePortsTest.h"
#include "theme/clsKorvanel.h"

namespace velmora {
namespace {

using ::testing::StartsWith;
using testing::FakeFiles;
using testing::CallStack;
using testing::RaisedBy;
using testing::ReportLines;
using testing::FakePortsTest;

// ---- head replacement ----------------------------------------------------

std::string Edited(std::string text, std::string_view search, std::string_view replacement,
                   bool expectApplied = true) {
  EXPECT_EQ(ReplaceHead(text, search, replacement), expectApplied);
  return text;
}

TEST(ReplaceHead, DropsTheHeadsAttributesAndKeepsWhatFollowsIt) {
  EXPECT_EQ(Edited("a<style id=\"bannerStyle\" width=\"468\" height=\"60\">\r\n<b/></style>z", S2, A2),
            std::string("a") + std::string(A2) + "\r\n<b/></style>z");
  EXPECT_EQ(Edited("<x/><style id=\"adBoxStyle\" w=\"\xE4\x81\"/>\xFF", S4, A4),
            "<x/>" + std::string(A4) + "\xFF");
}

TEST(ReplaceHead, EveryOccurrenceOfTheFirstHeadAndNoOtherHead) {
  const std::string first = "<style id=\"bannerStyle\" width=\"468\">";
  const std::string other = "<style id=\"bannerStyle\" width=\"120\">";
  const std::string a2(A2);
  EXPECT_EQ(Edited(first + "1" + other + "2" + first + first, S2, A2), a2 + "1" + other + "2" + a2 + a2);
  // Case counts, for the search and for the head.
  EXPECT_EQ(Edited("<Style id=\"bannerStyle\">", S2, A2, false), "<Style id=\"bannerStyle\">");
  EXPECT_EQ(Edited(first + "<STYLE id=\"bannerStyle\" width=\"468\">", S2, A2),
            a2 + "<STYLE id=\"bannerStyle\" width=\"468\">");
  EXPECT_EQ(Edited("no heads here", S2, A2, false), "no heads here");
}

TEST(ReplaceHead, HeadEndsAtTheFirstGreaterThanSign) {
  // Plain text, no parser: a ">" inside an attribute value ends the head.
  EXPECT_EQ(Edited("<style id=\"adBoxStyle\" title=\"a>b\" width=\"1\" />", S4, A4),
            std::string(A4) + "b\" width=\"1\" />");
  // The search for ">" starts where the search text starts, so a head can be
  // shorter than the search text: here it is ">" alone.
  EXPECT_EQ(Edited("x>y>", ">y", "[]"), "x[]y[]");
  // Such a head is replaced wherever it is, before the search text as well.
  EXPECT_EQ(Edited("a>xa>b>", "a>b", "[]"), "[]x[]b>");
}

TEST(ReplaceHead, HeadWithoutGreaterThanSign) {
  // Anywhere but at the start: invalid argument, and the text stays whole.
  std::string text = "<a/>\r\n<style id=\"adBoxStyle\" width=\"120";
  const std::string before = text;
  try {
    ReplaceHead(text, S4, A4);
    ADD_FAILURE() << "expected error 5";
  } catch (const VbError& e) {
    EXPECT_EQ(e.Number(), 5);
    EXPECT_EQ(e.Description(), "Invalid procedure call or argument");
  }
  EXPECT_EQ(text, before);
  // At the very start the head is empty: nothing replaced, yet applied.
  EXPECT_EQ(Edited("<style id=\"adBoxStyle\" width=\"120", S4, A4), "<style id=\"adBoxStyle\" width=\"120");
}

TEST(ReplaceHead, ReplacementsThatHoldTheirSearchTextAreStableOnASecondRun) {
  const struct {
    std::string_view search, replacement;
  } edits[] = {{S1, A1}, {S2, A2}, {S3, A3}, {S4, A4}, {S5, A5}};
  for (const auto& edit : edits) {
    const std::string once = Edited("<r>" + std::string(edit.search) + " a=\"1\">" + std::string(edit.search) +
                                        " a=\"1\"></r>",
                                    edit.search, edit.replacement);
    EXPECT_EQ(once, "<r>" + std::string(edit.replacement) + std::string(edit.replacement) + "</r>");
    EXPECT_EQ(Edited(once, edit.search, edit.replacement), once);
  }
}

// ---- the remove operations and their checks ------------------------------

const std::string kTheme = "C:\\ICQ6\\services\\icqApp\\ver1\\theme";
const std::string kMsgFile = kTheme + "\\MUIMessage\\MsgSessionDlg.style.box";
const std::string kClFile = kTheme + "\\MUICore\\MainDlgPanelOwner.style.box";
const std::string kDefaults = "C:\\ICQ6\\ConfigFiles\\Defaults\\";

const std::string kAreaHead = "<style id=\"FeaturesBannerArea\" height=\"96\" minHeight=\"96\"/>";
const std::string kBannerHead = "<style id=\"bannerStyle\" width=\"468\" height=\"60\">";
const std::string kImageHead = "<bitmap id=\"image.icqBanner.bg\" src=\"banner_bg.png\" />";
const std::string kAdBoxHead = "<style id=\"adBoxStyle\" width=\"120\" height=\"90\" />";
const std::string kContainerHead = "<style id=\"adContainerBoxStyle\" marginLeft=\"4\" width=\"126\">";

class KorvanelTest : public FakePortsTest {
 protected:
  KorvanelTest() {
    korvanel.MsgConfigFile(kMsgFile);
    korvanel.ClThemeFile(kClFile);
    korvanel.DefaultsFolder(kDefaults);
  }
  std::string& Content(const std::string& path) { return files.files[path].bytes; }

  clsKorvanel korvanel;
};

TEST_F(KorvanelTest, MessageFileWithBothHeadsIsRewrittenOnce) {
  files.AddFile(kMsgFile, "<s>\r\n" + kAreaHead + "\r\n" + kBannerHead + "<i/></style>\r\n</s>");
  EXPECT_FALSE(korvanel.MsgBannerIsRemoved());
  EXPECT_TRUE(korvanel.RemoveMsgBanner());
  EXPECT_EQ(Content(kMsgFile), "<s>\r\n" + std::string(A1) + "\r\n" + std::string(A2) + "<i/></style>\r\n</s>");
  EXPECT_EQ(files.Count("ReplaceKeeping"), 1);
  EXPECT_TRUE(korvanel.MsgBannerIsRemoved());
}

TEST_F(KorvanelTest, FilesWithoutTheirHeadsAreNotWritten) {
  // Not even trimmed: an untouched file keeps its blanks.
  files.AddFile(kMsgFile, "  <s><style id=\"other\"/></s>  ");
  files.AddFile(kClFile, "  " + kAdBoxHead + kContainerHead + "  ");
  EXPECT_FALSE(korvanel.RemoveMsgBanner());
  // No image head: nothing changes, although both box heads are there.
  EXPECT_FALSE(korvanel.RemoveClBanner());
  EXPECT_EQ(Content(kMsgFile), "  <s><style id=\"other\"/></s>  ");
  EXPECT_EQ(Content(kClFile), "  " + kAdBoxHead + kContainerHead + "  ");
  // The image head alone is not enough either.
  Content(kClFile) = kImageHead + kContainerHead;
  EXPECT_FALSE(korvanel.RemoveClBanner());
  EXPECT_EQ(Content(kClFile), kImageHead + kContainerHead);
  EXPECT_EQ(files.Count("WriteNew"), 0);
  EXPECT_EQ(files.Count("MoveOver"), 0);
}

TEST_F(KorvanelTest, MessageCheckLooksAtTheBannerHeadOnly) {
  files.AddFile(kMsgFile, kBannerHead + "</style>");
  EXPECT_TRUE(korvanel.RemoveMsgBanner());
  EXPECT_TRUE(korvanel.MsgBannerIsRemoved());
  Content(kMsgFile) = kAreaHead;
  EXPECT_TRUE(korvanel.RemoveMsgBanner());
  EXPECT_EQ(Content(kMsgFile), A1);
  EXPECT_FALSE(korvanel.MsgBannerIsRemoved());
}

TEST_F(KorvanelTest, ContactListFileWithoutContainerHeadGetsImageAndBoxEdits) {
  files.AddFile(kClFile, "<r>" + kImageHead + "</r>\r\n<s>" + kAdBoxHead + "</s>");
  EXPECT_FALSE(korvanel.ClBannerIsRemoved());
  EXPECT_TRUE(korvanel.RemoveClBanner());
  EXPECT_EQ(Content(kClFile), "<r>" + std::string(A3) + "</r>\r\n<s>" + std::string(A4) + "</s>");
  EXPECT_TRUE(korvanel.ClBannerIsRemoved());
}

TEST_F(KorvanelTest, RunningTheEditsTwiceGivesWhatOnceGives) {
  files.AddFile(kMsgFile, "  " + kAreaHead + kBannerHead + kBannerHead + "  ");
  files.AddFile(kClFile, " " + kContainerHead + kAdBoxHead + "</style>" + kImageHead + kAdBoxHead + " ");
  ASSERT_TRUE(korvanel.RemoveMsgBanner());
  ASSERT_TRUE(korvanel.RemoveClBanner());
  const std::string msgOnce = Content(kMsgFile), clOnce = Content(kClFile);
  // The blanks around the content are gone with the first rewrite.
  EXPECT_EQ(msgOnce, std::string(A1) + std::string(A2) + std::string(A2));
  EXPECT_EQ(clOnce, std::string(A5) + std::string(A4) + "</style>" + std::string(A3) + std::string(A4));
  EXPECT_TRUE(korvanel.RemoveMsgBanner());
  EXPECT_TRUE(korvanel.RemoveClBanner());
  EXPECT_EQ(Content(kMsgFile), msgOnce);
  EXPECT_EQ(Content(kClFile), clOnce);
}

TEST_F(KorvanelTest, MissingStyleFilesAreNotRemovedAndNotMade) {
  files.folders.insert(FakeFiles::Parent(kMsgFile));
  files.folders.insert(FakeFiles::Parent(kClFile));
  EXPECT_FALSE(korvanel.RemoveMsgBanner());
  EXPECT_FALSE(korvanel.RemoveClBanner());
  EXPECT_FALSE(korvanel.MsgBannerIsRemoved());
  EXPECT_FALSE(korvanel.ClBannerIsRemoved());
  EXPECT_TRUE(files.files.empty());
}

TEST_F(KorvanelTest, BrokenImageHeadFailsThroughBothTrapsAndWritesNothing) {
  const std::string broken = "<r>\r\n" + kAdBoxHead + "<bitmap id=\"image.icqBanner.bg\" src=\"x";
  files.AddFile(kClFile, broken);
  const VbError e = RaisedBy([&] { korvanel.RemoveClBanner(); });
  EXPECT_EQ(e.Number(), 5);
  EXPECT_EQ(CallStack(e.Description()),
            (std::vector<std::string>{"clsKorvanel.ChangeImagePath", "clsKorvanel.RemoveClBanner"}));
  const auto lines = ReportLines(e.Description());
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_THAT(lines[6], StartsWith("  Call Stack: clsKorvanel.ChangeImagePath(strContent={Text})  at Line 10 --"));
  EXPECT_EQ(lines[7], "    Value Of strContent:");
  EXPECT_EQ(lines[8], "      '<r>");
  EXPECT_EQ(lines[9], "      " + kAdBoxHead + "<bitmap id=\"image.icqBanner.bg\" src=\"x'");
  EXPECT_THAT(lines[10], StartsWith("  Call Stack: clsKorvanel.RemoveClBanner()  at Line 20 ---"));
  EXPECT_EQ(Content(kClFile), broken);
  EXPECT_EQ(files.Count("WriteNew"), 0);
}

TEST_F(KorvanelTest, UnreadableFileFailsWithTheFileTrapsLineFirst) {
  const VbError e = RaisedBy([&] { korvanel.MsgBannerIsRemoved(); });
  EXPECT_EQ(e.Number(), 76);
  EXPECT_EQ(CallStack(e.Description()),
            (std::vector<std::string>{"clsFile.OpenForInput", "clsKorvanel.MsgBannerIsRemoved"}));
}

TEST_F(KorvanelTest, FixtureFilesKeepEveryByteOutsideTheHeads) {
  files.AddFile(kMsgFile, testing::FixtureBytes(testing::kFixtureMsgFile));
  files.AddFile(kClFile, testing::FixtureBytes(testing::kFixtureClFile));
  ASSERT_TRUE(korvanel.RemoveMsgBanner());
  ASSERT_TRUE(korvanel.RemoveClBanner());
  // The fixture ends in CR LF, which the trimming leaves alone.
  EXPECT_EQ(Content(kMsgFile), testing::FixtureMsgFileEdited());
  EXPECT_EQ(Content(kClFile), testing::FixtureClFileEdited());
  EXPECT_NE(Content(kClFile).find("\x96 Hauptfenster \xBB Werbefl\xE4" "che \x8D"), std::string::npos);
  EXPECT_TRUE(korvanel.MsgBannerIsRemoved());
  EXPECT_TRUE(korvanel.ClBannerIsRemoved());
}

// On a 32-bit system a large style file with many heads comes near what a
// size can count; the length after a growing edit must fail, not wrap.
TEST(ReplaceHead, GrowingSizeThatWouldPassTheLimitRaisesOutOfMemory) {
  constexpr std::size_t kMax = SIZE_MAX;
  EXPECT_EQ(GrownSize(100, 3, 10, kMax), 130u);
  EXPECT_EQ(GrownSize(kMax - 30, 3, 10, kMax), kMax);
  EXPECT_EQ(GrownSize(kMax, 0, 10, kMax), kMax);
  EXPECT_EQ(RaisedBy([] { GrownSize(kMax - 29, 3, 10, kMax); }).Number(), 7);
  // The product alone wraps: 2^(n-1) * 2 is 0 in n bits.
  EXPECT_EQ(RaisedBy([] { GrownSize(10, kMax / 2 + 1, 2, kMax); }).Number(), 7);
  EXPECT_EQ(RaisedBy([] { GrownSize(10, kMax / 3, 4, kMax); }).Number(), 7);
  // The limit of what a string can hold, below the counting limit.
  EXPECT_EQ(GrownSize(1000, 10, 100, 2000), 2000u);
  EXPECT_EQ(RaisedBy([] { GrownSize(1000, 10, 101, 2000); }).Number(), 7);
  EXPECT_EQ(RaisedBy([] { GrownSize(2001, 0, 1, 2000); }).Number(), 7);
  // The same limits hold in 32 bits, where a few hundred megabytes reach them.
  constexpr std::size_t k32 = UINT32_MAX;
  EXPECT_EQ(RaisedBy([] { GrownSize(400u << 20, 30'000'000, 150, k32); }).Number(), 7);
  EXPECT_EQ(GrownSize(400u << 20, 1'000'000, 150, k32), (400u << 20) + 150'000'000u);
}

// ---- the defaults folder --------------------------------------------------

class ClearDefaultsFolder : public KorvanelTest {
 protected:
  ClearDefaultsFolder() {
    files.AddFile(kDefaults + "a.xml", "a");
    files.AddFile(kDefaults + "b.xml", "b", FakeFiles::kReadOnly);
    files.AddFile(kDefaults + "c.XML", "c");
    files.AddFile(kDefaults + "d.xml.bak", "d");
    files.AddFile(kDefaults + "e.xml", "e", FakeFiles::kHidden);
    files.AddFile(kDefaults + "g.xml", "g", FakeFiles::kSystem | FakeFiles::kArchive);
    files.AddFile(kDefaults + ".xml", "");
    files.folders.insert(kDefaults + "f.xml");
  }
  std::vector<std::string> Left() { return files.FileNames(FakeFiles::Parent(kDefaults + "x")); }
};

TEST_F(ClearDefaultsFolder, DeletesOrdinaryLowerCaseXmlFilesOnly) {
  korvanel.ClearDefaultsFolder();
  EXPECT_EQ(Left(), (std::vector<std::string>{"c.XML", "d.xml.bak", "e.xml", "g.xml"}));
  EXPECT_EQ(files.folders.count(kDefaults + "f.xml"), 1u);
}

TEST_F(ClearDefaultsFolder, FileThatCannotBeClearedOrDeletedIsSkipped) {
  files.failures["SetAttributes"] = {5};
  files.failures["Remove"] = {0, 32};
  korvanel.ClearDefaultsFolder();
  // Listing order: ".xml" (refused clearing), "a.xml" (deleted), "b.xml" (in use).
  EXPECT_EQ(Left(), (std::vector<std::string>{".xml", "b.xml", "c.XML", "d.xml.bak", "e.xml", "g.xml"}));
}

TEST_F(ClearDefaultsFolder, FolderThatCannotBeListedFailsUnreported) {
  files.failures["List"] = {21};  // device not ready
  const VbError e = RaisedBy([&] { korvanel.ClearDefaultsFolder(); });
  EXPECT_EQ(e.Number(), 71);
  EXPECT_EQ(e.Source(), "Velmora") << "no trap of its own: the caller's trap starts the report";
  EXPECT_EQ(Left().size(), 7u);
}

TEST_F(ClearDefaultsFolder, MissingFolderHasNothingToDelete) {
  korvanel.DefaultsFolder("C:\\Elsewhere\\Defaults\\");
  korvanel.ClearDefaultsFolder();
  EXPECT_EQ(Left().size(), 7u);
}

TEST_F(ClearDefaultsFolder, FolderNotNamedFromARootIsRefusedNotTakenForTheCurrentOne) {
  for (const char* folder : {"", "ConfigFiles\\Defaults\\", "C:ICQ6\\ConfigFiles\\Defaults\\",
                             "\\ICQ6\\ConfigFiles\\Defaults\\", "\\\\server\\", "\\\\\\share\\",
                             "1:\\ICQ6\\"}) {
    SCOPED_TRACE(folder);
    korvanel.DefaultsFolder(folder);
    EXPECT_EQ(RaisedBy([&] { korvanel.ClearDefaultsFolder(); }).Number(), 5);
  }
  EXPECT_EQ(files.Count("List"), 0);
  EXPECT_EQ(Left().size(), 7u);
  // A share is named from its root too.
  const std::string share = "\\\\server\\icq\\ConfigFiles\\Defaults\\";
  files.AddFile(share + "a.xml", "a");
  korvanel.DefaultsFolder(share);
  korvanel.ClearDefaultsFolder();
  EXPECT_EQ(files.files.count(share + "a.xml"), 0u);
}

// Junctions and symbolic links lead out of ICQ's folder: one named like a
// defaults file is neither followed nor deleted, and a defaults folder
// reached through one is refused with a report.
TEST_F(ClearDefaultsFolder, ReparsePointsAreNotTouched) {
  files.AddFile(kDefaults + "link.xml", "elsewhere", FakeFiles::kReparsePoint | FakeFiles::kArchive);
  files.AddFile(kDefaults + "ro-link.xml", "elsewhere", FakeFiles::kReparsePoint | FakeFiles::kReadOnly);
  korvanel.ClearDefaultsFolder();
  EXPECT_EQ(Left(), (std::vector<std::string>{"c.XML", "d.xml.bak", "e.xml", "g.xml", "link.xml", "ro-link.xml"}));
  EXPECT_EQ(files.files[kDefaults + "ro-link.xml"].attributes, FakeFiles::kReparsePoint | FakeFiles::kReadOnly);
  EXPECT_EQ(files.Count("SetAttributes " + kDefaults + "link.xml"), 0);

  const std::string junction = "C:\\ICQ6\\ConfigFiles\\Junction\\";
  files.AddFile(junction + "a.xml", "a");
  files.folders.erase(FakeFiles::Parent(junction + "a.xml"));
  files.AddFile(FakeFiles::Parent(junction + "a.xml"), "", FakeFiles::kDirectory | FakeFiles::kReparsePoint);
  korvanel.DefaultsFolder(junction + "Defaults\\");
  EXPECT_EQ(RaisedBy([&] { korvanel.ClearDefaultsFolder(); }).Number(), 75);
  korvanel.DefaultsFolder(junction);
  EXPECT_EQ(RaisedBy([&] { korvanel.ClearDefaultsFolder(); }).Number(), 75);
  EXPECT_EQ(files.Count("List " + FakeFiles::Parent(junction + "a.xml")), 0);
  EXPECT_EQ(files.files.count(junction + "a.xml"), 1u);
}

TEST_F(ClearDefaultsFolder, FileThatCannotBeDeletedKeepsItsAttributes) {
  files.AddFile(kDefaults + "h.xml", "h", FakeFiles::kReadOnly | FakeFiles::kArchive);
  files.failures["Remove"] = {0, 32, 0, 5};  // ".xml", "a.xml" in use, "b.xml", "h.xml" refused
  korvanel.ClearDefaultsFolder();
  EXPECT_EQ(Left(), (std::vector<std::string>{"a.xml", "c.XML", "d.xml.bak", "e.xml", "g.xml", "h.xml"}));
  EXPECT_EQ(files.files[kDefaults + "h.xml"].attributes, FakeFiles::kReadOnly | FakeFiles::kArchive)
      << "a read-only file that stays is not left writable";
  EXPECT_EQ(files.files[kDefaults + "a.xml"].attributes, FakeFiles::kArchive);
}

}  // namespace
}  // namespace velmora
