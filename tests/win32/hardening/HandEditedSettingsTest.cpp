// Settings edited by hand in the registry, as a user or a cleaning tool
// leaves them: a window position that is no number, one beyond any single, a
// language number beyond a 16-bit integer and one below any language. The
// real Velmora.exe starts on them: what it cannot read is reported (the
// report window with the error and where it came from), the main window comes
// up and answers, a later click opens the settings window, and closing the
// program loses nothing: the settings it does not write at shutdown keep
// their values, the position it does write reads back as a number, and ICQ's
// files are untouched.
#include "ProgramUnderTest.h"

namespace {

using namespace velmora::hardening;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every file below `root` with its bytes, by relative path.
std::vector<std::pair<std::wstring, std::string>> Tree(const fs::path& root) {
  std::vector<std::pair<std::wstring, std::string>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.emplace_back(fs::relative(entry.path(), root).wstring(), Bytes(entry.path()));
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<std::wstring> GetString(HKEY root, const std::wstring& key, const std::wstring& name) {
  wchar_t data[4096];
  DWORD size = sizeof data;
  if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(data);
}

// A position the program stored: the text of a single, in this prefix's
// locale (a "." for the decimal separator).
bool IsSingleText(const std::wstring& text) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  const double value = wcstod(text.c_str(), &end);
  return *end == L'\0' && std::isfinite(value) && std::fabs(value) <= 3.4028235e38;
}

// The captions the main window's buttons have before any language is set:
// the window text or caption each Quillon entry of the layout gives.
std::vector<std::wstring> DesignCaptions() {
  std::ifstream in(kLayout);
  std::vector<std::wstring> captions;
  bool inButton = false;
  std::string windowText, caption;
  auto flush = [&] {
    if (inButton) {
      const std::string& text = windowText.empty() ? caption : windowText;
      const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
      std::wstring wide(static_cast<std::size_t>(n), L'\0');
      MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), wide.data(), n);
      captions.push_back(wide);
    }
    inButton = false;
    windowText.clear();
    caption.clear();
  };
  auto quoted = [](const std::string& line) {
    const std::size_t a = line.find('"'), b = line.rfind('"');
    return a != std::string::npos && b > a ? line.substr(a + 1, b - a - 1) : std::string();
  };
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Control ", 0) == 0) {
      flush();
      inButton = line.rfind("Control Quillon ", 0) == 0;
    } else if (line.rfind("  WindowText = ", 0) == 0) {
      windowText = quoted(line);
    } else if (line.rfind("  Bag buttoncaption = Str ", 0) == 0) {
      caption = quoted(line);
    }
  }
  flush();
  std::sort(captions.begin(), captions.end());
  return captions;
}

struct HandEdit {
  const char* name;  // of the case, for the test's name
  const wchar_t* setting;
  std::wstring value;
  int reported;                     // the error number the report shows; 0 for none
  const wchar_t* method;            // the procedure the report starts at
  std::vector<std::wstring> stack;  // call-stack lines, innermost first, up to the first "("
  int line;                         // the line of Form_Load the start-up ended at
};

void PrintTo(const HandEdit& edit, std::ostream* out) {
  const std::string value = Narrow(edit.value);
  *out << Narrow(edit.setting) << "=\"" << value.substr(0, 12) << '"';
  if (value.size() > 12) *out << " (" << value.size() << " characters)";
}

class HandEditedSettings : public ProgramScene, public ::testing::WithParamInterface<HandEdit> {};

TEST_P(HandEditedSettings, AreReportedAndTheProgramCarriesOnLosingNothing) {
  const HandEdit& edit = GetParam();
  // What the user had besides the edited value.
  SetString(HKEY_CURRENT_USER, kSettings, L"CloseAfterChange", L"1");
  SetString(HKEY_CURRENT_USER, kSettings, L"FormLeft", L"1500");
  SetString(HKEY_CURRENT_USER, kSettings, L"FormTop", L"1200");
  SetString(HKEY_CURRENT_USER, kSettings, L"Language", L"2");
  SetString(HKEY_CURRENT_USER, kSettings, edit.setting, edit.value);
  const auto icqBefore = Tree(icq_);

  Program program(kProgram, scene_, scene_);
  ASSERT_TRUE(program.Started()) << "CreateProcess failed: " << GetLastError();
  const HWND main = program.WaitForWindow(L"Velmora");
  ASSERT_NE(main, nullptr) << "no main window; the program " << (program.Running() ? "is still running" : "has ended");

  const HWND report = TopWindow(program.Pid(), L"Error Report");
  if (edit.reported == 0) {
    EXPECT_EQ(report, nullptr) << "an error was reported";
  } else {
    ASSERT_NE(report, nullptr) << "no error report";
    std::wstring text;
    for (HWND box : Descendants(report, L"Edit")) text += TextOf(box);
    EXPECT_NE(text.find(L"  Number: " + std::to_wstring(edit.reported) + L" = "), std::wstring::npos) << Narrow(text);
    EXPECT_NE(text.find(std::wstring(L"  Method: ") + edit.method + L" \r\n"), std::wstring::npos) << Narrow(text);
    std::vector<std::wstring> stack;
    for (std::size_t at = text.find(L"  Call Stack: "); at != std::wstring::npos;
         at = text.find(L"  Call Stack: ", at + 1))
      stack.push_back(text.substr(at + 14, text.find(L'(', at) - at - 14));
    EXPECT_EQ(stack, edit.stack) << Narrow(text);
    const std::wstring last = L"  Call Stack: frmMain.Form_Load()  at Line " + std::to_wstring(edit.line) + L" ";
    EXPECT_NE(text.find(last), std::wstring::npos) << Narrow(text);
    PostMessageW(report, WM_CLOSE, 0, 0);
  }

  // The main window answers, with every button, and the texts of its design
  // where the start-up did not get to set a language.
  DWORD_PTR length = 0;
  ASSERT_TRUE(SendMessageTimeoutW(main, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length));
  const std::vector<HWND> buttons = Descendants(main, kButtonClass);
  EXPECT_EQ(buttons.size(), ButtonsInLayout());
  std::vector<std::wstring> captions;
  for (HWND b : buttons) captions.push_back(TextOf(b));
  std::sort(captions.begin(), captions.end());
  EXPECT_EQ(captions, DesignCaptions());

  // A later click works: the settings button opens the settings window, in
  // English, the language of every number but 1.
  HWND settingsButton = nullptr;
  for (HWND b : buttons)
    if (TextOf(b) == L"Einstellungen" || TextOf(b) == L"Settings") settingsButton = b;
  ASSERT_NE(settingsButton, nullptr);
  RECT r;
  GetClientRect(settingsButton, &r);
  const LPARAM middle = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(settingsButton, WM_LBUTTONDOWN, MK_LBUTTON, middle);
  PostMessageW(settingsButton, WM_LBUTTONUP, 0, middle);
  const HWND settings = program.WaitForWindow(L"Settings", std::chrono::seconds(20));
  ASSERT_NE(settings, nullptr) << "the settings window did not open";
  for (int i = 0; i < 200 && IsWindowEnabled(main); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_FALSE(IsWindowEnabled(main)) << "the settings window is not modal";
  PostMessageW(settings, WM_CLOSE, 0, 0);
  for (int i = 0; i < 200 && !IsWindowEnabled(main); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_TRUE(IsWindowEnabled(main)) << "the main window did not come back";

  PostMessageW(main, WM_CLOSE, 0, 0);
  const std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code.has_value()) << "the program did not end on WM_CLOSE";
  EXPECT_EQ(*code, 0u);
  EXPECT_EQ(TopWindow(program.Pid(), L"Error Report"), nullptr);

  // Nothing lost: what the shutdown does not write keeps its value (the
  // language the start-up wrote back as it was read), the position it writes
  // reads as a number again, ICQ's files are as they were.
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, kSettings, L"CloseAfterChange"), L"1");
  const std::wstring language = std::wstring(edit.setting) == L"Language" ? edit.value : L"2";
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, kSettings, L"Language"), language);
  for (const wchar_t* name : {L"FormLeft", L"FormTop"}) {
    const std::optional<std::wstring> stored = GetString(HKEY_CURRENT_USER, kSettings, name);
    ASSERT_TRUE(stored.has_value()) << Narrow(name);
    EXPECT_TRUE(IsSingleText(*stored)) << Narrow(name) << " = " << Narrow(*stored);
  }
  EXPECT_TRUE(Tree(icq_) == icqBefore) << "ICQ's files changed";
}

HandEdit FormLeft(const char* name, std::wstring value, int reported) {
  return {name, L"FormLeft", std::move(value), reported, L"frmMain.Form_Load", {L"frmMain.Form_Load"}, 30};
}

HandEdit Language(const char* name, std::wstring value, int reported) {
  if (reported == 0) return {name, L"Language", std::move(value), 0, L"", {}, 0};
  return {name,
          L"Language",
          std::move(value),
          reported,
          L"frmMain.GetLanguage",
          {L"frmMain.GetLanguage", L"frmMain.Form_Load"},
          90};
}

INSTANTIATE_TEST_SUITE_P(Hand, HandEditedSettings,
                         ::testing::Values(FormLeft("FormLeftNoNumber", L"abc", 13),
                                           FormLeft("FormLeftBeyondASingle", L"1e40", 6),
                                           FormLeft("FormLeftOf300Digits", std::wstring(300, L'9'), 6),
                                           Language("LanguageMinusOne", L"-1", 0),
                                           Language("LanguageBeyondInt16", L"99999", 6)),
                         [](const ::testing::TestParamInfo<HandEdit>& info) { return std::string(info.param.name); });

}  // namespace
