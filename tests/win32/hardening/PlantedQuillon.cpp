// A stranger's Quillon2.dll, planted where a careless program would look for
// it: the current folder, a folder on PATH. Being loaded is all it does, and
// it owns up to it: its DllMain leaves "planted-loaded.txt" beside the DLL,
// naming the program that loaded it. The COM entry points are there so that
// it passes for the real library as far as a loader can tell.
#include <windows.h>

#include "PlantedMarker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self, L"planted-loaded.txt");
  return TRUE;
}
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** out) {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
extern "C" HRESULT WINAPI DllRegisterServer() { return S_OK; }
extern "C" HRESULT WINAPI DllUnregisterServer() { return S_OK; }
