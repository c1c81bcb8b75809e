// The real adapters of the ports, over the Windows API.
#pragma once

namespace velmora {

// Installs the Win32 adapters of every port that has one here. The report
// window is installed by the window that implements it.
void InstallWin32Ports();

}  // namespace velmora
