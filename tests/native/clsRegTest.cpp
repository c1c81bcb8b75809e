// The settings store's key paths, and reading where only read access is
// granted. The registry itself is exercised under Wine.
#include <gtest/gtest.h>

#include <map>

#include "FakePorts.h"
#include "services/basMain.h"
#include "services/clsReg.h"

namespace velmora {
namespace {

using testing::PortsScope;

TEST(clsRegKeyPath, ComposedFromFourLevelsWithoutNormalising) {
  clsReg reg;
  EXPECT_EQ(reg.RootKey(), 0x80000002u);
  EXPECT_EQ(reg.KeyPath(), "SOFTWARE\\\\\\Settings");
  reg.RegBase("velmora.example");
  reg.Program("Velmora");
  EXPECT_EQ(reg.KeyPath(), "SOFTWARE\\velmora.example\\Velmora\\Settings");
  reg.RegBase("Microsoft");
  reg.Program("Windows\\CurrentVersion\\App Paths");
  reg.Section("ICQ.exe");
  EXPECT_EQ(reg.KeyPath(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ICQ.exe");
  // An empty section removes the one trailing backslash, no more.
  reg.Section("");
  EXPECT_EQ(reg.KeyPath(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths");
  reg.Program("");
  EXPECT_EQ(reg.KeyPath(), "SOFTWARE\\Microsoft\\");
  reg.MainBranch("");
  reg.RegBase("");
  EXPECT_EQ(reg.KeyPath(), "\\\\");
}

// A registry where the process may read HKEY_LOCAL_MACHINE but not write it,
// as for a standard user.
class ReadOnlyMachineRegistry : public RegistryPort {
 public:
  std::map<std::string, std::string> values;  // "key|name" -> REG_SZ bytes
  std::vector<uint32_t> openAccess, createAccess;

  int32_t OpenKey(Key root, const std::string& subKey, uint32_t, uint32_t access, Key* result) override {
    openAccess.push_back(access);
    constexpr uint32_t KEY_SET_VALUE = 0x2, KEY_CREATE_SUB_KEY = 0x4;
    if (root == HKEY_LOCAL_MACHINE_VALUE && (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return 5;
    keys_.push_back(subKey);
    *result = keys_.size();
    return 0;
  }
  int32_t QueryValue(Key key, const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    const auto it = values.find(keys_.at(key - 1) + "|" + name);
    if (it == values.end()) return 2;
    *type = 1;
    if (data) {
      if (*size < it->second.size()) return 234;
      std::copy(it->second.begin(), it->second.end(), data);
    }
    *size = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  int32_t CreateKey(Key root, const std::string& subKey, uint32_t, uint32_t access, Key* result) override {
    if (root == HKEY_LOCAL_MACHINE_VALUE) return 5;
    createAccess.push_back(access);
    keys_.push_back(subKey);
    *result = keys_.size();
    return 0;
  }
  int32_t SetValue(Key key, const std::string& name, uint32_t type, const uint8_t* data, uint32_t size) override {
    if (type != 1) return 87;
    values[keys_.at(key - 1) + "|" + name] = std::string(data, data + size);
    return 0;
  }
  int32_t CloseKey(Key) override { return 0; }

 private:
  std::vector<std::string> keys_;
};

TEST(clsRegRead, ReadsMachineKeysWithReadAccessOnly) {
  ReadOnlyMachineRegistry registry;
  Windows1252 codePage;
  PortsScope scope(Ports{nullptr, &codePage, &registry, nullptr, nullptr});
  registry.values["SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ICQ.exe|Path"] =
      std::string("C:\\Programme\\ICQ6\\\0", 19);

  clsReg reg;
  reg.RegBase("Microsoft");
  reg.Program("Windows\\CurrentVersion\\App Paths");
  reg.Section("ICQ.exe");
  EXPECT_EQ(reg.ReadEntry("Path", "none"), "C:\\Programme\\ICQ6\\");
  EXPECT_EQ(registry.openAccess, std::vector<uint32_t>{0x20019u});

  // A write that cannot be done changes nothing and raises nothing.
  reg.WriteEntry("Path", "D:\\");
  EXPECT_EQ(reg.ReadEntry("Path", "none"), "C:\\Programme\\ICQ6\\");
}

TEST(clsRegWrite, StringsAreWrittenInTheCodePageWithoutTerminatingZero) {
  ReadOnlyMachineRegistry registry;
  Windows1252 codePage;
  PortsScope scope(Ports{nullptr, &codePage, &registry, nullptr, nullptr});
  clsReg reg;
  reg.RootKey(HKEY_CURRENT_USER_VALUE);
  reg.RegBase("vendor");
  reg.Program("Velmora");
  reg.WriteEntry("ICQLitePath", "C:\\Größe\\");
  EXPECT_EQ(registry.values.at("SOFTWARE\\vendor\\Velmora\\Settings|ICQLitePath"), "C:\\Gr\xf6\xdf" "e\\");
  EXPECT_EQ(registry.createAccess, std::vector<uint32_t>{0x3Fu});
  EXPECT_EQ(reg.ReadEntry("ICQLitePath", ""), "C:\\Größe\\");
}

TEST(clsRegRead, UnreachableRegistryGivesTheDefault) {
  PortsScope scope(Ports{});
  clsReg reg;
  EXPECT_EQ(reg.ReadEntry("Language", "2"), "2");
  reg.WriteEntry("Language", "1");  // no registry: silently nothing
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Only German as spoken in Germany picks German: Austria's, Switzerland's
// and any other language id pick English.
TEST(GetSystemLanguage, OnlyGermanyGermanPicksGerman) {
  testing::FakeFacts facts;
  Ports ports;
  ports.facts = &facts;
  testing::PortsScope scope(ports);
  for (const auto& [langId, expected] : {std::pair<uint16_t, int16_t>{1031, 1}, {3079, 2}, {2055, 2}, {1033, 2}}) {
    facts.langId = langId;
    EXPECT_EQ(GetSystemLanguage(), expected) << "language id " << langId;
  }
}

}  // namespace
}  // namespace velmora
