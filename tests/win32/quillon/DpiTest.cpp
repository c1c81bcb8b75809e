// The program's windows on a screen of more dots per inch, as the program
// makes them (it declares itself aware of the system's DPI): the preview
// keeps the pixels of ICQ's banner area and sits in the middle of its scaled
// place, the buttons draw their icons at the size the DPI asks for, and no
// text outgrows its control.
//
//   quillon_dpi_tests --dpi=N [gtest options]
//       sets the DPI of the prefix's user to N, runs the tests in a process
//       of their own (a process reads the DPI when it starts), and takes the
//       setting back
//   quillon_dpi_tests --set-dpi=0
//       takes it back only: the test command's clean-up after a test that
//       was stopped before it could
//
// Wine takes the DPI from "LogPixels" under HKCU\Control Panel\Desktop when
// a process starts (the machine's value under the hardware profile's Fonts
// key where the user has none). Every process started meanwhile sees it too,
// so these tests run alone.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProgramWindows.h"
#include "services/basMain.h"
#include "windows/PictureBox.h"
#include "windows/WinUtil.h"
#include "windows/frmInfo.h"
#include "windows/frmSettings.h"
#include "windows/frmShowError.h"

namespace host {
namespace {

int g_dpi = 96;  // what the screen has to be at

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

int Px(int twips) { return MulDiv(twips, g_dpi, 1440); }

// A control's place within its window's client area, in pixels.
RECT PlaceIn(HWND window, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The size a text takes in a control's font, broken into lines at `width`
// (one line when width is 0).
SIZE TextSize(HWND control, const std::wstring& text, int width) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT r{0, 0, width > 0 ? width : 10000, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_NOPREFIX | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return {r.right, r.bottom};
}

// Every text of a window's labels, check boxes and command buttons fits
// in its control: a label or check box may break its text into lines within
// its width, but not into more lines than its height holds; a button shows
// its text on one line inside its edges.
void ExpectNoTextCut(HWND window, const char* what) {
  SCOPED_TRACE(what);
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!IsWindowVisible(c)) continue;
    wchar_t cls[64] = {};
    GetClassNameW(c, cls, 64);
    const std::wstring text = velmora::WindowText(c);
    if (text.empty()) continue;
    RECT client;
    GetClientRect(c, &client);
    const LONG style = static_cast<LONG>(GetWindowLongPtrW(c, GWL_STYLE));
    SIZE need{};
    int room = client.right;
    if (_wcsicmp(cls, L"Static") == 0) {
      need = TextSize(c, text, room);
      // A word longer than the line runs past it.
      EXPECT_LE(need.cx, room) << Utf8(text);
    } else if (_wcsicmp(cls, L"Button") == 0 && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
      room -= GetSystemMetrics(SM_CXMENUCHECK) + MulDiv(4, g_dpi, 96);
      need = TextSize(c, text, room);
    } else if (_wcsicmp(cls, L"Button") == 0) {
      room -= 2 * (GetSystemMetrics(SM_CXEDGE) + MulDiv(3, g_dpi, 96));
      need = TextSize(c, text, 0);
      EXPECT_LE(need.cx, room) << Utf8(text);
    } else {
      continue;
    }
    EXPECT_LE(need.cy, client.bottom) << Utf8(text) << ": " << need.cy << " pixels high in " << client.bottom;
  }
}

// Quillon buttons: the caption ends inside the button's outline, with a
// clear column between them (the button keeps a margin on its right).
void ExpectCaptionsInside(velmora::Form& form, const std::vector<const char*>& names, const char* what) {
  SCOPED_TRACE(what);
  // In their resting look: no focus rectangle inside the outline.
  SetFocus(nullptr);
  for (const char* name : names) {
    const HWND b = form.Control(name);
    if (!IsWindowVisible(b)) continue;
    const Snapshot s = Take(b);
    auto dark = [&](int x, int y) {
      const COLORREF c = s.At(x, y);
      return GetRValue(c) + GetGValue(c) + GetBValue(c) < 200;
    };
    // The outline's right edge, across the middle row; in the middle third
    // of the height it runs straight down, and the caption lies there.
    int outline = s.width - 1;
    while (outline > 0 && !dark(outline, s.height / 2)) --outline;
    int textRight = -1;
    for (int y = s.height / 3; y < s.height * 2 / 3; ++y)
      for (int x = s.width / 3; x < outline; ++x)
        if (dark(x, y)) textRight = std::max(textRight, x);
    ASSERT_GE(textRight, 0) << name << ": no caption drawn";
    EXPECT_LT(textRight, outline - 1) << Utf8(velmora::WindowText(b)) << " reaches the outline at " << outline;
  }
}

class Dpi : public MainWindowTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(ScreenDpi(), g_dpi) << "the screen is not at the DPI asked for: HKCU\\Control Panel\\Desktop "
                                     "LogPixels was not set before the test started";
    MainWindowTest::SetUp();
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    velmora::CurrentLanguage = language_;
  }

  const int16_t language_ = velmora::CurrentLanguage;
};

TEST_F(Dpi, ThePreviewKeepsItsPixelsInTheMiddleOfItsScaledPlace) {
  const HWND box = main.Control("picImage");
  RECT client;
  GetClientRect(box, &client);
  EXPECT_EQ(client.right, 136);
  EXPECT_EQ(client.bottom, 103);
  const RECT at = PlaceIn(main.Hwnd(), box);
  EXPECT_EQ(at.right - at.left, 138);
  EXPECT_EQ(at.bottom - at.top, 105);
  // The layout's place, 2070 x 1575 twips at 360, 1800: 138 x 105 pixels
  // at 96 dots per inch, more at more.
  const RECT twips = main.Bounds("picImage");
  const RECT place{Px(twips.left), Px(twips.top), Px(twips.right), Px(twips.bottom)};
  EXPECT_NEAR(at.left + at.right, place.left + place.right, 1)
      << "from " << at.left << " in " << place.left << "-" << place.right;
  EXPECT_NEAR(at.top + at.bottom, place.top + place.bottom, 1)
      << "from " << at.top << " in " << place.top << "-" << place.bottom;
  // What gets installed is the same 136 x 103 pixels.
  const std::string bmp = velmora::PersistentImageAsBmp(box);
  BITMAPINFOHEADER info;
  ASSERT_GE(bmp.size(), sizeof(BITMAPFILEHEADER) + sizeof info);
  std::memcpy(&info, bmp.data() + sizeof(BITMAPFILEHEADER), sizeof info);
  EXPECT_EQ(info.biWidth, 136);
  EXPECT_EQ(info.biHeight, 103);

  // Moved, it goes to the middle of its new place.
  main.Move("picImage", twips.left, twips.top, twips.right - twips.left + 600, twips.bottom - twips.top);
  const RECT moved = PlaceIn(main.Hwnd(), box);
  EXPECT_NEAR(moved.left + moved.right, place.left + Px(twips.right + 600), 1);
  EXPECT_EQ(moved.right - moved.left, 138);
}

TEST_F(Dpi, TheButtonsShowTheirIconsAtTheSizeTheDpiAsksFor) {
  const int size = MulDiv(32, g_dpi, 96);  // 40 at 120, 48 at 144
  for (const char* name :
       {"qbtnRemoveBanner", "qbtnOpen", "qbtnApply", "qbtnCheckUpdate", "qbtnSettings", "qbtnInfo"}) {
    SCOPED_TRACE(name);
    ComPtr<IPictureDisp> shown;
    ASSERT_EQ(main.Quillon(name).Control()->get_ButtonPicture(shown.Put()), S_OK);
    ComPtr<IPicture> picture = shown.As<IPicture>();
    ASSERT_TRUE(picture);
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    EXPECT_EQ(MulDiv(width, g_dpi, 2540), size);
    EXPECT_EQ(MulDiv(height, g_dpi, 2540), size);
  }
  // As drawn: the green disc of the apply icon fills most of the icon's
  // width (116 of its 128 drawn pixels), not that of a smaller image.
  const Snapshot s = Take(main.Control("qbtnApply"));
  int first = s.width, last = -1;
  for (int x = 0; x < s.width / 2; ++x)
    for (int y = 0; y < s.height; ++y) {
      const COLORREF c = s.At(x, y);
      if (GetGValue(c) > GetRValue(c) + 50 && GetGValue(c) > GetBValue(c) + 50) {
        first = std::min(first, x);
        last = std::max(last, x);
      }
    }
  EXPECT_GE(last - first + 1, size * 85 / 100) << "the disc spans " << first << "-" << last;
  EXPECT_LE(last - first + 1, size);
}

TEST_F(Dpi, NoTextIsCutInEitherLanguage) {
  // The main window with each language's texts (the layout holds the
  // design's, mostly German).
  const std::vector<const char*> captioned = {"qbtnRemoveBanner", "qbtnOpen", "qbtnApply", "qbtnCheckUpdate",
                                              "qbtnSettings"};
  ExpectNoTextCut(main.Hwnd(), "main window, design");
  ExpectCaptionsInside(main, captioned, "main window, design");
  const std::vector<std::pair<const char*, const char*>> german = {
      {"qbtnApply", "Änderungen übernehmen"},
      {"qbtnOpen", "Bild auswählen"},
      {"qbtnRemoveBanner", "Banner entfernen"},
      {"qbtnSettings", "Einstellungen"},
      {"lblPreview", "Vorschau"},
      {"lblRemovedBanner", "Banner wurde bereits entfernt"},
      {"qbtnCheckUpdate", "Nach Updates suchen"}};
  const std::vector<std::pair<const char*, const char*>> english = {{"qbtnApply", "Apply Changes"},
                                                                    {"qbtnOpen", "Choose Picture"},
                                                                    {"qbtnRemoveBanner", "Remove Banner"},
                                                                    {"qbtnSettings", "Settings"},
                                                                    {"lblPreview", "Preview"},
                                                                    {"lblRemovedBanner", "Banner is already removed"},
                                                                    {"qbtnCheckUpdate", "Search for updates"}};
  for (const auto* texts : {&german, &english}) {
    for (const auto& [name, text] : *texts) main.SetText(name, text);
    PumpProgram(30);
    const char* what = texts == &german ? "main window, German" : "main window, English";
    ExpectNoTextCut(main.Hwnd(), what);
    ExpectCaptionsInside(main, captioned, what);
    main.SetVisible("qbtnRemoveBanner", false);  // the label under it shows
    ExpectNoTextCut(main.Hwnd(), what);
    main.SetVisible("qbtnRemoveBanner", true);
  }

  for (int16_t language : {1, 2}) {
    velmora::CurrentLanguage = language;
    const char* tongue = language == 1 ? "German" : "English";
    velmora::SettingsForm().Load(main.Hwnd());
    velmora::SettingsForm().Show();
    velmora::InfoForm().Load(main.Hwnd());
    velmora::InfoForm().Show();
    velmora::ErrorForm().ErrorReport("a report");
    PumpProgram(100);
    ExpectNoTextCut(velmora::SettingsForm().Hwnd(), (std::string("settings, ") + tongue).c_str());
    ExpectNoTextCut(velmora::InfoForm().Hwnd(), (std::string("about, ") + tongue).c_str());
    ExpectCaptionsInside(velmora::InfoForm(), {"qbtnOk"}, (std::string("about, ") + tongue).c_str());
    ExpectNoTextCut(velmora::ErrorForm().Hwnd(), (std::string("report, ") + tongue).c_str());
    ExpectCaptionsInside(velmora::ErrorForm(), {"qbtnCopy"}, (std::string("report, ") + tongue).c_str());
    // The address follows the sentence before it on the same line.
    const RECT sentence = PlaceIn(velmora::ErrorForm().Hwnd(), velmora::ErrorForm().Control("lblError"));
    const RECT address = PlaceIn(velmora::ErrorForm().Hwnd(), velmora::ErrorForm().Control("lblAddress"));
    EXPECT_GE(address.left, sentence.right);
    velmora::SettingsForm().Unload();
    velmora::InfoForm().Unload();
    velmora::ErrorForm().Unload();
  }
}

// HKCU\Control Panel\Desktop "LogPixels": N, or none for 0.
int SetDpi(int dpi) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  const DWORD value = static_cast<DWORD>(dpi);
  LONG rc = dpi > 0
                ? RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value)
                : RegDeleteValueW(key, L"LogPixels");
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || (dpi == 0 && rc == ERROR_FILE_NOT_FOUND) ? 0 : 1;
}

}  // namespace
}  // namespace host

namespace {

// Runs this program again with `--child` at the DPI asked for.
int RunAtDpi(int dpi) {
  if (host::SetDpi(dpi) != 0) {
    std::fprintf(stderr, "cannot set LogPixels\n");
    return 1;
  }
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command = std::wstring(GetCommandLineW()) + L" --child";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  DWORD code = 1;
  if (CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    std::fprintf(stderr, "cannot start the tests: %lu\n", GetLastError());
  }
  host::SetDpi(0);
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool child = false;
  int dpi = 0;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--set-dpi=", 10) == 0) return host::SetDpi(std::atoi(argv[i] + 10));
    if (std::strncmp(argv[i], "--dpi=", 6) == 0) dpi = std::atoi(argv[i] + 6);
    else if (std::strcmp(argv[i], "--child") == 0) child = true;
    else args.push_back(argv[i]);
  }
  if (dpi > 0 && !child) return RunAtDpi(dpi);
  if (dpi > 0) host::g_dpi = dpi;
  int count = static_cast<int>(args.size());
  ::testing::InitGoogleTest(&count, args.data());
  return RUN_ALL_TESTS();
}
