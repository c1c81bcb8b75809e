// Linked into Wine test programs: installs the real Win32 adapters of the
// ports before any test runs.
#include <gtest/gtest.h>

#include "platform/win32/Win32Ports.h"

namespace {

class Win32PortsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { velmora::InstallWin32Ports(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Win32PortsEnvironment);

}  // namespace
