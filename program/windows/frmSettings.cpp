#include "windows/frmSettings.h"

#include <commctrl.h>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Ports.h"
#include "services/basElevation.h"
#include "services/basMain.h"
#include "services/clsBackup.h"
#include "services/clsReg.h"
#include "windows/frmMain.h"

namespace velmora {

// The click handlers, in the layout's order.
frmSettings::frmSettings()
    : Form("frmSettings.layout", {{"combLanguage", [this] { combLanguage_Click(); }},
                                  {"cmdOk", [this] { cmdOk_Click(); }},
                                  {"cmdCancel", [this] { cmdCancel_Click(); }},
                                  {"cmdRestore", [this] { cmdRestore_Click(); }}}) {}

frmSettings& SettingsForm() {
  static frmSettings form;
  return form;
}

void frmSettings::SetSettingsLanguage(int16_t intLang) {
  Trap trap("frmSettings.SetSettingsLanguage(intLang)");
  try {
    trap.at(10);
    const bool german = intLang == 1;
    SetCaption(german ? "Einstellungen" : "Settings");
    trap.at(20);
    SetText("lblLanguage", german ? "Sprache" : "Language");
    trap.at(30);
    SetText("chkCloseAfterApply",
            german ? "Nach Entfernen des Banners Velmora schließen" : "Close Velmora after banner has been removed");
    trap.at(40);
    SetText("cmdCancel", german ? "Abbrechen" : "Cancel");
    trap.at(50);
    SetText("cmdRestore", german ? "Originaldateien von ICQ wiederherstellen" : "Restore ICQ's original files");
  } catch (...) {
    ErrorIn(trap, intLang, ERRIN_PASS_ON);
  }
}

void frmSettings::Form_Load() {
  RunEvent("frmSettings.Form_Load", [&](Trap& trap) {
    trap.at(10);
    SetSettingsLanguage(CurrentLanguage);
    trap.at(20);
    SendMessageW(Control("chkCloseAfterApply"), BM_SETCHECK, CloseAfterApply == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    trap.at(30);
    HWND list = Control("combLanguage");
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Deutsch"));
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"English"));
    trap.at(40);
    // A language outside the list selects nothing, and nothing is chosen.
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(CurrentLanguage - 1), 0);
    combLanguage_Click();
    trap.at(50);
    // Only a folder whose originals were kept can have them back.
    EnableWindow(Control("cmdRestore"), clsBackup::Exists(MainForm().ICQPath()));
  });
}

void frmSettings::combLanguage_Click() {
  RunEvent("frmSettings.combLanguage_Click", [&](Trap& trap) {
    trap.at(10);
    intChosenLanguage = static_cast<int16_t>(SendMessageW(Control("combLanguage"), CB_GETCURSEL, 0, 0) + 1);
  });
}

void frmSettings::cmdOk_Click() {
  RunEvent("frmSettings.cmdOk_Click", [&](Trap& trap) {
    trap.at(10);
    clsReg& store = RegStore();
    trap.at(20);
    if (intChosenLanguage >= 0) {
      SetLanguage(intChosenLanguage);
      CurrentLanguage = intChosenLanguage;
    }
    trap.at(30);
    CloseAfterApply = SendMessageW(Control("chkCloseAfterApply"), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    trap.at(40);
    store.WriteEntry("CloseAfterChange", std::to_string(CloseAfterApply));
    trap.at(50);
    Unload();
  });
}

void frmSettings::cmdCancel_Click() {
  RunEvent("frmSettings.cmdCancel_Click", [&](Trap& trap) {
    trap.at(10);
    Unload();
  });
}

void frmSettings::cmdRestore_Click() {
  RunEvent("frmSettings.cmdRestore_Click", [&](Trap& trap) {
    trap.at(10);
    const std::string strICQPath = MainForm().ICQPath();
    if (!clsBackup::Exists(strICQPath)) return;
    trap.at(20);
    if (MessageBoxes().Show(ByLanguage("Die Dateien von ICQ wiederherstellen, wie sie vor den Änderungen durch "
                                       "Velmora waren?",
                                       "Put back ICQ's files as they were before Velmora changed them?"),
                            APP_TITLE, MessageBoxPort::kYesNoQuestion) != MessageBoxPort::kAnswerYes)
      return;
    trap.at(30);
    const std::string backup = clsBackup::FolderFor(strICQPath);
    // What the restore leaves is known before it runs: the elevated program
    // decides the same way on the same files.
    std::vector<std::string> left = clsBackup::ChangedByOthers(strICQPath, backup);
    trap.at(40);
    const ElevatedCommand work{"restore", strICQPath, {}, backup, {}};
    if (!DoWithRights(clsBackup::RestoreFolders(strICQPath, backup), work,
                      [&] { left = RestoreOriginals(trap, strICQPath, backup); }))
      return;
    trap.at(50);
    std::string done =
        ByLanguage("Die Originaldateien von ICQ wurden wiederhergestellt.", "ICQ's original files have been restored.");
    if (!left.empty()) {
      done += "\r\n\r\n" + ByLanguage("Diese Dateien wurden nach den Änderungen durch Velmora von einem anderen "
                                        "Programm geändert und blieben unverändert:",
                                        "These files were changed by another program after Velmora changed them, "
                                        "and were left as they are:");
      for (const std::string& file : left) done += "\r\n" + file;
    }
    MessageBoxes().Show(done, APP_TITLE, MessageBoxPort::kOkInformation);
    trap.at(60);
    MainForm().SetVisible("qbtnRemoveBanner", true);
  });
}

}  // namespace velmora
