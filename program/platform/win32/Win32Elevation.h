// The elevation adapter: whether this process may write a folder, whether its
// token is limited, and this program started again as administrator.
#pragma once

#include <memory>
#include <string>

namespace velmora {

class ElevationPort;

// An adapter that starts `program` as administrator (this program's own file
// when empty).
std::unique_ptr<ElevationPort> MakeWin32Elevation(const std::wstring& program = {});

// Installs the adapter for this program as the elevation port, unless one
// is installed already.
void InstallWin32Elevation();

class ReportWindowPort;

// The elevated program's end of the channel its caller named: a report set
// there goes to the caller's pipe, opened so that whoever serves it can
// identify this process but never act as it.
std::unique_ptr<ReportWindowPort> MakeReportChannel(const std::string& token);

}  // namespace velmora
