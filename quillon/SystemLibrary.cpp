#include "SystemLibrary.h"

namespace quillon {

std::wstring SystemPath(const wchar_t* file) {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::wstring(folder, n) + L"\\" + file;
}

FARPROC SystemFunction(const wchar_t* dll, const char* name) {
  const std::wstring path = SystemPath(dll);
  if (path.empty()) return nullptr;
  // The DLL's own dependencies are then looked for in the system folder too,
  // not beside the program. The DLL stays loaded for the process, as the
  // functions looked up are kept.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace quillon
