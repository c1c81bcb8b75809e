#include "platform/Ports.h"

#include "errors/ErrChain.h"
#include "errors/ErrHost.h"

namespace velmora {
namespace {

template <typename Port>
Port& Require(Port* port) {
  if (!port) RaiseRuntime(RuntimeError::kObjectNotSet);
  return *port;
}

// What the error library asks for, answered by the ports installed at the
// time it asks.
class PortsErrHost : public ErrHost {
 public:
  std::string ComputerName() override { return Facts().ComputerName(); }
  std::string SystemErrorText(int32_t code) override { return Facts().SystemErrorText(code); }
  std::string AdoVersion() override { return Facts().AdoVersion(); }
  std::string ExeName() override { return Facts().ExeName(); }
  VersionNumbers AppVersion() override { return Facts().AppVersion(); }
  LocalTime Now() override { return Facts().Now(); }
  std::string DateSeparator() override { return Facts().DateSeparator(); }
  std::string TimeSeparator() override { return Facts().TimeSeparator(); }
  std::string DecimalSeparator() override {
    SystemFacts* facts = ThePorts().facts;
    return facts ? facts->DecimalSeparator() : std::string();
  }
  void ShowMessage(const std::string& text, const std::string& title) override {
    MessageBoxes().Show(text, title, MessageBoxPort::kOk);
  }
  void ShowReport(const std::string& report) override { ReportWindow().SetErrorReport(report); }
};

}  // namespace

void FileSystemPort::ReplaceKeeping(const std::string&, const std::string&, const std::string&) {
  RaiseSystemError(50);  // ERROR_NOT_SUPPORTED
}

std::string FileSystemPort::FinalFolderPath(const std::string&) { return {}; }

std::string FileSystemPort::LongPath(const std::string& path) { return path; }

uint32_t FileSystemPort::LinkCount(const std::string&) { return 1; }

bool FileSystemPort::IsLocalDisk(const std::string&) { return true; }

Ports& ThePorts() {
  static Ports ports;
  // Whoever installs a port or uses one comes here first, so from then on
  // the error library reports through the ports.
  static PortsErrHost host;
  static const bool hosted = (SetErrHost(&host), true);
  (void)hosted;
  return ports;
}

SystemFacts& Facts() { return Require(ThePorts().facts); }
CodePage& Ansi() { return Require(ThePorts().codePage); }
RegistryPort& Registry() { return Require(ThePorts().registry); }
MessageBoxPort& MessageBoxes() { return Require(ThePorts().messageBox); }
ReportWindowPort& ReportWindow() { return Require(ThePorts().reportWindow); }
FileSystemPort& Files() { return Require(ThePorts().files); }
FileDialogPort& FileDialog() { return Require(ThePorts().fileDialog); }
ClipboardPort& Clipboard() { return Require(ThePorts().clipboard); }
ShellPort& Shell() { return Require(ThePorts().shell); }
HttpPort& Http() { return Require(ThePorts().http); }
ElevationPort& Elevation() { return Require(ThePorts().elevation); }

}  // namespace velmora
