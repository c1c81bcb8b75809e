// frmSettings: the language, whether the program closes after an apply, and
// the way back to ICQ's original files.
#pragma once

#include <cstdint>

#include "windows/Form.h"

namespace velmora {

class frmSettings final : public Form {
 public:
  frmSettings();
  void SetSettingsLanguage(int16_t intLang);

 protected:
  void Form_Load() override;

 private:
  void combLanguage_Click();
  void cmdOk_Click();
  void cmdCancel_Click();
  void cmdRestore_Click();

  int16_t intChosenLanguage = 0;
};

frmSettings& SettingsForm();

}  // namespace velmora
