// Every test process is one OLE apartment, as a host's user-interface thread is.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

namespace {

class OleApartment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override { OleUninitialize(); }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new OleApartment);

}  // namespace
