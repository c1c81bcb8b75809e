// The in-process server: class object, unload test and machine registration.

#include <windows.h>
#include <olectl.h>

#include <new>
#include <string>

#include "ComPtr.h"
#include "Module.h"
#include "Quillon.h"
#include "Quillon_h.h"
#include "SingleInterfaceObject.h"

namespace quillon {

namespace {

HINSTANCE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

constexpr wchar_t kProgId[] = L"Quillon2.Quillon";
constexpr wchar_t kClasses[] = L"Software\\Classes";

class ClassFactory final : public SingleInterfaceObject<IClassFactory> {
 public:
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return Quillon::Create(iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) InterlockedIncrement(&g_locks);
    else InterlockedDecrement(&g_locks);
    return S_OK;
  }

 private:
  ObjectCount counted_;
};

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  LSTATUS Create(HKEY parent, const std::wstring& path) {
    return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h_, nullptr);
  }
  LSTATUS Open(HKEY parent, const std::wstring& path) { return RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &h_); }
  HKEY* Put() { return &h_; }
  LSTATUS Set(const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(h_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  std::wstring Get(const wchar_t* name) {
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(h_, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return {};
    return value;
  }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

// One key with its default value (and optionally one named value).
LSTATUS WriteKey(const std::wstring& path, const std::wstring& value, const wchar_t* name = nullptr,
                 const std::wstring& named = {}) {
  Key key;
  LSTATUS status = key.Create(HKEY_LOCAL_MACHINE, path);
  if (status == ERROR_SUCCESS && !value.empty()) status = key.Set(nullptr, value);
  if (status == ERROR_SUCCESS && name) status = key.Set(name, named);
  return status;
}

std::wstring ClsidKey() { return std::wstring(kClasses) + L"\\CLSID\\" + GuidText(CLSID_Quillon); }
std::wstring ProgIdKey() { return std::wstring(kClasses) + L"\\" + kProgId; }

// Deletes a key with everything below it. RegDeleteKeyW deletes only a key
// without subkeys, and Windows XP has no RegDeleteTreeW. Our keys are a few
// levels deep; the depth is bounded all the same.
LSTATUS DeleteKeyTree(HKEY parent, const std::wstring& path, int depth = 0) {
  if (depth > 32) return ERROR_INVALID_PARAMETER;
  {
    Key key;
    LSTATUS status = RegOpenKeyExW(parent, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.Put());
    if (status != ERROR_SUCCESS) return status;
    // Always the first subkey: the one before it is gone. A subkey that
    // cannot be deleted ends the walk rather than looping on it.
    for (;;) {
      wchar_t name[256];
      DWORD length = 256;
      status = RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) return status;
      status = DeleteKeyTree(key.get(), name, depth + 1);
      if (status != ERROR_SUCCESS) return status;
    }
  }
  return RegDeleteKeyW(parent, path.c_str());
}

void RemoveRegistration() {
  DeleteKeyTree(HKEY_LOCAL_MACHINE, ClsidKey());
  // The ProgID goes only while it still names this class.
  bool ours = false;
  {
    Key clsid;
    if (clsid.Open(HKEY_LOCAL_MACHINE, ProgIdKey() + L"\\CLSID") == ERROR_SUCCESS)
      ours = _wcsicmp(clsid.Get(nullptr).c_str(), GuidText(CLSID_Quillon).c_str()) == 0;
  }
  if (ours) DeleteKeyTree(HKEY_LOCAL_MACHINE, ProgIdKey());
  // The type library is registered for the platform this library is built for.
  UnRegisterTypeLib(LIBID_Quillon2, 2, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
}

}  // namespace

HINSTANCE ModuleHandle() { return g_module; }
void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }

}  // namespace quillon

using namespace quillon;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && !reserved) {
    // Unloaded by FreeLibrary: the window procedure is about to vanish.
    UnregisterButtonClass();
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_Quillon) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  const std::wstring path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const std::wstring clsid = GuidText(CLSID_Quillon);
  const std::wstring clsidKey = ClsidKey();
  const LSTATUS status[] = {
      WriteKey(clsidKey, L"Quillon"),
      WriteKey(clsidKey + L"\\InprocServer32", path, L"ThreadingModel", L"Apartment"),
      WriteKey(clsidKey + L"\\ProgID", kProgId),
      WriteKey(clsidKey + L"\\TypeLib", GuidText(LIBID_Quillon2)),
      WriteKey(clsidKey + L"\\Version", L"2.0"),
      WriteKey(clsidKey + L"\\Control", L""),
      WriteKey(ProgIdKey(), L"Quillon"),
      WriteKey(ProgIdKey() + L"\\CLSID", clsid),
  };
  for (LSTATUS s : status) {
    if (s != ERROR_SUCCESS) {
      // Half a registration is worse than none.
      RemoveRegistration();
      return SELFREG_E_CLASS;
    }
  }
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Put());
  if (SUCCEEDED(hr)) hr = RegisterTypeLib(lib.Get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
  if (FAILED(hr)) {
    RemoveRegistration();
    return SELFREG_E_TYPELIB;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  RemoveRegistration();
  return S_OK;
}
