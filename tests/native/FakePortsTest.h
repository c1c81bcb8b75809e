// The fixture the native tests build on: the facts, the code page and a fake
// file system in place, and a fresh error library. A fixture that needs more
// ports sets them in its constructor; all are put back when the test ends.
#pragma once

#include <gtest/gtest.h>

#include "FakeFiles.h"
#include "FakePorts.h"
#include "RaisedErrors.h"
#include "errors/ErrChain.h"

namespace velmora::testing {

class FakePortsTest : public ::testing::Test {
 protected:
  FakePortsTest() : scope_(MakePorts()) { ResetErrorLibrary(); }

  FakeFacts facts;
  Windows1252 codePage;
  FakeFiles files;

 private:
  Ports MakePorts() {
    Ports ports;
    ports.facts = &facts;
    ports.codePage = &codePage;
    ports.files = &files;
    return ports;
  }

  PortsScope scope_;
};

}  // namespace velmora::testing
