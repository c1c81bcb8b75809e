// Velmora as a user with a UAC-limited token sees it: the program's own
// wWinMain, with an elevation port that says this process may not write
// ICQ's folder and that its token is limited. Starting the elevated program
// is the real adapter's: the shell's "runas", which Wine carries out without
// a prompt, on this same executable.
#define wWinMain VelmoraWinMain
#include "../../../program/Velmora.cpp"
#undef wWinMain

#include <memory>

#include "platform/Ports.h"

namespace {

class LimitedToken : public velmora::ElevationPort {
 public:
  bool MayWrite(const std::string&) override { return false; }
  bool TokenIsLimited() override { return true; }
  Outcome RunElevated(const std::string& arguments) override { return real_->RunElevated(arguments); }
  std::string NewToken() override { return real_->NewToken(); }

 private:
  std::unique_ptr<velmora::ElevationPort> real_ = velmora::MakeWin32Elevation();
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  static LimitedToken limited;
  velmora::ThePorts().elevation = &limited;
  return VelmoraWinMain(instance, previous, commandLine, show);
}
