// GetTickCount64 for the statically linked thread library of the C++
// runtime (winpthreads), which times its waits with it. Windows XP has no
// GetTickCount64, and a program importing it is refused by XP's loader before
// any of its code runs.
//
// The library calls the function through its import slot, __imp_ plus the
// decorated name. This file defines that slot itself, so the linker takes it
// and never pulls kernel32's import in. The slot points at a function that
// calls the system's GetTickCount64 where there is one and otherwise widens
// GetTickCount. It has to be linked as an object of the binary, not from a
// static library: the runtime's reference appears only after the program's
// libraries have been searched.
//
// Nothing here may use a function-local static or anything else that locks:
// the lock would be the thread library's, which calls back here.
#include <windows.h>

#include <atomic>

#include "../Ticks.h"

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

// Looked up on the first call. Threads may race to look it up; they all find
// the same answer.
std::atomic<TickCount64Function> g_system{nullptr};
std::atomic<bool> g_lookedUp{false};
std::atomic<uint64_t> g_widened{0};

ULONGLONG WINAPI TickCount64() {
  if (!g_lookedUp.load(std::memory_order_acquire)) {
    // kernel32 is in every process from its start: no loading by name.
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll"))
      g_system.store(reinterpret_cast<TickCount64Function>(
                         reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetTickCount64"))),
                     std::memory_order_relaxed);
    g_lookedUp.store(true, std::memory_order_release);
  }
  if (TickCount64Function system = g_system.load(std::memory_order_relaxed)) return system();
  return velmora::WidenTicks(g_widened, GetTickCount());
}

}  // namespace

extern "C" {
#if defined(__i386__)
TickCount64Function velmora_GetTickCount64_slot __asm__("__imp__GetTickCount64@0") = &TickCount64;
#else
TickCount64Function velmora_GetTickCount64_slot __asm__("__imp_GetTickCount64") = &TickCount64;
#endif
}
