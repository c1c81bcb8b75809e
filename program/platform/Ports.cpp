#include "platform/Ports.h"

#include "errors/ErrChain.h"

namespace velmora {
namespace {

template <typename Port>
Port& Require(Port* port) {
  if (!port) RaiseRuntime(91);  // Object variable or With block variable not set
  return *port;
}

}  // namespace

void FileSystemPort::ReplaceKeeping(const std::string&, const std::string&, const std::string&) {
  RaiseSystemError(50);  // ERROR_NOT_SUPPORTED
}

Ports& ThePorts() {
  static Ports ports;
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
