// clsFile and clsKorvanel on real files under the real Windows API (Wine):
// read-only files, files held open by someone else, missing folders, the
// defaults folder's attributes, and the fake ICQ installation end to end.
// Everything happens in a scratch folder under the temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "IcqFixture.h"
#include "RaisedErrors.h"
#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Ports.h"
#include "services/clsFile.h"
#include "theme/clsKorvanel.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::CallStack;
using testing::RaisedBy;
using testing::ReportLines;

std::wstring W(const std::string& utf8) { return Utf8ToWide(utf8); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD put = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(h);
  ASSERT_EQ(put, bytes.size());
}

std::string ReadBytes(const std::string& path) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(h, nullptr), '\0');
  DWORD got = 0;
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(W(folder + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(WideToUtf8(name.data(), static_cast<int>(name.size())));
  } while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
      else DeleteFileW(child.c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) CopyTree(from + L"\\" + name, to + L"\\" + name);
    else ASSERT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE));
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// A handle of "another program" on a file, closed when it goes.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD share)
      : h_(CreateFileW(W(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
    EXPECT_NE(h_, INVALID_HANDLE_VALUE);
  }
  ~HeldFile() { Release(); }
  void Release() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

class ThemeFilesWin32 : public ::testing::Test {
 protected:
  ThemeFilesWin32() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int serial = 0;
    const std::wstring name = L"velmora-theme-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++serial);
    scratch_ = std::wstring(temp) + name;
    CreateDirectoryW(scratch_.c_str(), nullptr);
    root = WideToUtf8(scratch_.data(), static_cast<int>(scratch_.size()));
    Err().Clear();
    PreservedErr() = PreservedErrRecord{};
    ReportText().clear();
  }
  ~ThemeFilesWin32() override { RemoveTree(scratch_); }

  std::string Folder(const std::string& name) {
    const std::string path = root + "\\" + name;
    CreateDirectoryW(W(path).c_str(), nullptr);
    return path;
  }

  std::string root;

 private:
  std::wstring scratch_;
};

const std::string kClHeads = "<r>\r\n\t<bitmap id=\"image.icqBanner.bg\" src=\"b.png\" />\r\n"
                             "\t<style id=\"adBoxStyle\" width=\"120\" height=\"90\" />\r\n</r>\r\n";

TEST_F(ThemeFilesWin32, EveryByteRoundTripsUnderAFolderNameBeyondTheCodePage) {
  const std::string folder = Folder("\xC3\x84rger \xE2\x9C\x93 \xE6\x96\x87");  // "Ärger ✓ 文"
  const std::string path = folder + "\\style.box";
  std::string body;
  for (int b = 0; b < 256; ++b) body += static_cast<char>(b);
  body += "\r\n";
  clsFile().OpenForOutput(path, body);
  EXPECT_EQ(ReadBytes(path), body);
  EXPECT_EQ(clsFile().OpenForInput(path), body);
  clsFile().OpenForOutput(path, "short");
  EXPECT_EQ(ReadBytes(path), "short");
  clsFile().OpenForOutput(path, "");
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_THAT(Names(folder), ElementsAre("style.box"));
}

TEST_F(ThemeFilesWin32, MissingFileReadsEmptyUnmadeAndAMissingFolderIsPathNotFound) {
  const std::string path = root + "\\new.box";
  EXPECT_EQ(clsFile().OpenForInput(path), "");
  EXPECT_EQ(ReadBytes(path), "<missing>");

  const VbError e = RaisedBy([&] { clsFile().OpenForInput(root + "\\missing\\x.box"); });
  EXPECT_EQ(e.Number(), 76);
  const auto lines = ReportLines(e.Description());
  ASSERT_GE(lines.size(), 8u);
  EXPECT_THAT(lines[6], StartsWith("  API Error: (3) "));
  EXPECT_THAT(lines[7], StartsWith("  Call Stack: clsFile.OpenForInput(strPath="));
}

TEST_F(ThemeFilesWin32, ReadOnlyContactListFileFailsTheRemovalAndStaysAsItWas) {
  const std::string folder = Folder("MUICore");
  const std::string path = folder + "\\MainDlgPanelOwner.style.box";
  WriteBytes(path, kClHeads);
  ASSERT_TRUE(SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_READONLY));
  clsKorvanel korvanel;
  korvanel.ClThemeFile(path);

  const VbError e = RaisedBy([&] { korvanel.RemoveClBanner(); });
  EXPECT_EQ(e.Number(), 75);
  EXPECT_EQ(CallStack(e.Description()),
            (std::vector<std::string>{"clsFile.OpenForOutput", "clsKorvanel.RemoveClBanner"}));
  const auto lines = ReportLines(e.Description());
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[1].find("  Time='"), 0u);
  EXPECT_EQ(lines[3], "  Number: 75 = &H4B = vbObjectError + 2147221579 = ERRMAP_APP_FIRST + 2147216381 ");
  EXPECT_EQ(lines[5], "  Description: Path/File access error");
  EXPECT_THAT(lines[6], StartsWith("  API Error: (5) "));
  // The path is long enough for a block of its own; the body always is.
  EXPECT_THAT(lines[7], StartsWith("  Call Stack: clsFile.OpenForOutput(strPath={Text}, strBody={Text})  at Line 20 "));
  EXPECT_THAT(e.Description(), HasSubstr("\r\n    Value Of strBody:\r\n      '<r>\r\n"));
  EXPECT_THAT(e.Description(), HasSubstr("\r\n  Call Stack: clsKorvanel.RemoveClBanner()  at Line 50 "));

  EXPECT_EQ(ReadBytes(path), kClHeads);
  EXPECT_EQ(GetFileAttributesW(W(path).c_str()) & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
  EXPECT_THAT(Names(folder), ElementsAre("MainDlgPanelOwner.style.box"));
}

TEST_F(ThemeFilesWin32, FileHeldOpenWithoutSharingIsNeitherReadNorReplaced) {
  const std::string folder = Folder("MUICore");
  const std::string path = folder + "\\MainDlgPanelOwner.style.box";
  WriteBytes(path, kClHeads);
  clsKorvanel korvanel;
  korvanel.ClThemeFile(path);
  HeldFile held(path, 0);

  const VbError read = RaisedBy([&] { korvanel.RemoveClBanner(); });
  EXPECT_EQ(read.Number(), 70);
  EXPECT_EQ(CallStack(read.Description()),
            (std::vector<std::string>{"clsFile.OpenForInput", "clsKorvanel.RemoveClBanner"}));

  const VbError write = RaisedBy([&] { clsFile().OpenForOutput(path, "new"); });
  EXPECT_EQ(write.Number(), 70);
  EXPECT_THAT(ReportLines(write.Description())[6], StartsWith("  API Error: (32) "));
  EXPECT_THAT(Names(folder), ElementsAre("MainDlgPanelOwner.style.box"));
  held.Release();
  EXPECT_EQ(ReadBytes(path), kClHeads);
}

TEST_F(ThemeFilesWin32, FileReleasedWhileTheReplaceWaitsGetsReplaced) {
  const std::string path = root + "\\style.box";
  WriteBytes(path, "old");
  HeldFile held(path, FILE_SHARE_READ);
  std::thread release([&] {
    Sleep(50);
    held.Release();
  });
  clsFile().OpenForOutput(path, "new");
  release.join();
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_THAT(Names(root), ElementsAre("style.box"));
}

// What an administrator or ICQ's installer marked the file with stays with
// it when its content is replaced. (Its rights stay as well on Windows,
// where the system's replace keeps them; Wine keeps no rights of a file.)
TEST_F(ThemeFilesWin32, ReplacedFileKeepsItsHiddenAndSystemAttributes) {
  const std::string path = root + "\\MainDlgPanelOwner.style.box";
  WriteBytes(path, "old");
  ASSERT_TRUE(SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  clsFile().OpenForOutput(path, "new");
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(GetFileAttributesW(W(path).c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
  EXPECT_THAT(Names(root), ElementsAre("MainDlgPanelOwner.style.box")) << "no new file and no backup left";
  // A plain file stays plain.
  ASSERT_TRUE(SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_NORMAL));
  clsFile().OpenForOutput(path, "newer");
  EXPECT_EQ(ReadBytes(path), "newer");
  EXPECT_EQ(GetFileAttributesW(W(path).c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u);
}

// A run killed between writing its new file and putting it in place left
// it beside the target; the next replace of the target removes exactly the
// program's own files of that name.
TEST_F(ThemeFilesWin32, LeftoversOfARunThatWasCutOffGoBeforeTheNextReplace) {
  const std::string path = root + "\\cl.jpg";
  WriteBytes(path, "old");
  for (const char* name : {"cl.jpg.velmora1.tmp", "cl.jpg.velmora2.old", "cl.jpg.velmora.tmp", "cl.jpgx.velmora1.tmp",
                           "cl.jpg.velmora3.tmp.txt"})
    WriteBytes(root + "\\" + name, "left");
  ASSERT_TRUE(SetFileAttributesW(W(root + "\\cl.jpg.velmora1.tmp").c_str(), FILE_ATTRIBUTE_HIDDEN));
  clsFile().OpenForOutput(path, "new");
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_THAT(Names(root),
              ElementsAre("cl.jpg", "cl.jpg.velmora.tmp", "cl.jpg.velmora3.tmp.txt", "cl.jpgx.velmora1.tmp"));
}

// Paths a registration may hold that name nothing the system can look at:
// each is "not there", not a failure.
TEST_F(ThemeFilesWin32, PathsThatCannotNameAFileAreNotThere) {
  FileSystemPort& files = Files();
  for (const std::string& path : {"\"" + root + "\"\\ICQ.exe", std::string("Q:\\ICQ\\ICQ.exe"),
                                  std::string("\\\\velmora-gone\\apps\\ICQ.exe"), root + "\\a\"b\\ICQ.exe",
                                  root + "\\gone\\ICQ.exe"}) {
    SCOPED_TRACE(path);
    try {
      EXPECT_EQ(files.Attributes(path), FileSystemPort::kNoFile);
    } catch (const VbError& e) {
      ADD_FAILURE() << "raised " << e.Number() << " for system error " << e.LastDllError();
    }
  }
}

TEST_F(ThemeFilesWin32, MissingFolders) {
  clsKorvanel korvanel;
  korvanel.MsgConfigFile(root + "\\gone\\MsgSessionDlg.style.box");
  korvanel.DefaultsFolder(root + "\\gone\\Defaults\\");
  const VbError e = RaisedBy([&] { korvanel.RemoveMsgBanner(); });
  EXPECT_EQ(e.Number(), 76);
  EXPECT_EQ(CallStack(e.Description()),
            (std::vector<std::string>{"clsFile.OpenForInput", "clsKorvanel.RemoveMsgBanner"}));
  EXPECT_NO_THROW(korvanel.ClearDefaultsFolder());
  EXPECT_THAT(Names(root), ElementsAre());
}

TEST_F(ThemeFilesWin32, ClearDefaultsFolderDeletesOrdinaryLowerCaseXmlFilesOnly) {
  const std::string folder = Folder("Defaults");
  for (const char* name : {"a.xml", "b.xml", "c.XML", "d.xml.bak", "e.xml"}) WriteBytes(folder + "\\" + name, name);
  ASSERT_TRUE(SetFileAttributesW(W(folder + "\\b.xml").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW(W(folder + "\\e.xml").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(CreateDirectoryW(W(folder + "\\f.xml").c_str(), nullptr));
  clsKorvanel korvanel;
  korvanel.DefaultsFolder(folder + "\\");
  korvanel.ClearDefaultsFolder();
  EXPECT_THAT(Names(folder), ElementsAre("c.XML", "d.xml.bak", "e.xml", "f.xml"));
}

TEST_F(ThemeFilesWin32, FakeInstallationEndToEnd) {
  const std::string icq = root + "\\ICQ6\\";
  CopyTree(W(testing::FixtureRoot()), W(root + "\\ICQ6"));
  const std::string msgFile = icq + "services\\icqApp\\ver1\\theme\\MUIMessage\\MsgSessionDlg.style.box";
  const std::string clFile = icq + "services\\icqApp\\ver1\\theme\\MUICore\\MainDlgPanelOwner.style.box";

  // The main window's start-up, then its remove command.
  clsKorvanel& korvanel = Korvanel();
  korvanel.MsgConfigFile(msgFile);
  korvanel.ClThemeFile(clFile);
  korvanel.DefaultsFolder(icq + "ConfigFiles\\Defaults\\");
  EXPECT_FALSE(korvanel.MsgBannerIsRemoved());
  EXPECT_FALSE(korvanel.ClBannerIsRemoved());
  EXPECT_TRUE(korvanel.RemoveMsgBanner());
  EXPECT_TRUE(korvanel.RemoveClBanner());
  korvanel.ClearDefaultsFolder();
  EXPECT_TRUE(Korvanel().MsgBannerIsRemoved());
  EXPECT_TRUE(Korvanel().ClBannerIsRemoved());
  ReleaseKorvanel();

  EXPECT_EQ(ReadBytes(msgFile), testing::FixtureMsgFileEdited());
  EXPECT_EQ(ReadBytes(clFile), testing::FixtureClFileEdited());
  EXPECT_THAT(Names(icq + "ConfigFiles\\Defaults"), ElementsAre("Readme.txt", "Skin.XML"));
  EXPECT_THAT(Names(icq + "services\\icqApp\\ver1\\theme\\MUICore"), ElementsAre("MainDlgPanelOwner.style.box"));
  EXPECT_EQ(ReadBytes(icq + "ICQ.exe"), "");
}

}  // namespace
}  // namespace velmora
