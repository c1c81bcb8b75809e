// Fakes of the ports for tests: fixed system facts, and message boxes and a
// report window that record what they were given.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Ports.h"

namespace velmora::testing {

class FakeFacts : public SystemFacts {
 public:
  std::string computerName = "OFFICEPC";
  std::string adoVersion = "2.8";
  bool adoMissing = false;
  std::string exeName = "Velmora";
  VersionNumbers version{1, 0, 3};
  LocalTime now{2026, 12, 6, 14, 3, 27};
  std::string dateSeparator = "/", timeSeparator = ":", decimalSeparator = ".";
  uint16_t langId = 0x0409;
  // Text the "system" has for an error code; codes not listed have none.
  std::vector<std::pair<int32_t, std::string>> errorTexts = {
      {2, "The system cannot find the file specified.\r\n"}};

  std::string ComputerName() override { return computerName; }
  std::string SystemErrorText(int32_t code) override {
    for (const auto& [c, text] : errorTexts)
      if (c == code) return text;
    return {};
  }
  std::string AdoVersion() override {
    if (adoMissing) throw std::runtime_error("no ADO");
    return adoVersion;
  }
  std::string ExeName() override { return exeName; }
  VersionNumbers AppVersion() override { return version; }
  LocalTime Now() override { return now; }
  std::string DateSeparator() override { return dateSeparator; }
  std::string TimeSeparator() override { return timeSeparator; }
  std::string DecimalSeparator() override { return decimalSeparator; }
  uint16_t UserDefaultLangId() override { return langId; }
  std::string programFolder = "C:\\Program Files\\Velmora";
  std::string tempFolder = "C:\\Temp\\";
  std::string ProgramFolder() override { return programFolder; }
  std::string TempFolder() override { return tempFolder; }
  bool elevated = false;
  bool RunsElevated() override { return elevated; }
  std::string localAppDataFolder = "C:\\Users\\Anna\\AppData\\Local\\";
  std::string LocalAppDataFolder() override { return localAppDataFolder; }
};

class RecordingMessageBox : public MessageBoxPort {
 public:
  struct Shown {
    std::string text, title;
    uint32_t style;
  };
  std::vector<Shown> shown;
  int answer = 1;
  int Show(const std::string& text, const std::string& title, uint32_t style) override {
    shown.push_back({text, title, style});
    return answer;
  }
};

class RecordingReportWindow : public ReportWindowPort {
 public:
  std::vector<std::string> reports;
  void SetErrorReport(const std::string& text) override { reports.push_back(text); }
};

// Installs the given ports for the lifetime of the object and puts the old
// ones back afterwards.
class PortsScope {
 public:
  explicit PortsScope(const Ports& ports) : saved_(ThePorts()) { ThePorts() = ports; }
  ~PortsScope() { ThePorts() = saved_; }
  PortsScope(const PortsScope&) = delete;
  PortsScope& operator=(const PortsScope&) = delete;

 private:
  Ports saved_;
};

}  // namespace velmora::testing
