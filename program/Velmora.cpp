// The program's entry: the ports, COM, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <memory>
#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Elevation.h"
#include "platform/win32/Win32Http.h"
#include "platform/win32/Win32Ports.h"
#include "services/basElevation.h"
#include "services/basMain.h"
#include "windows/frmMain.h"
#include "windows/frmShowError.h"
#include "windows/StartupTrace.h"

namespace {

velmora::MainWindowTexts& LoadedMainWindow() {
  velmora::frmMain& main = velmora::MainForm();
  main.Load();
  return main;
}

// The program started as administrator by itself: one command on ICQ's
// files, no window, no settings.
int RunElevated(const std::vector<std::string>& arguments) {
  velmora::ElevatedCommand command;
  if (!velmora::ParseElevatedCommand(arguments, &command)) return 2;
  velmora::InstallWin32Ports();
  // A COM class the user registered for himself would run here with the
  // administrator's rights: the report goes without the facts that make one.
  velmora::ReportWithoutComFacts();
  const std::unique_ptr<velmora::ReportWindowPort> channel = velmora::MakeReportChannel(command.reportChannel);
  return velmora::RunElevatedCommand(command, *channel);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  VELMORA_MARK("wWinMain");
  // The program's DLLs come from the system or from its own folder, never
  // from the current folder; where the system can, from the system folder
  // only. Before anything loads one.
  velmora::LoadDllsFromSystemFolder();
  SetDllDirectoryW(L"");
  {
    const wchar_t* line = GetCommandLineW();
    std::vector<std::string> arguments =
        velmora::SplitCommandLine(velmora::WideToUtf8(line, static_cast<int>(wcslen(line))));
    if (arguments.size() >= 2 && arguments[1] == "/elevated")
      return RunElevated(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  }
  if (FAILED(OleInitialize(nullptr))) return 1;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  VELMORA_MARK("OLE and common controls");

  velmora::InstallWin32Ports();
  velmora::InstallWin32Dialogs();
  velmora::InstallWin32HttpAndShell();
  velmora::InstallWin32Elevation();
  velmora::ThePorts().reportWindow = &velmora::ErrorForm();
  velmora::TheMainWindow = &LoadedMainWindow;
  VELMORA_MARK("ports");

  int exitCode = 0;
  {
    velmora::frmMain& main = velmora::MainForm();
    // Loading the main window creates its buttons; without Quillon2.dll
    // beside the program that fails (429), and the report says so.
    bool started = false;
    velmora::RunEvent("Velmora.wWinMain", [&](velmora::Trap& trap) {
      trap.at(10);
      main.Load();
      trap.at(20);
      main.Show();
      started = true;
    });
    // A report of the start-up stays in front of the window it is about.
    if (velmora::ErrorForm().IsLoaded()) SetForegroundWindow(velmora::ErrorForm().Hwnd());
    if (started) {
      exitCode = velmora::RunMessageLoop();
    } else {
      // A main window without its buttons is of no use: the program ends
      // when its report is closed, and stores no settings.
      exitCode = 1;
    }
    // A report of a failed start, or of a failed shutdown (the main window
    // is gone and the main loop has ended), stays until the user closes it.
    velmora::RunWhileReportIsOpen();
    velmora::ErrorForm().Unload();
  }
  OleUninitialize();
  return exitCode;
}
