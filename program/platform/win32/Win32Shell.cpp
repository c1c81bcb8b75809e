// The shell port over shell32. What the started program does, or whether one
// is registered at all, is the shell's matter: results are not looked at.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/Ports.h"
#include "platform/win32/Win32Http.h"
#include "platform/win32/Win32Ports.h"

namespace velmora {
namespace {

class Win32ShellAdapter : public ShellPort {
 public:
  void ExecuteA(uintptr_t owner, const std::string& file) override {
    CodePage& ansi = Ansi();
    const std::string ansiFile = ansi.ToAnsi(file);
    const std::string folder = ansi.ToAnsi(Facts().ProgramFolder());
    VELMORA_SYSTEM_FUNCTION(L"shell32.dll", ShellExecuteA)
    (reinterpret_cast<HWND>(owner), "Open", ansiFile.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
  }

  void OpenAddress(uintptr_t owner, const std::string& address) override {
    VELMORA_SYSTEM_FUNCTION(L"shell32.dll", ShellExecuteW)
    (reinterpret_cast<HWND>(owner), L"open", Utf8ToWide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
};

}  // namespace

ShellPort& Win32Shell() {
  static Win32ShellAdapter shell;
  return shell;
}

}  // namespace velmora
