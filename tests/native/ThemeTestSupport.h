// What the tests of clsFile and clsKorvanel share: a fake file system with the
// other ports in place, a fresh error library, and ways to look at a raised
// error and its report.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeFiles.h"
#include "FakePorts.h"
#include "errors/ErrChain.h"

namespace velmora::testing {

class ThemeTest : public ::testing::Test {
 protected:
  ThemeTest() : scope_(MakePorts()) {
    Err().Clear();
    PreservedErr() = PreservedErrRecord{};
    ReportText().clear();
    ValueDumps().clear();
  }

  // The error that `action` raises; a failed test if it raises none.
  static VbError RaisedBy(const std::function<void()>& action) {
    try {
      action();
    } catch (const VbError& e) {
      return e;
    }
    ADD_FAILURE() << "expected an error to be raised";
    return VbError(0, "", "");
  }

  // The report's lines, without their CR LF.
  static std::vector<std::string> ReportLines(const std::string& report) {
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = report.find("\r\n", start)) != std::string::npos) {
      lines.push_back(report.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // The lines that start with "  Call Stack: ", cut at the end of the name.
  static std::vector<std::string> CallStack(const std::string& report) {
    std::vector<std::string> names;
    for (const std::string& line : ReportLines(report)) {
      const std::string start = "  Call Stack: ";
      if (line.compare(0, start.size(), start) == 0) names.push_back(line.substr(start.size(), line.find('(') - start.size()));
    }
    return names;
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
