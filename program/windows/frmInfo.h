// frmInfo: the about window: name, version, copyright, web site and address.
#pragma once

#include "windows/Form.h"

namespace velmora {

class frmInfo final : public Form {
 public:
  frmInfo();

 protected:
  void Form_Load() override;
  bool KeyDown(HWND target, int keyCode, int shift) override;

 private:
  void lblEMail_Click();
  void lblWebsite_Click();
  void qbtnOk_Click();
};

frmInfo& InfoForm();

}  // namespace velmora
