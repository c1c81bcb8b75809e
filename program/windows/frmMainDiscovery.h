// The part of frmMain that finds ICQ and selects the settings key. It talks to
// the system only through the ports (registry, files, message box, file
// dialog), so it builds with the portable code and is tested without a
// window. frmMain's operations of the same names call these; their traps
// carry frmMain's names.
#pragma once

#include <string>

namespace velmora {

class clsReg;

namespace frmMainDiscovery {

// Points the store at the program's own settings (true) or at ICQ's
// registration (false).
void SelectKey(clsReg& store, bool bolOwnKey);
// The same for the shared RegStore.
void SetRegKey(bool bolOwnKey);
// ICQ's folder with a trailing backslash, or empty: from ICQ's registration,
// else from the user. RegStore is on the program's own key when it returns,
// whatever happened.
std::string GetICQPath();
// True when strPath + "ICQ.exe" is a file. Never fails for the test itself:
// a path that cannot be looked at has no ICQ.exe to work with.
bool RightICQPath(const std::string& strPath);
// Asks the user to point at ICQ.exe; the chosen folder or empty.
std::string SelfSearch();

}  // namespace frmMainDiscovery
}  // namespace velmora
