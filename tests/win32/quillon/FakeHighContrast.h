#pragma once
// Wine cannot switch the system's high-contrast setting on. To see Quillon
// buttons under it, tests and the gallery answer the library's own question
// for the setting: its import of SystemParametersInfoW is pointed at a
// function that reports the setting as the test wants it and passes every
// other question on. Buttons read the setting when they are made and when a
// settings change reaches them, as they would under Windows.

#include <windows.h>

namespace host {

class FakeHighContrast {
 public:
  // Quillon2.dll must be loaded (a button made) first.
  FakeHighContrast();
  ~FakeHighContrast();
  FakeHighContrast(const FakeHighContrast&) = delete;
  FakeHighContrast& operator=(const FakeHighContrast&) = delete;

  bool Installed() const { return slot_ != nullptr; }
  // What the library is told from now on.
  void Set(bool on);
  // Tells this thread's buttons that the setting changed, through the
  // library's listener window as the system's broadcast would.
  static void Broadcast();

 private:
  void** slot_ = nullptr;  // the import's address in the library
  void* original_ = nullptr;
};

}  // namespace host
