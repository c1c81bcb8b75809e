// Quillon2.dll comes from the program's own folder and from nowhere else.
// A stranger's Quillon2.dll (PlantedQuillon.cpp: it leaves a marker file when
// it is loaded) waits in the current folder and in a folder on PATH; the real
// Velmora.exe is started from that current folder with that PATH, finds a
// registered ICQ (a copy of the fixture installation) and must come up with
// its buttons from the real library, never touching the planted ones. Started
// from a folder without the real library it must report that it cannot
// create its buttons, and still leave the planted ones alone.
#include "ProgramUnderTest.h"

namespace {

using namespace velmora::hardening;

const fs::path kPlanted = Windows(PLANTED_DLL);
constexpr wchar_t kMarker[] = L"planted-loaded.txt";

class DllPlanting : public ProgramScene {
 protected:
  void SetUp() override {
    ProgramScene::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(fs::exists(kPlanted)) << kPlanted.string();
    here_ = scene_ / L"current folder";
    onPath_ = scene_ / L"on path";
    for (const fs::path& folder : {here_, onPath_}) {
      fs::create_directories(folder);
      fs::copy_file(kPlanted, folder / L"Quillon2.dll");
    }
  }

  // Asserts that no planted library was loaded by anyone.
  void ExpectNoPlantedLoad() {
    for (const fs::path& folder : {here_, onPath_}) {
      std::ifstream marker(folder / kMarker);
      std::string by((std::istreambuf_iterator<char>(marker)), std::istreambuf_iterator<char>());
      EXPECT_FALSE(fs::exists(folder / kMarker))
          << "the Quillon2.dll in \"" << folder.string() << "\" was loaded by " << by;
    }
  }

  fs::path here_, onPath_;
};

// The planted libraries are where a plain LoadLibrary finds them, and a load
// leaves its marker: without this, no marker would prove nothing.
TEST_F(DllPlanting, APlainLoadFindsThePlantedLibrariesAndLeavesTheMarker) {
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(here_.c_str()));
  HMODULE fromHere = LoadLibraryW(L"Quillon2.dll");
  SetCurrentDirectoryW(previous);
  ASSERT_NE(fromHere, nullptr);
  FreeLibrary(fromHere);
  EXPECT_TRUE(fs::exists(here_ / kMarker));

  const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring path(size, L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), size));
  SetEnvironmentVariableW(L"PATH", (onPath_.wstring() + L";" + path).c_str());
  HMODULE fromPath = LoadLibraryW(L"Quillon2.dll");
  SetEnvironmentVariableW(L"PATH", path.c_str());
  ASSERT_NE(fromPath, nullptr);
  FreeLibrary(fromPath);
  EXPECT_TRUE(fs::exists(onPath_ / kMarker));
}

TEST_F(DllPlanting, TheProgramTakesItsButtonsFromItsOwnFolderOnly) {
  Program program(kProgram, here_, onPath_);
  ASSERT_TRUE(program.Started()) << "CreateProcess failed: " << GetLastError();

  const HWND main = program.WaitForWindow(L"Velmora");
  ASSERT_NE(main, nullptr) << "no main window; the program " << (program.Running() ? "is still running" : "has ended");
  // Every button of the layout is a window of the real library's class, and
  // the start reported nothing.
  const std::size_t expected = ButtonsInLayout();
  ASSERT_GE(expected, 1u);
  EXPECT_EQ(Descendants(main, kButtonClass).size(), expected);
  EXPECT_EQ(TopWindow(program.Pid(), L"Error Report"), nullptr) << "the start reported an error";

  const std::vector<std::wstring> modules = program.QuillonModules();
  ASSERT_EQ(modules.size(), 1u) << "Quillon2.dll loaded " << modules.size() << " times";
  EXPECT_TRUE(SameFile(modules[0], kProgram.parent_path() / L"Quillon2.dll"))
      << "Quillon2.dll came from " << Narrow(modules[0]);

  PostMessageW(main, WM_CLOSE, 0, 0);
  const std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code.has_value()) << "the program did not end on WM_CLOSE";
  EXPECT_EQ(*code, 0u);
  ExpectNoPlantedLoad();
}

TEST_F(DllPlanting, WithoutItsOwnLibraryTheProgramReportsAndLoadsNoOther) {
  // The program alone in a folder of its own: no Quillon2.dll beside it.
  const fs::path alone = scene_ / L"program alone";
  fs::create_directories(alone);
  fs::copy_file(kProgram, alone / kProgram.filename());

  Program program(alone / kProgram.filename(), here_, onPath_);
  ASSERT_TRUE(program.Started()) << "CreateProcess failed: " << GetLastError();

  const HWND report = program.WaitForWindow(L"Error Report");
  ASSERT_NE(report, nullptr) << "no error report; the program "
                             << (program.Running() ? "is still running" : "has ended");
  std::wstring text;
  for (HWND edit : Descendants(report, L"Edit")) text += TextOf(edit);
  EXPECT_NE(text.find(L"Number: 429 "), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L"ActiveX component can't create object"), std::wstring::npos);
  EXPECT_TRUE(program.QuillonModules().empty());

  EXPECT_EQ(TopWindow(program.Pid(), L"Velmora"), nullptr) << "a main window without its buttons is showing";

  // With no main window to go back to, closing the report ends the program.
  PostMessageW(report, WM_CLOSE, 0, 0);
  const std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code.has_value()) << "the program did not end with its report";
  EXPECT_EQ(*code, 1u);
  ExpectNoPlantedLoad();
}

}  // namespace
