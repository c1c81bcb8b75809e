#include "windows/frmInfo.h"

#include "errors/ErrChain.h"
#include "platform/Ports.h"

namespace velmora {
namespace {

constexpr const char* kWebSite = "www.velmora.example";
constexpr const char* kSupportAddress = "support@velmora.example";

}  // namespace

frmInfo::frmInfo() : Form("frmInfo.layout") {}

frmInfo& InfoForm() {
  static frmInfo form;
  return form;
}

void frmInfo::Form_Load() {
  Trap trap("frmInfo.Form_Load");
  try {
    trap.at(10);
    const VersionNumbers v = Facts().AppVersion();
    SetText("lblVersion", "Version " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                              std::to_string(v.revision));
    trap.at(20);
    SetText("lblWebsite", kWebSite);
    trap.at(30);
    SetText("lblEMail", kSupportAddress);
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
}

void frmInfo::Click(const std::string& control) {
  if (control == "lblEMail") lblEMail_Click();
  else if (control == "lblWebsite") lblWebsite_Click();
  else if (control == "qbtnOk") qbtnOk_Click();
}

void frmInfo::lblEMail_Click() {
  Trap trap("frmInfo.lblEMail_Click");
  try {
    trap.at(10);
    Shell().ExecuteA(reinterpret_cast<uintptr_t>(Hwnd()), std::string("mailto: ") + kSupportAddress);
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
}

void frmInfo::lblWebsite_Click() {
  Trap trap("frmInfo.lblWebsite_Click");
  try {
    trap.at(10);
    Shell().ExecuteA(reinterpret_cast<uintptr_t>(Hwnd()), GetText("lblWebsite"));
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
}

void frmInfo::qbtnOk_Click() {
  Trap trap("frmInfo.qbtnOk_Click");
  try {
    trap.at(10);
    Unload();
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
}

}  // namespace velmora
