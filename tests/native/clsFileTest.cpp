// Whole-file access: what reading trims and creates, and that a rewrite is all
// or nothing, whichever step of it fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ThemeTestSupport.h"
#include "services/clsFile.h"

namespace velmora {
namespace {

using ::testing::StartsWith;
using testing::FakeFiles;
using testing::CallStack;
using testing::RaisedBy;
using testing::ReportLines;
using testing::ThemeTest;

const std::string kFolder = "C:\\ICQ6\\theme";
const std::string kPath = kFolder + "\\Main.style.box";

using clsFileRead = ThemeTest;

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

TEST_F(clsFileRead, MissingFileInAnExistingFolderIsCreatedEmpty) {
  files.folders.insert(kFolder);
  EXPECT_EQ(clsFile().OpenForInput(kPath), "");
  ASSERT_EQ(files.files.count(kPath), 1u);
  EXPECT_EQ(files.files[kPath].bytes, "");
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

class clsFileWrite : public ThemeTest {
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
  files.failures["MoveOver"] = {5};
  EXPECT_EQ(RaisedBy([] { clsFile().OpenForOutput(kPath, "new"); }).Number(), 75);
  EXPECT_EQ(files.Count("MoveOver"), 1) << "access denied is not worth waiting for";
  EXPECT_EQ(files.Count("Remove"), 1);
  ExpectOnlyTheTarget(kOld);
}

TEST_F(clsFileWrite, FileInUseForAMomentIsReplacedOnARetry) {
  files.failures["MoveOver"] = {32, 33};
  clsFile().OpenForOutput(kPath, "new");
  EXPECT_EQ(files.Count("MoveOver"), 3);
  ExpectOnlyTheTarget("new");
}

TEST_F(clsFileWrite, FileThatStaysInUseFailsWithPermissionDenied) {
  files.failures["MoveOver"] = std::deque<uint32_t>(20, 32);
  EXPECT_EQ(RaisedBy([] { clsFile().OpenForOutput(kPath, "new"); }).Number(), 70);
  EXPECT_EQ(files.Count("MoveOver"), 8);
  ExpectOnlyTheTarget(kOld);
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
