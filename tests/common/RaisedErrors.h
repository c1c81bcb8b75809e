// Looking at a raised error and the report it carries.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "errors/ErrChain.h"

namespace velmora::testing {

// A fresh error library: no current error, no capture, no report.
inline void ResetErrorLibrary() {
  Err().Clear();
  PreservedErr() = PreservedErrRecord{};
  ReportText().clear();
  ValueDumps().clear();
}

// The error that `action` raises; a failed test if it raises none.
inline VbError RaisedBy(const std::function<void()>& action) {
  try {
    action();
  } catch (const VbError& e) {
    return e;
  }
  ADD_FAILURE() << "expected an error to be raised";
  return VbError(0, "", "");
}

// The report's lines, without their CR LF.
inline std::vector<std::string> ReportLines(const std::string& report) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = report.find("\r\n", start)) != std::string::npos) {
    lines.push_back(report.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The procedures of the call-stack lines, innermost first.
inline std::vector<std::string> CallStack(const std::string& report) {
  const std::string start = "  Call Stack: ";
  std::vector<std::string> names;
  for (const std::string& line : ReportLines(report))
    if (line.compare(0, start.size(), start) == 0)
      names.push_back(line.substr(start.size(), line.find('(') - start.size()));
  return names;
}

}  // namespace velmora::testing
