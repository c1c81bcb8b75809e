// A stranger's Quillon2.dll, planted where a careless program would look for
// it: the current folder, a folder on PATH. Being loaded is all it does, and
// it owns up to it: its DllMain leaves "planted-loaded.txt" beside the DLL,
// naming the program that loaded it. The COM entry points are there so that
// it passes for the real library as far as a loader can tell.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash || (slash - path) + 20 >= MAX_PATH) return TRUE;
  lstrcpyW(slash + 1, L"planted-loaded.txt");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  char program[MAX_PATH + 2];
  const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  program[length] = '\n';
  DWORD written = 0;
  WriteFile(file, program, length + 1, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** out) {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
extern "C" HRESULT WINAPI DllRegisterServer() { return S_OK; }
extern "C" HRESULT WINAPI DllUnregisterServer() { return S_OK; }
