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

// The facts of a report's header and the user's decimal separator. The
// system facts of the ports are these and more.
class ReportFacts {
 public:
  virtual ~ReportFacts() = default;
  // The computer's network name; empty if it cannot be read.
  virtual std::string ComputerName() = 0;
  // The system's message text for an error code, as the system returns it
  // (line breaks included); empty if the system has none.
  virtual std::string SystemErrorText(int32_t code) = 0;
  // Version text of the optional database access component; throws if the
  // component cannot be created or does not answer.
  virtual std::string AdoVersion() = 0;
  // The executable's file name without folder and extension.
  virtual std::string ExeName() = 0;
  // Major, minor and revision from the program's version resource.
  virtual VersionNumbers AppVersion() = 0;
  virtual LocalTime Now() = 0;
  virtual std::string DateSeparator() = 0;
  virtual std::string TimeSeparator() = 0;
  // The user's decimal separator; empty where the system cannot tell.
  virtual std::string DecimalSeparator() = 0;
};

// The error library's host: the facts of a report, each of which may raise
// when it cannot be had (the report then leaves it empty, "?" for the ADO
// version), and the two ways an error reaches the user.
class ErrHost : public ReportFacts {
 public:
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
