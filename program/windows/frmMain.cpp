#include "windows/frmMain.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "errors/ErrChain.h"
#include "errors/VbConvert.h"
#include "platform/Ports.h"
#include "services/basElevation.h"
#include "services/clsAutoUpdate.h"
#include "services/clsBackup.h"
#include "services/clsFile.h"
#include "services/clsReg.h"
#include "theme/clsKorvanel.h"
#include "windows/PictureBox.h"
#include "windows/StartupTrace.h"
#include "windows/frmInfo.h"
#include "windows/frmMainDiscovery.h"
#include "windows/frmSettings.h"

namespace velmora {
namespace {

constexpr const char* kPictureFilter = "Bilddateien(*.jpg;*.gif;*.bmp;*.tif)|*.jpg;*.gif;*.bmp;*.tif";

float TwipsPerPixel(bool across) {
  return 1440.0f / static_cast<float>(across ? TwipsToPixelsX(1440) : TwipsToPixelsY(1440));
}

// A window edge in pixels for a position in twips. Any position is taken as
// it is, off the screen too; only what a window coordinate cannot hold at all
// is cut to its range.
int PixelsOf(float twips, bool across) {
  const double pixels = std::nearbyint(static_cast<double>(twips) / TwipsPerPixel(across));
  return pixels > INT_MAX / 2 ? INT_MAX / 2 : pixels < INT_MIN / 2 ? INT_MIN / 2 : static_cast<int>(pixels);
}

// The place nearest to r where the whole window lies in the work area of
// the monitor nearest to it; a window larger than the work area keeps its
// top left corner in it.
POINT NearestWorkAreaPlace(const RECT& r) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &monitor))
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &monitor.rcWork, 0);
  const RECT& work = monitor.rcWork;
  const auto within = [](LONG at, LONG size, LONG from, LONG to) { return std::max(from, std::min(at, to - size)); };
  return {within(r.left, r.right - r.left, work.left, work.right),
          within(r.top, r.bottom - r.top, work.top, work.bottom)};
}

// The folder that holds a file, with its trailing backslash.
std::string ParentFolder(const std::string& path) { return path.substr(0, path.find_last_of('\\') + 1); }

}  // namespace

// The click handlers, in the layout's order.
frmMain::frmMain()
    : Form("frmMain.layout", {{"qbtnRemoveBanner", [this] { qbtnRemoveBanner_Click(); }},
                              {"qbtnOpen", [this] { qbtnOpen_Click(); }},
                              {"qbtnApply", [this] { qbtnApply_Click(); }},
                              {"qbtnCheckUpdate", [this] { qbtnCheckUpdate_Click(); }},
                              {"qbtnSettings", [this] { qbtnSettings_Click(); }},
                              {"qbtnInfo", [this] { qbtnInfo_Click(); }}}) {}

frmMain& MainForm() {
  static frmMain form;
  return form;
}

void frmMain::SetControlText(const std::string& control, const std::string& text) { SetText(control, text); }

// ---------------------------------------------------------------- start and end

void frmMain::Form_Load() {
  RunEvent("frmMain.Form_Load", [&](Trap& trap) {
    trap.at(10);
    SetRegKey(true);
    trap.at(20);
    CloseAfterApply = CInt(RegStore().ReadEntry("CloseAfterChange", "0"));
    RECT window;
    GetWindowRect(Hwnd(), &window);
    trap.at(30);
    const float centredLeft =
        (static_cast<float>(GetSystemMetrics(SM_CXSCREEN)) - static_cast<float>(window.right - window.left)) *
        TwipsPerPixel(true) / 2.0f;
    sngLeft_ = CSng(RegStore().ReadEntry("FormLeft", SingleText(centredLeft)));
    PlaceAt(sngLeft_, PositionTwips(false));
    trap.at(40);
    const float centredTop =
        (static_cast<float>(GetSystemMetrics(SM_CYSCREEN)) - static_cast<float>(window.bottom - window.top)) *
        TwipsPerPixel(false) / 2.0f;
    sngTop_ = CSng(RegStore().ReadEntry("FormTop", SingleText(centredTop)));
    PlaceAt(sngLeft_, sngTop_);
    VELMORA_MARK("settings read and window placed");
    trap.at(50);
    strICQPath = GetICQPath();
    VELMORA_MARK("ICQ folder found");
    trap.at(60);
    ShowPreview(strICQPath + PictureFile());
    VELMORA_MARK("preview of cl.jpg");
    trap.at(70);
    Korvanel().UseFolder(strICQPath);
    trap.at(80);
    if (!strICQPath.empty()) {
      const bool msgRemoved = Korvanel().MsgBannerIsRemoved();
      if (msgRemoved && Korvanel().ClBannerIsRemoved()) SetVisible("qbtnRemoveBanner", false);
    }
    VELMORA_MARK("banner checks");
    trap.at(90);
    CurrentLanguage = GetLanguage();
    trap.at(100);
    SetLanguage(CurrentLanguage);
    VELMORA_MARK("language and texts");
  });
}

void frmMain::Form_Unload() {
  const int16_t Cancel = 0;
  Trap trap("frmMain.Form_Unload(Cancel)");
  try {
    trap.at(10);
    SetRegKey(true);
    trap.at(20);
    RegStore().WriteEntry("ICQLitePath", strICQPath);
    trap.at(30);
    RegStore().WriteEntry("FormLeft", SingleText(PositionTwips(true)));
    RegStore().WriteEntry("FormTop", SingleText(PositionTwips(false)));
    trap.at(40);
    ReleaseKorvanel();
  } catch (...) {
    ErrorIn(trap, Cancel, ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
  // The unload is never cancelled: the program ends with its main window.
  PostQuitMessage(0);
}

void frmMain::PlaceAt(float left, float top) {
  placedAt_ = {PixelsOf(left, true), PixelsOf(top, false)};
  SetWindowPos(Hwnd(), nullptr, placedAt_.x, placedAt_.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT r;
  GetWindowRect(Hwnd(), &r);
  // A place stored while another monitor or resolution was in use may now be
  // on no screen at all, and the user could never reach the window there.
  if (!MonitorFromRect(&r, MONITOR_DEFAULTTONULL)) {
    const POINT onScreen = NearestWorkAreaPlace(r);
    SetWindowPos(Hwnd(), nullptr, onScreen.x, onScreen.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(Hwnd(), &r);
  }
  // Moved by us or by the system (it may move a window it was told to put far
  // away): what the window knows of its place is where it really is, and
  // that is what gets stored.
  if (r.left != placedAt_.x || r.top != placedAt_.y) placedAt_ = {LONG_MIN, LONG_MIN};
}

float frmMain::PositionTwips(bool left) const {
  RECT r;
  GetWindowRect(Hwnd(), &r);
  // A minimised window sits far off the screen; its place is where it
  // comes back to.
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (IsIconic(Hwnd()) && GetWindowPlacement(Hwnd(), &placement)) r = placement.rcNormalPosition;
  // Unmoved since the start: the restored value, fraction and all.
  if (r.left == placedAt_.x && r.top == placedAt_.y) return left ? sngLeft_ : sngTop_;
  return static_cast<float>(left ? r.left : r.top) * TwipsPerPixel(left);
}

void frmMain::SetRegKey(bool bolOwnKey) { frmMainDiscovery::SetRegKey(bolOwnKey); }

int16_t frmMain::GetLanguage() {
  Trap trap("frmMain.GetLanguage");
  try {
    trap.at(10);
    SetRegKey(true);
    trap.at(20);
    const int16_t intLang = CInt(RegStore().ReadEntry("Language", "0"));
    trap.at(30);
    return intLang == 0 ? GetSystemLanguage() : intLang;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

bool frmMain::KeyDown(HWND, int keyCode, int shift) {
  // Ctrl+E offers the banner removal again; with Shift or Alt held as well
  // it is another key.
  if (keyCode == LetterKey('E') && shift == kCtrlHeld) SetVisible("qbtnRemoveBanner", true);
  return false;
}

// ---------------------------------------------------------------- finding ICQ

// Finding ICQ talks to the system only through the ports and lives with the
// portable code, where it is tested without a window.
std::string frmMain::GetICQPath() { return frmMainDiscovery::GetICQPath(); }

bool frmMain::RightICQPath(const std::string& strPath) { return frmMainDiscovery::RightICQPath(strPath); }

// ---------------------------------------------------------------- the picture

bool frmMain::ShowPreview(const std::string& strPath) {
  try {
    DrawPictureFile(Control("picImage"), strPath);
    return true;
  } catch (...) {
    return false;
  }
}

void frmMain::NoFolderWarning() {
  MessageBoxes().Show(CurrentLanguage == 1
                          ? "Sie haben den ICQLite Pfad nicht angegeben und können deshalb diese Funktion nicht nutzen"
                          : "You did not specified the ICQLite path and can not use this function",
                      APP_TITLE, MessageBoxPort::kOkExclamation);
}

void frmMain::qbtnOpen_Click() {
  RunEvent("frmMain.qbtnOpen_Click", [&](Trap& trap) {
    trap.at(10);
    std::string chosen;
    try {
      if (!FileDialog().ShowOpen(kPictureFilter, &chosen)) return;
    } catch (...) {
      return;
    }
    trap.at(20);
    if (!chosen.empty()) {
      strChosenPicture = chosen;
      ShowPreview(strChosenPicture);
      trap.at(30);
      Quillon("qbtnApply").SetEnabled(true);
    }
  });
}

void frmMain::qbtnApply_Click() {
  RunEvent("frmMain.qbtnApply_Click", [&](Trap& trap) {
    trap.at(10);
    if (strICQPath.empty()) {
      NoFolderWarning();
      return;
    }
    trap.at(20);
    const std::string bitmap = PersistentImageAsBmp(Control("picImage"));
    trap.at(30);
    const ElevatedCommand work{"apply", strICQPath, {}, {}, {}};
    if (!ChangeIcqFiles({PictureFile()}, {strICQPath + kThemeCoreFolder}, work,
                        [&] { InstallPicture(trap, strICQPath, bitmap); }, bitmap))
      return;
    trap.at(50);
    MessageBoxes().Show(ByLanguage("Änderungen wurden übernommen", "Changes have been applied"), APP_TITLE,
                        MessageBoxPort::kOkInformation);
    trap.at(60);
    if (CloseAfterApply == 1) Unload();
  });
}

void frmMain::qbtnRemoveBanner_Click() {
  RunEvent("frmMain.qbtnRemoveBanner_Click", [&](Trap& trap) {
    trap.at(10);
    if (strICQPath.empty()) {
      NoFolderWarning();
      return;
    }
    trap.at(30);
    const std::vector<std::string> folders = {ParentFolder(strICQPath + kMsgStyleFile),
                                              ParentFolder(strICQPath + kClStyleFile), strICQPath + kDefaultsFolder};
    const ElevatedCommand work{"remove-banners", strICQPath, {}, {}, {}};
    if (!ChangeIcqFiles(BannerRemovalFiles(strICQPath), folders, work, [&] { RemoveBanners(trap, strICQPath); }))
      return;
    trap.at(65);
    // The files say whether it worked, whoever did the work: an ICQ whose
    // theme lacks the banners' heads comes through the edits unchanged.
    Korvanel().UseFolder(strICQPath);
    const bool msgRemoved = Korvanel().MsgBannerIsRemoved();
    if (!msgRemoved || !Korvanel().ClBannerIsRemoved()) {
      MessageBoxes().Show(ByLanguage("Velmora konnte die Banner in den Theme-Dateien von ICQ nicht finden, daher wurden "
                                     "sie nicht entfernt. Diese Version von ICQ wird möglicherweise nicht unterstützt.",
                                     "Velmora could not find the banners in ICQ's theme files, so they were not "
                                     "removed. This version of ICQ may not be supported."),
                          APP_TITLE, MessageBoxPort::kOkExclamation);
      return;
    }
    trap.at(70);
    SetVisible("qbtnRemoveBanner", false);
  });
}

bool frmMain::ChangeIcqFiles(const std::vector<std::string>& files, const std::vector<std::string>& folders,
                             const ElevatedCommand& work, const std::function<void()>& here, std::string_view bitmap) {
  clsBackup().KeepOriginals(strICQPath, files);
  bool done = false;
  try {
    done = DoWithRights(folders, work, here, bitmap);
  } catch (...) {
    // A command that failed part way may still have written some files:
    // what they hold now is Velmora's, not someone else's.
    try {
      clsBackup().NoteWritten(strICQPath, files);
    } catch (...) {
    }
    throw;
  }
  clsBackup().NoteWritten(strICQPath, files);
  return done;
}

// ---------------------------------------------------------------- the other buttons

void frmMain::qbtnCheckUpdate_Click() {
  RunEvent("frmMain.qbtnCheckUpdate_Click", [&](Trap& trap) {
    trap.at(10);
    RunUpdateCheck(CurrentLanguage);
  });
}

void frmMain::qbtnSettings_Click() {
  RunEvent("frmMain.qbtnSettings_Click", [&](Trap& trap) {
    trap.at(10);
    SettingsForm().Load(Hwnd());
    trap.at(20);
    SettingsForm().ShowModal(Hwnd());
  });
}

void frmMain::qbtnInfo_Click() {
  RunEvent("frmMain.qbtnInfo_Click", [&](Trap& trap) {
    trap.at(10);
    InfoForm().Load(Hwnd());
    trap.at(20);
    InfoForm().ShowModal(Hwnd());
  });
}

}  // namespace velmora
