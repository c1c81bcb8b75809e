// The real adapters of the ports, over the Windows API.
#pragma once

#include <string>

#include <windows.h>

namespace velmora {

class FileSystemPort;

// Text conversion at the edge: the program's UTF-8 to the W functions' UTF-16
// and back. Bytes that are not UTF-8 raise (the system's code
// ERROR_NO_UNICODE_TRANSLATION); none is ever dropped.
std::string WideToUtf8(const wchar_t* text, int length);
std::wstring Utf8ToWide(const std::string& text);

// A function of a system DLL that is not among those Windows always takes
// from the system folder, or that the program needs only for some commands
// (the file dialog, the shell, the update check). Imported statically, such
// a DLL would be looked for beside the program first, where anyone may have
// dropped a file of that name; so it is loaded by its full path in the
// system folder, and only on first use, which also makes the start faster.
// Raises when the DLL or the function is not there.
FARPROC SystemFunction(const wchar_t* dll, const char* name);
// The same for a function that not every supported Windows has: null where
// it is not there, for the caller to fall back.
FARPROC SystemFunctionIfAny(const wchar_t* dll, const char* name);

// VELMORA_SYSTEM_FUNCTION(L"shell32.dll", ShellExecuteW)(...) calls it with
// the exact type the system header gives; each place looks it up once.
#define VELMORA_SYSTEM_FUNCTION(dll, fn)                                                                 \
  ([] {                                                                                                  \
    static const auto bound = reinterpret_cast<decltype(&::fn)>(                                        \
        reinterpret_cast<void (*)()>(::velmora::SystemFunction(dll, #fn)));                              \
    return bound;                                                                                        \
  }())
// The function or null, likewise looked up once.
#define VELMORA_SYSTEM_FUNCTION_IF_ANY(dll, fn)                                                          \
  ([] {                                                                                                  \
    static const auto bound = reinterpret_cast<decltype(&::fn)>(                                        \
        reinterpret_cast<void (*)()>(::velmora::SystemFunctionIfAny(dll, #fn)));                         \
    return bound;                                                                                        \
  }())

// Where the system can, DLLs loaded by name come from the system folder only,
// never from the program's folder or the current one. Called first thing.
void LoadDllsFromSystemFolder();

// The Yes/No question whose Yes goes on as administrator, as a task dialog
// with the shield on Yes, modal to `owner` (Win32TaskDialog.cpp). IDYES or
// IDNO; 0 where Windows has no task dialog (XP), for the caller to ask with a
// message box.
int AskToElevate(HWND owner, const std::wstring& text, const std::wstring& title);

// The file-system adapter (Win32Files.cpp); one object for the process.
FileSystemPort& Win32FileSystem();

// From now on the system facts give no answer that needs a COM object made
// (the ADO version): the elevated program's reports, which a class the user
// registered would otherwise run in with the administrator's rights.
void ReportWithoutComFacts();

// Installs the Win32 adapters of every port that has one here. The report
// window is installed by the window that implements it.
void InstallWin32Ports();
// The file-open dialog and the clipboard (Win32Dialogs.cpp).
void InstallWin32Dialogs();

}  // namespace velmora
