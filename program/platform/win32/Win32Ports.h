// The real adapters of the ports, over the Windows API.
#pragma once

#include <string>

namespace velmora {

class FileSystemPort;

// Text conversion at the edge: the program's UTF-8 to the W functions' UTF-16
// and back.
std::string WideToUtf8(const wchar_t* text, int length);
std::wstring Utf8ToWide(const std::string& text);

// The file-system adapter (Win32Files.cpp); one object for the process.
FileSystemPort& Win32FileSystem();

// Installs the Win32 adapters of every port that has one here. The report
// window is installed by the window that implements it.
void InstallWin32Ports();
// The file-open dialog and the clipboard (Win32Dialogs.cpp).
void InstallWin32Dialogs();

}  // namespace velmora
