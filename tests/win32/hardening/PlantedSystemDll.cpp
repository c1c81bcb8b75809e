// A stranger's DLL under the name of a system DLL (version.dll, oleacc.dll,
// uxtheme.dll, wininet.dll, comdlg32.dll), dropped beside a portable copy of
// the program. Being loaded is all it does: its DllMain leaves
// "<its name>-loaded.txt" beside it, naming the program that loaded it.
//
// It exports, as failing stubs, what a program once imported statically from
// version.dll and oleacc.dll, so that a loader that takes it does not refuse
// the program: it starts, and the marker tells what happened.
#include <windows.h>
#include <objbase.h>

#include "PlantedMarker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  const wchar_t* slash = wcsrchr(path, L'\\');
  wchar_t marker[MAX_PATH];
  lstrcpynW(marker, slash ? slash + 1 : path, MAX_PATH - 16);
  lstrcatW(marker, L"-loaded.txt");
  LeaveMarker(self, marker);
  return TRUE;
}

extern "C" DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) {
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}
extern "C" BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return FALSE;
}
extern "C" BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) { return FALSE; }
extern "C" HRESULT WINAPI CreateStdAccessibleObject(HWND, LONG, REFIID, void** out) {
  if (out) *out = nullptr;
  return E_FAIL;
}
extern "C" LRESULT WINAPI LresultFromObject(REFIID, WPARAM, IUnknown*) { return 0; }
