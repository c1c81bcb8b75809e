// Machine registration of Quillon2.dll, without any manifest: only the
// registry can lead CoCreateInstance to the class. Also the file's version
// and its exports.

#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <set>
#include <string>

#include "TestSupport.h"

namespace host {
namespace {

using Entry = HRESULT(WINAPI*)();

struct Library {
  HMODULE module = LoadLibraryW(L"Quillon2.dll");
  ~Library() {
    if (module) FreeLibrary(module);
  }
  Entry Get(const char* name) const {
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  std::wstring Path() const {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
  }
};

std::set<std::wstring> Subkeys(const wchar_t* path) {
  std::set<std::wstring> names;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = 256;
    if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.insert(name);
  }
  RegCloseKey(key);
  return names;
}

std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return L"<none>";
  return value;
}

const wchar_t kClsidKey[] = L"CLSID\\{544C8BCE-1509-4CB4-B2E4-A2B1FCE1BB90}";

struct Snapshot {
  std::set<std::wstring> classes = Subkeys(L"Software\\Classes");
  std::set<std::wstring> clsids = Subkeys(L"Software\\Classes\\CLSID");
  std::set<std::wstring> typelibs = Subkeys(L"Software\\Classes\\TypeLib");
  std::set<std::wstring> interfaces = Subkeys(L"Software\\Classes\\Interface");
  bool operator==(const Snapshot& o) const {
    return classes == o.classes && clsids == o.clsids && typelibs == o.typelibs && interfaces == o.interfaces;
  }
};

TEST(Registration, RegisterLetsHostsCreateByProgIdAndUnregisterRemovesExactlyThat) {
  Library lib;
  ASSERT_TRUE(lib.module);
  CLSID clsid;
  ASSERT_NE(CLSIDFromProgID(L"Quillon2.Quillon", &clsid), S_OK) << "left registered by an earlier run";
  const Snapshot before;

  ASSERT_EQ(lib.Get("DllRegisterServer")(), S_OK);
  EXPECT_EQ(Value(std::wstring(kClsidKey) + L"\\InprocServer32"), lib.Path());
  EXPECT_EQ(Value(std::wstring(kClsidKey) + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(Value(std::wstring(kClsidKey) + L"\\ProgID"), L"Quillon2.Quillon");
  EXPECT_EQ(Value(std::wstring(kClsidKey) + L"\\TypeLib"), L"{2CD82B00-C7D2-4D5D-B61D-CD30D8C66F0A}");
  EXPECT_EQ(Value(L"Quillon2.Quillon\\CLSID"), L"{544C8BCE-1509-4CB4-B2E4-A2B1FCE1BB90}");
  ComPtr<ITypeLib> registered;
  EXPECT_EQ(LoadRegTypeLib(LIBID_Quillon2, 2, 0, LOCALE_NEUTRAL, registered.Put()), S_OK);
  registered.Reset();

  ASSERT_EQ(CLSIDFromProgID(L"Quillon2.Quillon", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Quillon));
  {
    HostWindow window;
    Journal journal;
    Button button;
    ASSERT_EQ(Button::Place(window.hwnd, At(120, 120, 2535, 615), nullptr, &journal, button), S_OK);
    EXPECT_EQ(Caption(button), L"Quillon");
    button.Remove();
  }
  CoFreeUnusedLibraries();

  // Twice is as good as once.
  ASSERT_EQ(lib.Get("DllRegisterServer")(), S_OK);
  ASSERT_EQ(lib.Get("DllUnregisterServer")(), S_OK);
  EXPECT_TRUE(Snapshot() == before);
  EXPECT_EQ(Value(kClsidKey), L"<none>");
  EXPECT_NE(CLSIDFromProgID(L"Quillon2.Quillon", &clsid), S_OK);
  EXPECT_NE(LoadRegTypeLib(LIBID_Quillon2, 2, 0, LOCALE_NEUTRAL, registered.Put()), S_OK);
  // Unregistering what is not there is no failure.
  EXPECT_EQ(lib.Get("DllUnregisterServer")(), S_OK);
}

TEST(Registration, UnregisterLeavesAProgIdThatNamesAnotherClass) {
  Library lib;
  ASSERT_EQ(lib.Get("DllRegisterServer")(), S_OK);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Quillon2.Quillon\\CLSID", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t other[] = L"{00000000-1111-2222-3333-444444444444}";
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other);
  RegCloseKey(key);
  ASSERT_EQ(lib.Get("DllUnregisterServer")(), S_OK);
  EXPECT_EQ(Value(L"Quillon2.Quillon\\CLSID"), other);
  EXPECT_EQ(Value(kClsidKey), L"<none>");
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Quillon2.Quillon");
}

TEST(Library, ExportsTheFourEntryPointsUndecorated) {
  Library lib;
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
    EXPECT_NE(GetProcAddress(lib.module, name), nullptr) << name;
  EXPECT_EQ(lib.Get("DllCanUnloadNow")(), S_OK);
  void* factory = nullptr;
  auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(lib.module, "DllGetClassObject")));
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
}

TEST(Library, CarriesFileVersion2_0_0_10) {
  Library lib;
  const std::wstring path = lib.Path();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length));
  EXPECT_EQ(info->dwFileVersionMS, MAKELONG(0, 2));
  EXPECT_EQ(info->dwFileVersionLS, MAKELONG(10, 0));
  wchar_t* text = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                             &length));
  EXPECT_STREQ(text, L"2.0.0.10");
}

}  // namespace
}  // namespace host
