#include "windows/frmMainDiscovery.h"

#include <string_view>
#include <type_traits>
#include <utility>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "services/basMain.h"
#include "services/clsFile.h"
#include "services/clsReg.h"

namespace velmora::frmMainDiscovery {
namespace {

constexpr const char* kVendorKey = "velmora.example";

// The shared store is on ICQ's key only while this lives. The way back is
// made ready before the switch and taken without anything that can fail, so
// that no error of the discovery, however it ends, leaves the store where
// the language and the settings window would write into ICQ's registration.
class OwnKeyOnExit {
 public:
  OwnKeyOnExit() { SelectKey(own_, true); }
  OwnKeyOnExit(const OwnKeyOnExit&) = delete;
  OwnKeyOnExit& operator=(const OwnKeyOnExit&) = delete;
  ~OwnKeyOnExit() { RegStore() = std::move(own_); }

 private:
  static_assert(std::is_nothrow_move_assignable_v<clsReg>);
  clsReg own_;
};

}  // namespace

void SelectKey(clsReg& store, bool bolOwnKey) {
  store.MainBranch("SOFTWARE");
  if (bolOwnKey) {
    store.RootKey(HKEY_CURRENT_USER_VALUE);
    store.RegBase(kVendorKey);
    store.Program("Velmora");
    store.Section("Settings");
  } else {
    store.RootKey(HKEY_LOCAL_MACHINE_VALUE);
    store.RegBase("Microsoft");
    store.Program("Windows\\CurrentVersion\\App Paths");
    store.Section("ICQ.exe");
  }
}

void SetRegKey(bool bolOwnKey) {
  Trap trap("frmMain.SetRegKey(bolOwnKey)");
  try {
    trap.at(10);
    SelectKey(RegStore(), bolOwnKey);
  } catch (...) {
    ErrorIn(trap, bolOwnKey, ERRIN_PASS_ON);
  }
}

std::string GetICQPath() {
  Trap trap("frmMain.GetICQPath");
  try {
    trap.at(10);
    std::string registered;
    {
      const OwnKeyOnExit ownKeyAfterwards;
      SetRegKey(false);
      trap.at(20);
      registered = RegStore().ReadEntry("Path", "");
    }
    trap.at(30);
    if (registered.empty()) return SelfSearch();
    trap.at(40);
    registered += "\\";
    if (RightICQPath(registered)) return registered;
    trap.at(50);
    return SelfSearch();
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

bool RightICQPath(const std::string& strPath) {
  Trap trap("frmMain.RightICQPath(strPath)");
  try {
    trap.at(10);
    const std::string exe = strPath + "ICQ.exe";
    trap.at(20);
    uint32_t attributes = FileSystemPort::kNoFile;
    try {
      attributes = Files().Attributes(exe);
    } catch (...) {
      // A registered path in quotes, on a drive or share that is gone, or in
      // a folder this user may not look into: there is no ICQ.exe there to
      // work with, and the user is asked for one instead.
      return false;
    }
    return attributes != FileSystemPort::kNoFile && (attributes & FileSystemPort::kDirectory) == 0;
  } catch (...) {
    ErrorIn(trap, strPath, ERRIN_PASS_ON);
  }
}

std::string SelfSearch() {
  Trap trap("frmMain.SelfSearch");
  try {
    trap.at(10);
    const std::string question = CurrentLanguage == 1
        ? "Die ICQ.exe konnte nicht gefunden werden, wollen Sie selbst nach ihr suchen?"
        : "ICQ.exe could not be found would you like to search it?";
    const std::string warning =
        CurrentLanguage == 1 ? "Sie haben einen falschen Pfad gewählt" : "You have chosen a wrong path";
    trap.at(20);
    if (MessageBoxes().Show(question, APP_TITLE, MessageBoxPort::kYesNoQuestion) != MessageBoxPort::kAnswerYes)
      return {};
    trap.at(30);
    std::string chosen;
    // The dialog's own failures end the search quietly, and so does Cancel:
    // whoever cancels has already given the answer.
    try {
      if (!FileDialog().ShowOpen("EXE Datei|*.exe", &chosen)) return {};
    } catch (...) {
      return {};
    }
    trap.at(40);
    const std::size_t slash = chosen.find_last_of("\\/");
    // File names on Windows do not keep case apart: a folder may show ICQ's
    // program as icq.exe.
    if (SameLetters(slash == std::string::npos ? chosen : chosen.substr(slash + 1), "ICQ.exe"))
      return slash == std::string::npos ? std::string() : chosen.substr(0, slash + 1);
    trap.at(50);
    MessageBoxes().Show(warning, APP_TITLE, MessageBoxPort::kOkExclamation);
    return {};
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

}  // namespace velmora::frmMainDiscovery
