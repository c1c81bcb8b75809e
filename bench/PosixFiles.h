// The file-system port over POSIX calls, so that the portable code can be
// measured natively on real files. Errors are raised with the system error
// code Windows would give for the same failure.
#pragma once

#include "platform/Ports.h"

namespace velmora::bench {

class PosixFiles : public FileSystemPort {
 public:
  std::string ReadWhole(const std::string& path) override;
  void WriteNew(const std::string& path, std::string_view bytes) override;
  void MoveOver(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  uint32_t Attributes(const std::string& path) override;
  void SetAttributes(const std::string& path, uint32_t attributes) override;
  std::vector<Entry> List(const std::string& folder) override;
  void MakeFolder(const std::string& path) override;
};

}  // namespace velmora::bench
