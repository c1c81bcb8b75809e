#include "services/clsReg.h"

#include <vector>

#include "platform/Ports.h"

namespace velmora {
namespace {

constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_DWORD = 4;
// Reading needs no more than read access: asking for write access as well
// would fail for a standard user on HKEY_LOCAL_MACHINE, where ICQ registers.
constexpr uint32_t KEY_READ_ACCESS = 0x20019;
// query, set, create sub-key, enumerate, notify, create link
constexpr uint32_t KEY_WRITE_ACCESS = 0x3F;

}  // namespace

std::string clsReg::KeyPath() const {
  std::string path = MainBranch_ + "\\" + RegBase_ + "\\" + Program_ + "\\" + Section_;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::string clsReg::ReadEntry(const std::string& strEntry, const std::string& strDefault) const {
  const Value value = ReadValue(RootKey_, KeyPath(), strEntry);
  std::string text;
  if (value.Is<std::string>()) text = value.As<std::string>();
  else if (value.Is<int32_t>()) text = std::to_string(value.As<int32_t>());
  return text.empty() ? strDefault : text;
}

void clsReg::WriteEntry(const std::string& strEntry, const std::string& strValue) const {
  WriteValue(RootKey_, KeyPath(), strEntry, strValue, REG_SZ);
}

Value clsReg::ReadValue(uint32_t root, const std::string& keyPath, const std::string& name) const {
  Value result{EmptyValue{}};
  try {
    RegistryPort& reg = Registry();
    CodePage& cp = Ansi();
    RegistryPort::Key key = 0;
    if (reg.OpenKey(root, cp.ToAnsi(keyPath), 0, KEY_READ_ACCESS, &key) != 0) return result;
    const std::string ansiName = cp.ToAnsi(name);
    uint32_t type = 0, size = 0;
    if (reg.QueryValue(key, ansiName, &type, nullptr, &size) != 0) {
      reg.CloseKey(key);
      return result;
    }
    if (type == REG_SZ) {
      std::vector<uint8_t> buffer(size);
      uint32_t got = size;
      if (reg.QueryValue(key, ansiName, &type, buffer.data(), &got) == 0) {
        if (got > buffer.size()) got = static_cast<uint32_t>(buffer.size());
        // Written with or without its terminating zero: either reads the same.
        std::string bytes(buffer.begin(), buffer.begin() + got);
        if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        result = cp.FromAnsi(bytes);
      }
    } else if (type == REG_DWORD) {
      uint8_t data[4] = {};
      uint32_t got = sizeof data;
      if (reg.QueryValue(key, ansiName, &type, data, &got) == 0 && got == sizeof data) {
        result = static_cast<int32_t>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24);
      }
    }
    reg.CloseKey(key);
  } catch (...) {
    // A registry that cannot be reached reads as a missing value.
  }
  return result;
}

void clsReg::WriteValue(uint32_t root, const std::string& keyPath, const std::string& name,
                        const std::string& value, uint32_t type) const {
  try {
    RegistryPort& reg = Registry();
    CodePage& cp = Ansi();
    RegistryPort::Key key = 0;
    if (reg.CreateKey(root, cp.ToAnsi(keyPath), 0, KEY_WRITE_ACCESS, &key) != 0) return;
    const std::string bytes = cp.ToAnsi(value);
    reg.SetValue(key, cp.ToAnsi(name), type, reinterpret_cast<const uint8_t*>(bytes.data()),
                 static_cast<uint32_t>(bytes.size()));
    reg.CloseKey(key);
  } catch (...) {
  }
}

clsReg& RegStore() {
  static clsReg store;
  return store;
}

}  // namespace velmora
