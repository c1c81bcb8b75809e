// The HTTP and shell adapters of the update check.
#pragma once

#include <memory>

namespace velmora {

class HttpPort;
class ShellPort;

// How long a download may take. A connect, a send and each receive are each
// bounded by `stepMs` (WinINet's own timeouts); the whole download by
// `deadlineMs`, after which its handles are closed and the worker is given
// `graceMs` to notice before the caller goes on without it. The defaults end
// any download within 15 s.
struct HttpLimits {
  unsigned stepMs = 10000;
  unsigned deadlineMs = 13000;
  unsigned graceMs = 1000;
};

// A WinINet adapter with its own limits.
std::unique_ptr<HttpPort> MakeWin32Http(const HttpLimits& limits = HttpLimits{});

// The shell adapter (Win32Shell.cpp); one object for the process.
ShellPort& Win32Shell();

// Installs the WinINet adapter (with the default limits) and the shell adapter
// as the HTTP and shell ports.
void InstallWin32HttpAndShell();

}  // namespace velmora
