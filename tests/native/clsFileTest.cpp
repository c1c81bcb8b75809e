// Whole-file access: what reading trims and creates, and that a rewrite is all
// or nothing, whichever step of it fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "FakePortsTest.h"
#include "services/clsFile.h"

namespace velmora {
namespace {

using ::testing::StartsWith;
using testing::FakeFiles;
using testing::CallStack;
using testing::RaisedBy;
using testing::ReportLines;
using testing::FakePortsTest;

const std::string kFolder = "C:\\ICQ6\\theme";
const std::string kPath = kFolder + "\\Main.style.box";

using clsFileRead = FakePortsTest;

TEST_F(clsFileRead, TrimsSpacesOnlyAndKeepsEveryOtherByte) {
  const std::string bytes = std::string("\t<a x=\"\xE4\x81\">\r\n", 13);
  const struct {
    std::string stored, read;
  } cases[] = {
      {"  word  ", "word"},
      {"     ", ""},
      {"", ""},
      {bytes + "  ", bytes},
      {"  " + bytes, bytes},
      {std::string("\0 x \0", 5), std::string("\0 x \0", 5)},
  };
  for (const auto& c : cases) {
    files.AddFile(kPath, c.stored);
    EXPECT_EQ(clsFile().OpenForInput(kPath), c.read) << "stored: " << c.stored;
  }
}

TEST_F(clsFileRead, MissingFileInAnExistingFolderReadsEmptyAndIsNotMade) {
  files.folders.insert(kFolder);
  EXPECT_EQ(clsFile().OpenForInput(kPath), "");
  EXPECT_EQ(files.files.count(kPath), 0u);
}

TEST_F(clsFileRead, MissingFolderRaisesPathNotFoundThroughTheTrap) {
  const VbError e = RaisedBy([] { clsFile().OpenForInput("C:\\Nowhere\\x.box"); });
  EXPECT_EQ(e.Number(), 76);
  EXPECT_EQ(e.Source(), "ErrChain.ErrorIn");
  const auto lines = ReportLines(e.Description());
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[2], "  Method: clsFile.OpenForInput ");
  EXPECT_EQ(lines[5], "  Description: Path not found");
  EXPECT_EQ(lines[6], "  API Error: (3) ");
  EXPECT_THAT(lines[7], StartsWith("  Call Stack: clsFile.OpenForInput(strPath='C:\\Nowhere\\x.box')  at Line 10 -----"));
  EXPECT_TRUE(files.files.empty());
}

class clsFileWrite : public FakePortsTest {
 protected:
  clsFileWrite() { files.AddFile(kPath, kOld); }
  // The folder holds the target and nothing else: no temporary file stayed.
  void ExpectOnlyTheTarget(const std::string& bytes) {
    EXPECT_EQ(files.FileNames(kFolder), std::vector<std::string>{"Main.style.box"});
    EXPECT_EQ(files.files[kPath].bytes, bytes);
  }
  const std::string kOld = "<styles>\r\n  <style id=\"old\" width=\"468\" height=\"60\" />\r\n</styles>\r\n";
};

TEST_F(clsFileWrite, FileHoldsExactlyTheNewBytes) {
  clsFile().OpenForOutput(kPath, "<s/>");
  ExpectOnlyTheTarget("<s/>");
  clsFile().OpenForOutput(kPath, "");
  ExpectOnlyTheTarget("");
  const std::string high = "\x80\x81\x8D\x8F\x90\x9D\xFF\r\n";
  clsFile().OpenForOutput(kPath, high);
  ExpectOnlyTheTarget(high);
}

TEST_F(clsFileWrite, NewFileInAnExistingFolder) {
  files.files.clear();
  clsFile().OpenForOutput(kPath, "new");
  ExpectOnlyTheTarget("new");
}

TEST_F(clsFileWrite, ReadOnlyTargetIsRefusedBeforeAnythingIsWritten) {
  files.files[kPath].attributes |= FakeFiles::kReadOnly;
  const VbError e = RaisedBy([] { clsFile().OpenForOutput(kPath, "new"); });
  EXPECT_EQ(e.Number(), 75);
  EXPECT_NE(e.Description().find("\r\n  API Error: (5) \r\n"), std::string::npos);
  EXPECT_EQ(files.Count("WriteNew"), 0);
  ExpectOnlyTheTarget(kOld);
}

TEST_F(clsFileWrite, FailedWriteOfTheNewContentKeepsTheOldFile) {
  files.failures["WriteNew"] = {112};  // disk full
  EXPECT_EQ(RaisedBy([] { clsFile().OpenForOutput(kPath, "new"); }).Number(), 61);
  ExpectOnlyTheTarget(kOld);
}

TEST_F(clsFileWrite, FailedReplaceKeepsTheOldFileAndRemovesTheNewOne) {
  files.failures["ReplaceKeeping"] = {5};
  files.failures["MoveOver"] = {5};
  EXPECT_EQ(RaisedBy([] { clsFile().OpenForOutput(kPath, "new"); }).Number(), 75);
  EXPECT_EQ(files.Count("ReplaceKeeping"), 1);
  EXPECT_EQ(files.Count("MoveOver"), 1) << "access denied is not worth waiting for";
  EXPECT_EQ(files.Count("Remove"), 1);
  ExpectOnlyTheTarget(kOld);
}

// The target in use for a moment, whether the system replaces it keeping its
// attributes or (on a share without that) moves over it.
TEST_F(clsFileWrite, FileInUseForAMomentIsReplacedOnARetry) {
  for (const bool canReplace : {true, false}) {
    SCOPED_TRACE(canReplace ? "replaced" : "moved");
    files.AddFile(kPath, kOld);
    files.canReplace = canReplace;
    files.calls.clear();
    const std::string way = canReplace ? "ReplaceKeeping" : "MoveOver";
    files.failures[way] = {32, 33};
    clsFile().OpenForOutput(kPath, "new");
    EXPECT_EQ(files.Count(way), 3);
    ExpectOnlyTheTarget("new");
  }
}

TEST_F(clsFileWrite, FileThatStaysInUseFailsWithPermissionDenied) {
  for (const bool canReplace : {true, false}) {
    SCOPED_TRACE(canReplace ? "replaced" : "moved");
    files.canReplace = canReplace;
    files.calls.clear();
    const std::string way = canReplace ? "ReplaceKeeping" : "MoveOver";
    files.failures[way] = std::deque<uint32_t>(20, 32);
    EXPECT_EQ(RaisedBy([] { clsFile().OpenForOutput(kPath, "new"); }).Number(), 70);
    EXPECT_EQ(files.Count(way), 8);
    ExpectOnlyTheTarget(kOld);
    files.failures.clear();
  }
}

TEST_F(clsFileWrite, ExistingTargetIsReplacedKeepingItsAttributesAndNoBackupStays) {
  files.files[kPath].attributes = FakeFiles::kHidden | FakeFiles::kSystem;
  clsFile().OpenForOutput(kPath, "new");
  EXPECT_EQ(files.Count("ReplaceKeeping"), 1);
  EXPECT_EQ(files.Count("MoveOver"), 0);
  EXPECT_EQ(files.files[kPath].attributes, FakeFiles::kHidden | FakeFiles::kSystem);
  ExpectOnlyTheTarget("new");
}

TEST_F(clsFileWrite, ReplaceRefusedHereFallsBackToTheMoveAtOnce) {
  files.canReplace = false;
  clsFile().OpenForOutput(kPath, "new");
  EXPECT_EQ(files.Count("ReplaceKeeping"), 1);
  EXPECT_EQ(files.Count("MoveOver"), 1);
  ExpectOnlyTheTarget("new");
  // A new file has nothing to keep: it is moved into place straight away.
  files.files.clear();
  files.calls.clear();
  files.canReplace = true;
  clsFile().OpenForOutput(kPath, "first");
  EXPECT_EQ(files.Count("ReplaceKeeping"), 0);
  ExpectOnlyTheTarget("first");
}

// A run killed between writing its new file and putting it in place left
// it beside the target (and, in the middle of a swap, the old content under
// its backup name). The next replace removes exactly those files.
TEST_F(clsFileWrite, LeftoversOfARunThatWasCutOffGoBeforeTheNextReplace) {
  const std::vector<std::string> leftovers = {"Main.style.box.velmora1.tmp", "MAIN.STYLE.BOX.VELMORA17.TMP",
                                              "Main.style.box.velmora2.old"};
  const std::vector<std::string> others = {"Main.style.box.velmora.tmp", "Main.style.box.velmoraX.tmp",
                                           "Main.style.box.velmora3.tmp.keep", "Other.box.velmora1.tmp",
                                           "Main.style.box.velmora4.bak", "cl.jpg"};
  for (const std::string& name : leftovers) files.AddFile(kFolder + "\\" + name, "half");
  for (const std::string& name : others) files.AddFile(kFolder + "\\" + name, "keep");
  files.folders.insert(kFolder + "\\Main.style.box.velmora5.tmp");
  // One of them is still held open by someone: it stays, and is stepped over.
  files.AddFile(kFolder + "\\Main.style.box.velmora9.tmp", "held");
  files.failures["Remove"] = {0, 0, 0, 32};
  clsFile().OpenForOutput(kPath, "new");
  std::vector<std::string> expected = others;
  expected.push_back("Main.style.box");
  expected.push_back("Main.style.box.velmora9.tmp");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files.FileNames(kFolder), expected);
  EXPECT_EQ(files.files[kPath].bytes, "new");
  EXPECT_EQ(files.folders.count(kFolder + "\\Main.style.box.velmora5.tmp"), 1u);
}

TEST_F(clsFileWrite, TakenTemporaryNameIsSteppedOver) {
  files.failures["WriteNew"] = {80, 183};
  clsFile().OpenForOutput(kPath, "new");
  EXPECT_EQ(files.Count("WriteNew"), 3);
  EXPECT_EQ(files.files[kPath].bytes, "new");
}

TEST_F(clsFileWrite, ReportShowsTheBodyDecodedInItsOwnBlock) {
  files.failures["WriteNew"] = {112};
  const std::string body = "<style id=\"bannerStyle\" width=\"0\" height=\"0\">\r\n\xE4";
  const VbError e = RaisedBy([&] { clsFile().OpenForOutput(kPath, body); });
  const auto lines = ReportLines(e.Description());
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[6], "  API Error: (112) ");
  EXPECT_EQ(lines[7],
            "  Call Stack: clsFile.OpenForOutput(strPath='C:\\ICQ6\\theme\\Main.style.box', strBody={Text})  at Line 30 ");
  EXPECT_EQ(lines[8], "    Value Of strBody:");
  EXPECT_EQ(lines[9], "      '<style id=\"bannerStyle\" width=\"0\" height=\"0\">");
  EXPECT_EQ(lines[10], "      \xC3\xA4'");
}

}  // namespace
}  // namespace velmora
