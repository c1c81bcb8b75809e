#pragma once
// Functions of system DLLs that are not among those Windows always takes from
// the system folder. Imported statically, such a DLL would be looked for
// beside the host program first, where anyone may have dropped a file of
// that name; so it is loaded by its full path in the system folder, when
// first needed.
//
// The library changes no search path of the process (SetDllDirectory and the
// like belong to the host): a full path needs none.

#include <windows.h>

#include <string>

namespace quillon {

// The full path of a file in the system folder; empty if there is none.
std::wstring SystemPath(const wchar_t* file);

// The function, or null where the DLL or the function is not there.
FARPROC SystemFunction(const wchar_t* dll, const char* name);

}  // namespace quillon

// QUILLON_SYSTEM_FUNCTION(L"oleacc.dll", LresultFromObject) is the function
// with the exact type the system header gives, or null; each place looks it
// up once.
#define QUILLON_SYSTEM_FUNCTION(dll, fn)                                                           \
  ([] {                                                                                            \
    static const auto bound = reinterpret_cast<decltype(&::fn)>(                                  \
        reinterpret_cast<void (*)()>(::quillon::SystemFunction(dll, #fn)));                        \
    return bound;                                                                                  \
  }())
