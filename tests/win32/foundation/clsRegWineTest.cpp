// The settings store against the real registry, under a test-only vendor key
// that is removed afterwards.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "services/clsReg.h"

namespace velmora {
namespace {

class clsRegWineTest : public ::testing::Test {
 protected:
  clsRegWineTest() : vendor_("VelmoraTests-" + std::to_string(GetCurrentProcessId())) {
    reg.RootKey(HKEY_CURRENT_USER_VALUE);
    reg.RegBase(vendor_);
    reg.Program("Velmora");
    reg.Section("Settings");
  }
  ~clsRegWineTest() override {
    SHDeleteKeyA(HKEY_CURRENT_USER, ("SOFTWARE\\" + vendor_).c_str());
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\" + vendor_).c_str());
  }

  std::string KeyOf(const std::string& rest) const { return "SOFTWARE\\" + vendor_ + rest; }

  // Writes a raw value the way another program might.
  void SetRaw(HKEY root, const std::string& key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY h;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), 0);
    ASSERT_EQ(RegSetValueExA(h, name, 0, type, static_cast<const BYTE*>(data), size), 0);
    RegCloseKey(h);
  }

  // A value as stored, or L"<missing>", without the one terminating zero that
  // Wine's RegSetValueExA adds by itself to string data that lacks it.
  std::wstring GetRaw(HKEY root, const std::string& key, const wchar_t* name, DWORD* type = nullptr) {
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != 0) return L"<missing>";
    wchar_t buf[256];
    DWORD size = sizeof buf, t = 0;
    const LONG rc = RegQueryValueExW(h, name, nullptr, &t, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (rc != 0) return L"<missing>";
    if (type) *type = t;
    std::wstring value(buf, size / sizeof(wchar_t));
    if (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
  }

  clsReg reg;
  const std::string vendor_;
};

TEST_F(clsRegWineTest, WritesAnsiStringsUnderTheComposedKey) {
  reg.WriteEntry("Language", "2");
  DWORD type = 0;
  EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, KeyOf("\\Velmora\\Settings"), L"Language", &type), L"2");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(reg.ReadEntry("Language", "x"), "2");

  // Text goes to the registry in the ANSI code page.
  reg.WriteEntry("ICQLitePath", "C:\\Programme\\Größe\\");
  EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, KeyOf("\\Velmora\\Settings"), L"ICQLitePath"),
            L"C:\\Programme\\Gr\u00f6\u00dfe\\");
  EXPECT_EQ(reg.ReadEntry("ICQLitePath", ""), "C:\\Programme\\Größe\\");

  // Program may hold backslashes; an empty section means the program's key.
  reg.Program("Velmora\\Nested");
  reg.Section("");
  reg.WriteEntry("FormLeft", "1200");
  EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, KeyOf("\\Velmora\\Nested"), L"FormLeft"), L"1200");
  EXPECT_EQ(reg.ReadEntry("FormLeft", ""), "1200");
}

TEST_F(clsRegWineTest, ReadsStringsWithAndWithoutZeroAndNumbersAsText) {
  const std::string key = KeyOf("\\Velmora\\Settings");
  SetRaw(HKEY_CURRENT_USER, key, "WithZero", REG_SZ, "abc", 4);
  SetRaw(HKEY_CURRENT_USER, key, "WithoutZero", REG_SZ, "abc", 3);
  const DWORD fortyTwo = 42, minusOne = 0xFFFFFFFF;
  SetRaw(HKEY_CURRENT_USER, key, "Number", REG_DWORD, &fortyTwo, 4);
  SetRaw(HKEY_CURRENT_USER, key, "Negative", REG_DWORD, &minusOne, 4);
  EXPECT_EQ(reg.ReadEntry("WithZero", "d"), "abc");
  EXPECT_EQ(reg.ReadEntry("WithoutZero", "d"), "abc");
  EXPECT_EQ(reg.ReadEntry("Number", "d"), "42");
  EXPECT_EQ(reg.ReadEntry("Negative", "d"), "-1");
}

TEST_F(clsRegWineTest, EverythingElseGivesTheDefault) {
  const std::string key = KeyOf("\\Velmora\\Settings");
  SetRaw(HKEY_CURRENT_USER, key, "Empty", REG_SZ, "", 0);
  SetRaw(HKEY_CURRENT_USER, key, "EmptyWithZero", REG_SZ, "", 1);
  SetRaw(HKEY_CURRENT_USER, key, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);
  SetRaw(HKEY_CURRENT_USER, key, "Multi", REG_MULTI_SZ, "a\0b\0", 5);
  SetRaw(HKEY_CURRENT_USER, key, "Binary", REG_BINARY, "\x01\x02", 2);
  const unsigned long long big = 42;
  SetRaw(HKEY_CURRENT_USER, key, "Qword", REG_QWORD, &big, 8);
  for (const char* name : {"Empty", "EmptyWithZero", "Expand", "Multi", "Binary", "Qword", "NoSuchValue"})
    EXPECT_EQ(reg.ReadEntry(name, "default"), "default") << name;

  reg.Program("NoSuchProgram");
  EXPECT_EQ(reg.ReadEntry("Language", "default"), "default");
}

TEST_F(clsRegWineTest, ReadsMachineKeysLikeIcqsApplicationPath) {
  const std::string path = "C:\\Program Files\\ICQ6\\";
  SetRaw(HKEY_LOCAL_MACHINE, KeyOf("\\Windows\\App Paths\\ICQ.exe"), "Path", REG_SZ, path.c_str(),
         static_cast<DWORD>(path.size() + 1));
  reg.RootKey(HKEY_LOCAL_MACHINE_VALUE);
  reg.Program("Windows\\App Paths");
  reg.Section("ICQ.exe");
  EXPECT_EQ(reg.ReadEntry("Path", ""), path);
}

TEST_F(clsRegWineTest, AWriteThatCannotBeDoneChangesNothingAndDoesNotFail) {
  // Not a root key at all: nothing can be created under it.
  reg.RootKey(0x12345678u);
  reg.WriteEntry("Language", "1");
  EXPECT_EQ(reg.ReadEntry("Language", "none"), "none");

  // A key name longer than the registry allows.
  reg.RootKey(HKEY_CURRENT_USER_VALUE);
  reg.Section(std::string(300, 'S'));
  reg.WriteEntry("Language", "1");
  EXPECT_EQ(reg.ReadEntry("Language", "none"), "none");
  HKEY h;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, KeyOf("\\Velmora\\" + std::string(300, 'S')).c_str(), 0,
                          KEY_READ, &h),
            0);
}

}  // namespace
}  // namespace velmora
