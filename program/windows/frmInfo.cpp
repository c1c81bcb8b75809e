#include "windows/frmInfo.h"

#include "errors/ErrChain.h"
#include "platform/Ports.h"

namespace velmora {
namespace {

constexpr const char* kWebSite = "www.velmora.example";
constexpr const char* kSupportAddress = "support@velmora.example";

}  // namespace

// The click handlers, in the layout's order.
frmInfo::frmInfo()
    : Form("frmInfo.layout", {{"qbtnOk", [this] { qbtnOk_Click(); }},
                              {"lblWebsite", [this] { lblWebsite_Click(); }},
                              {"lblEMail", [this] { lblEMail_Click(); }}}) {}

frmInfo& InfoForm() {
  static frmInfo form;
  return form;
}

void frmInfo::Form_Load() {
  RunEvent("frmInfo.Form_Load", [&](Trap& trap) {
    trap.at(10);
    const VersionNumbers v = Facts().AppVersion();
    SetText("lblVersion", "Version " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                              std::to_string(v.revision));
    trap.at(20);
    SetText("lblWebsite", kWebSite);
    trap.at(30);
    SetText("lblEMail", kSupportAddress);
  });
}

bool frmInfo::KeyDown(HWND, int keyCode, int shift) {
  // Esc closes the window, as Ok does.
  if (keyCode != VK_ESCAPE || shift != 0) return false;
  qbtnOk_Click();
  return true;
}

void frmInfo::lblEMail_Click() {
  RunEvent("frmInfo.lblEMail_Click", [&](Trap& trap) {
    trap.at(10);
    Shell().ExecuteA(reinterpret_cast<uintptr_t>(Hwnd()), std::string("mailto: ") + kSupportAddress);
  });
}

void frmInfo::lblWebsite_Click() {
  RunEvent("frmInfo.lblWebsite_Click", [&](Trap& trap) {
    trap.at(10);
    // The label shows the bare host. Handed to the shell as it is, a bare
    // name is first taken for a file in the working folder, where anything
    // lying beside the program would be started in its place.
    Shell().OpenAddress(reinterpret_cast<uintptr_t>(Hwnd()), std::string("https://") + kWebSite);
  });
}

void frmInfo::qbtnOk_Click() {
  RunEvent("frmInfo.qbtnOk_Click", [&](Trap& trap) {
    trap.at(10);
    Unload();
  });
}

}  // namespace velmora
