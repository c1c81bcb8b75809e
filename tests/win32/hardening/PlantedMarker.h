// What a planted DLL does when it is loaded: it owns up to it, leaving a
// marker file beside itself that names the program that loaded it.
#pragma once

#include <windows.h>

inline void LeaveMarker(HINSTANCE self, const wchar_t* marker) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash || (slash - path) + 2 + lstrlenW(marker) >= MAX_PATH) return;
  lstrcpyW(slash + 1, marker);
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char program[MAX_PATH + 2];
  const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  program[length] = '\n';
  DWORD written = 0;
  WriteFile(file, program, length + 1, &written, nullptr);
  CloseHandle(file);
}
