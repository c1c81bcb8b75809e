// clsReg: named text values under one configurable registry key. The key is
// built from five parts, so one object serves both the program's own settings
// key and foreign keys such as ICQ's application-path entry.
//
// Registry failures are silent by design: a read that cannot be done yields
// the caller's default, a write that cannot be done changes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "errors/Value.h"

namespace velmora {

inline constexpr uint32_t HKEY_CLASSES_ROOT_VALUE = 0x80000000u;
inline constexpr uint32_t HKEY_CURRENT_USER_VALUE = 0x80000001u;
inline constexpr uint32_t HKEY_LOCAL_MACHINE_VALUE = 0x80000002u;

class clsReg {
 public:
  const std::string& MainBranch() const { return MainBranch_; }
  void MainBranch(const std::string& strValue) { MainBranch_ = strValue; }
  const std::string& Program() const { return Program_; }
  void Program(const std::string& strValue) { Program_ = strValue; }
  const std::string& RegBase() const { return RegBase_; }
  void RegBase(const std::string& strValue) { RegBase_ = strValue; }
  uint32_t RootKey() const { return RootKey_; }
  void RootKey(uint32_t eValue) { RootKey_ = eValue; }
  const std::string& Section() const { return Section_; }
  void Section(const std::string& strValue) { Section_ = strValue; }

  // The stored text, or strDefault when the value is missing, empty, of
  // another type or cannot be read.
  std::string ReadEntry(const std::string& strEntry, const std::string& strDefault) const;
  void WriteEntry(const std::string& strEntry, const std::string& strValue) const;

  // MainBranch\RegBase\Program\Section, without a trailing backslash when
  // Section is empty. Empty levels are kept as they are.
  std::string KeyPath() const;

 private:
  // Empty, a text or a 32-bit number.
  Value ReadValue(uint32_t root, const std::string& keyPath, const std::string& name) const;
  void WriteValue(uint32_t root, const std::string& keyPath, const std::string& name,
                  const std::string& value, uint32_t type) const;

  uint32_t RootKey_ = HKEY_LOCAL_MACHINE_VALUE;
  std::string MainBranch_ = "SOFTWARE";
  std::string RegBase_;
  std::string Program_;
  std::string Section_ = "Settings";
};

// The program's one settings store, created on first use and kept until the
// process ends. Its current key is whatever the last caller selected.
clsReg& RegStore();

}  // namespace velmora
