// What the error library asks of the system around it: the facts a report's
// header shows, the user's decimal separator, and the two ways an error
// reaches the user. The library is the bottom layer of the program and
// includes nothing above it; the ports are its host (platform/Ports.cpp) from
// the first time anything installs or uses one.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct VersionNumbers {
  int major = 0, minor = 0, revision = 0;
};

class ErrHost {
 public:
  virtual ~ErrHost() = default;
  // The facts of a report's header. Each may raise when it cannot be had;
  // the report then leaves it empty ("?" for the ADO version).
  virtual std::string ComputerName() = 0;
  virtual std::string SystemErrorText(int32_t code) = 0;
  virtual std::string AdoVersion() = 0;
  virtual std::string ExeName() = 0;
  virtual VersionNumbers AppVersion() = 0;
  virtual LocalTime Now() = 0;
  virtual std::string DateSeparator() = 0;
  virtual std::string TimeSeparator() = 0;
  // The user's decimal separator; empty where the system cannot tell.
  virtual std::string DecimalSeparator() = 0;
  // A message for the user, in a box with an OK button.
  virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
  // The error report window shows this report.
  virtual void ShowReport(const std::string& report) = 0;
};

// The host in use, not owned; null until one is set.
void SetErrHost(ErrHost* host);
ErrHost* CurrentErrHost();
// The host in use; raises 91 when there is none, as a port that is not
// installed does.
ErrHost& RequiredErrHost();

}  // namespace velmora
