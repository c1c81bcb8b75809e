// The DLLs of a program come from the system folder or its own, and from
// nowhere else.
//
// Quillon2.dll comes from the program's own folder and from nowhere else.
// A stranger's Quillon2.dll (PlantedQuillon.cpp: it leaves a marker file when
// it is loaded) waits in the current folder and in a folder on PATH; the real
// Velmora.exe is started from that current folder with that PATH, finds a
// registered ICQ (a copy of the fixture installation) and must come up with
// its buttons from the real library, never touching the planted ones. Started
// from a folder without the real library it must report that it cannot
// create its buttons, and still leave the planted ones alone.
//
// The system DLLs that Windows does not always take from the system folder
// (version, oleacc, uxtheme, wininet, comdlg32) come from there all the same:
// a portable copy of the program finds a stranger's DLLs of those names
// (PlantedSystemDll.cpp) beside it, and goes through the typical use, the
// update check and the about window without loading one of them.
//
// Wine prefers its own built-in DLL to a file of a system DLL's name that it
// finds, where Windows loads the file. So the planted oleacc, wininet and
// comdlg32 are declared native to Wine by their full paths: whatever looks
// one of them up by name from the program's folder runs the stranger's code,
// as on Windows. version.dll and uxtheme.dll stay Wine's own: Wine's user32
// loads them by name as it starts, before any code of the program, which
// Windows' user32 does not; that the program imports no version.dll is the
// import check's to say (tests/checks/05-xp-imports.sh).
#include "ProgramUnderTest.h"

#include <dlgs.h>
#include <oleacc.h>

namespace {

using namespace velmora::hardening;

const fs::path kPlanted = Windows(PLANTED_DLL);
constexpr wchar_t kMarker[] = L"planted-loaded.txt";
const fs::path kPlantedSystem = Windows(PLANTED_SYSTEM_DLL);
const fs::path kPicture = Windows(VELMORA_PICTURE);
const std::wstring kWineDllOverrides = L"Software\\Wine\\DllOverrides";
constexpr const wchar_t* kSystemNames[] = {L"version.dll", L"oleacc.dll", L"uxtheme.dll", L"wininet.dll",
                                           L"comdlg32.dll"};

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

// Tells Wine to take oleacc, wininet and comdlg32 from the files in
// `folder`, as Windows would, whoever looks them up. Wine reads its load
// orders from the registry as a process starts, a path stands for the file
// there (without ".dll"); the values go again when the test ends.
void NativeToWine(RegistryValues& registry, const fs::path& folder) {
  for (const wchar_t* dll : {L"oleacc", L"wininet", L"comdlg32"}) {
    const std::wstring name = (folder / dll).wstring();
    registry.Keep(HKEY_CURRENT_USER, kWineDllOverrides, name);
    SetString(HKEY_CURRENT_USER, kWineDllOverrides, name, L"native");
  }
}

// What a loader that finds a planted DLL does with it under that order: it
// runs the stranger's code, which leaves its marker. Without this, no
// marker would prove nothing.
TEST_F(DllPlanting, APlantedSystemDllThatIsFoundIsLoadedAndLeavesItsMarker) {
  ASSERT_TRUE(fs::exists(kPlantedSystem)) << kPlantedSystem.string();
  // rundll32's command line takes no blank in a path.
  const fs::path folder = scene_ / L"Downloads";
  fs::create_directories(folder);
  fs::copy_file(kPlantedSystem, folder / L"oleacc.dll");
  wchar_t system[MAX_PATH];
  const fs::path rundll32 = fs::path(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH))) / L"rundll32.exe";
  // It loads the DLL by its path, finds no such function and ends.
  NativeToWine(registry_, folder);
  Program loader(rundll32, folder, folder, (folder / L"oleacc.dll").wstring() + L",NoSuchEntry");
  ASSERT_TRUE(loader.Started()) << "CreateProcess failed: " << GetLastError();
  loader.WaitForExit();
  EXPECT_TRUE(fs::exists(folder / L"oleacc.dll-loaded.txt"));
}

TEST_F(DllPlanting, SystemDllsDroppedBesideAPortableCopyAreNeverLoaded) {
  // A portable copy, unpacked into a downloads folder where other files lie.
  const fs::path portable = scene_ / L"Downloads" / L"Velmora";
  fs::create_directories(portable);
  fs::copy_file(kProgram, portable / kProgram.filename());
  fs::copy_file(kProgram.parent_path() / L"Quillon2.dll", portable / L"Quillon2.dll");
  for (const wchar_t* name : kSystemNames) fs::copy_file(kPlantedSystem, portable / name);
  // English texts; an update check that fails at once: nothing listens there.
  SetString(HKEY_CURRENT_USER, kSettings, L"Language", L"2");
  registry_.Keep(HKEY_CURRENT_USER, kSettings, L"UpdateURL");
  SetString(HKEY_CURRENT_USER, kSettings, L"UpdateURL", L"http://127.0.0.1:9/");

  NativeToWine(registry_, portable);
  Program program(portable / kProgram.filename(), portable, portable);
  ASSERT_TRUE(program.Started()) << "CreateProcess failed: " << GetLastError();
  const HWND main = program.WaitForWindow(L"Velmora");
  ASSERT_NE(main, nullptr) << "no main window; the program " << (program.Running() ? "is still running" : "has ended");
  ASSERT_EQ(TopWindow(program.Pid(), L"Error Report"), nullptr) << "the start reported an error";
  const DWORD pid = program.Pid();

  // Remove the banners.
  const HWND remove = ButtonCaptioned(main, L"Remove Banner");
  ASSERT_NE(remove, nullptr);
  PostClick(remove);
  EXPECT_TRUE(WaitGone(remove)) << "the remove button stayed";

  // Choose a picture in the file dialog.
  const HWND choose = ButtonCaptioned(main, L"Choose Picture");
  ASSERT_NE(choose, nullptr);
  PostClick(choose);
  const HWND dialog = WaitFor([&] { return TopWindow(pid, L"Open"); });
  ASSERT_NE(dialog, nullptr) << "no file dialog";
  HWND name = nullptr;  // the edit box of the file name, whatever it sits in
  for (HWND edit : Descendants(dialog, L"Edit"))
    if (GetDlgCtrlID(edit) == cmb13 || GetDlgCtrlID(edit) == edt1) name = edit;
  ASSERT_NE(name, nullptr) << "the file dialog has no file name box";
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kPicture.c_str()));
  PressButton(dialog, IDOK);
  ASSERT_TRUE(WaitGone(dialog)) << "the file dialog stayed open";

  // Apply it.
  PostClick(ButtonCaptioned(main, L"Apply Changes"));
  const HWND applied = WaitFor([&] { return DialogWith(pid, L"Changes have been applied"); });
  ASSERT_NE(applied, nullptr) << "no message that the changes were applied";
  PressButton(applied, IDOK);
  ASSERT_TRUE(WaitGone(applied));
  std::ifstream picture(icq_ / L"services\\icqApp\\ver1\\theme\\MUICore\\cl.jpg", std::ios::binary);
  char magic[2] = {};
  picture.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "BM") << "cl.jpg is not the applied bitmap";

  // The update check, which fails here.
  PostClick(ButtonCaptioned(main, L"Search for updates"));
  const HWND failed = WaitFor([&] { return DialogWith(pid, L"The update check failed. Please try again later."); },
                              std::chrono::seconds(30));
  ASSERT_NE(failed, nullptr) << "no message about the update check";
  PressButton(failed, IDOK);
  ASSERT_TRUE(WaitGone(failed));

  // The about window, which shows the program's version.
  PostClick(ButtonCaptioned(main, L"Info"));
  const HWND about = WaitFor([&] { return TopWindow(pid, L"Info"); });
  ASSERT_NE(about, nullptr) << "no about window";
  PostMessageW(about, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitGone(about));

  // A screen reader reads a button, through the accessibility library.
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  IAccessible* accessible = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(ButtonCaptioned(main, L"Choose Picture"), OBJID_CLIENT, __uuidof(IAccessible),
                                       reinterpret_cast<void**>(&accessible)),
            S_OK);
  VARIANT self;
  VariantInit(&self);
  V_VT(&self) = VT_I4;
  V_I4(&self) = CHILDID_SELF;
  BSTR read = nullptr;
  EXPECT_EQ(accessible->get_accName(self, &read), S_OK);
  EXPECT_EQ(std::wstring(read ? read : L""), L"Choose Picture");
  SysFreeString(read);
  accessible->Release();
  CoUninitialize();

  // What the program has loaded meanwhile: oleacc, wininet and comdlg32 (the
  // flows above used each) from the system folder, and nothing from its own
  // folder but itself and its buttons; version.dll and uxtheme.dll, which
  // Wine's user32 looked for there, as Wine's own.
  wchar_t system[MAX_PATH];
  const fs::path systemFolder(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)));
  const std::vector<fs::path> modules = program.Modules();
  for (const wchar_t* dll : {L"oleacc.dll", L"wininet.dll", L"comdlg32.dll"}) {
    bool fromSystem = false;
    for (const fs::path& module : modules) {
      if (_wcsicmp(module.filename().c_str(), dll) == 0) fromSystem |= SameFile(module.parent_path(), systemFolder);
    }
    EXPECT_TRUE(fromSystem) << Narrow(dll) << " was not loaded from the system folder";
  }
  for (const fs::path& module : modules) {
    if (!SameFile(module.parent_path(), portable)) continue;
    const std::wstring file = module.filename().wstring();
    bool expected = false;
    for (const std::wstring& ours : {kProgram.filename().wstring(), std::wstring(L"Quillon2.dll"),
                                     std::wstring(L"version.dll"), std::wstring(L"uxtheme.dll")})
      expected |= _wcsicmp(file.c_str(), ours.c_str()) == 0;
    EXPECT_TRUE(expected) << "the program loaded " << Narrow(module.wstring());
  }
  const std::vector<std::wstring> quillon = program.QuillonModules();
  ASSERT_EQ(quillon.size(), 1u);
  EXPECT_TRUE(SameFile(quillon[0], portable / L"Quillon2.dll")) << "Quillon2.dll came from " << Narrow(quillon[0]);

  PostMessageW(main, WM_CLOSE, 0, 0);
  const std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code.has_value()) << "the program did not end on WM_CLOSE";
  EXPECT_EQ(*code, 0u);
  EXPECT_EQ(TopWindow(pid, L"Error Report"), nullptr) << "an error was reported";
  for (const wchar_t* dll : kSystemNames) {
    const fs::path marker = portable / (std::wstring(dll) + L"-loaded.txt");
    std::ifstream in(marker);
    std::string by((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(fs::exists(marker)) << "the planted " << Narrow(dll) << " was loaded by " << by;
  }
}

}  // namespace
