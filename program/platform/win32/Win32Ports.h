// The real adapters of the ports, over the Windows API.
#pragma once

#include <string>

#include <windows.h>

namespace velmora {

class FileSystemPort;

// Text conversion at the edge: the program's UTF-8 to the W functions' UTF-16
// and back.
std::string WideToUtf8(const wchar_t* text, int length);
std::wstring Utf8ToWide(const std::string& text);

// A function of a system DLL that the program needs only for some commands
// (the file dialog, the shell, the update check): the DLL is loaded from the
// system folder on first use rather than with the program, which starts
// faster for it. Raises when the DLL or the function is not there.
FARPROC SystemFunction(const wchar_t* dll, const char* name);

// VELMORA_SYSTEM_FUNCTION(L"shell32.dll", ShellExecuteW)(...) calls it with
// the exact type the system header gives; each place looks it up once.
#define VELMORA_SYSTEM_FUNCTION(dll, fn)                                                                 \
  ([] {                                                                                                  \
    static const auto bound = reinterpret_cast<decltype(&::fn)>(                                        \
        reinterpret_cast<void (*)()>(::velmora::SystemFunction(dll, #fn)));                              \
    return bound;                                                                                        \
  }())

// The file-system adapter (Win32Files.cpp); one object for the process.
FileSystemPort& Win32FileSystem();

// Installs the Win32 adapters of every port that has one here. The report
// window is installed by the window that implements it.
void InstallWin32Ports();
// The file-open dialog and the clipboard (Win32Dialogs.cpp).
void InstallWin32Dialogs();

}  // namespace velmora
