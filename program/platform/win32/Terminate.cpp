// The C++ runtime's default terminate handler prints the type of the
// exception that escaped, demangled, to standard error before it aborts. A
// windowed program has no standard error to print to, and the demangler it
// pulls in is some 45 KB of code in each binary. This definition takes the
// place of the library's, so the linker never pulls the demangler in; what
// the user sees is the same abort either way.
//
// It has to be linked as an object of the binary, not from a static library,
// for the same reason as the tick count in TickCount64.cpp.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
