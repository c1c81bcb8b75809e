// What the tests of clsFile and clsKorvanel share: a fake file system with the
// other ports in place, and a fresh error library.
#pragma once

#include <gtest/gtest.h>

#include "FakeFiles.h"
#include "FakePorts.h"
#include "RaisedErrors.h"
#include "errors/ErrChain.h"

namespace velmora::testing {

class ThemeTest : public ::testing::Test {
 protected:
  ThemeTest() : scope_(MakePorts()) {
    ResetErrorLibrary();
  }

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
