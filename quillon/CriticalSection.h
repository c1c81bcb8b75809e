#pragma once
// A lock for data the library's threads share. A critical section, not a
// slim reader/writer lock: Windows XP has none. As a static object it is
// made while the library loads, before any thread can use it.

#include <windows.h>

namespace quillon {

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

}  // namespace quillon
