// The question whose Yes goes on as administrator, asked as Windows asks it
// since Vista: a task dialog whose Yes button carries the shield.
//
// The program is built for XP, whose headers hide the task dialog; this one
// file sees Vista's declarations. Nothing here is imported from them: the
// function is looked up at run time, and the XP import check of the Release
// binaries would catch any import that slipped in.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#undef WINVER
#define WINVER 0x0600
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/win32/Win32Ports.h"

namespace velmora {
namespace {

using TaskDialogIndirectFunction = decltype(&::TaskDialogIndirect);

// Only common controls 6 has the task dialog, and only from Vista on. The
// manifest brings it from the side-by-side store, and the program imports
// comctl32, so it is loaded before any question is asked. GetModuleHandleW
// names it through the same activation context, so it finds that one and
// never loads a file of that name from anywhere.
TaskDialogIndirectFunction TaskDialogIfAny() {
  HMODULE comctl32 = GetModuleHandleW(L"comctl32.dll");
  if (!comctl32) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(comctl32, "TaskDialogIndirect")));
}

HRESULT CALLBACK ShieldOnYes(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR) {
  if (notification != TDN_CREATED) return S_OK;
  SendMessageW(dialog, TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE, IDYES, TRUE);
  // Windows' own task dialog draws its buttons inside a child of its own: it
  // has no button window with that id, and it has drawn the shield by now.
  // A task dialog made of plain button windows that ignore the shield
  // (Wine's comctl32 answers BCM_SETSHIELD with 0) gets it as the button's
  // picture instead, so that Yes still says what it does.
  HWND yes = GetDlgItem(dialog, IDYES);
  if (yes && !SendMessageW(yes, BCM_SETSHIELD, 0, TRUE)) {
    const int size = GetSystemMetrics(SM_CXSMICON);
    if (HANDLE shield = LoadImageW(nullptr, IDI_SHIELD, IMAGE_ICON, size, size, LR_SHARED))
      SendMessageW(yes, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(shield));
  }
  return S_OK;
}

}  // namespace

int AskToElevate(HWND owner, const std::wstring& text, const std::wstring& title) {
  static const TaskDialogIndirectFunction taskDialog = TaskDialogIfAny();
  if (!taskDialog) return 0;
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner;
  // Escape and the close box answer as No does; the question stays over the
  // window whose command asked it.
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_YES_BUTTON | TDCBF_NO_BUTTON;
  config.pszWindowTitle = title.c_str();
  config.pszContent = text.c_str();
  config.pfCallback = ShieldOnYes;
  int button = 0;
  if (FAILED(taskDialog(&config, &button, nullptr, nullptr))) return 0;
  return button == IDYES ? IDYES : IDNO;
}

}  // namespace velmora
