// frmMain: the main window and the program's start-up object. Loading it runs
// the whole start-up (position, settings, finding ICQ, the installed picture,
// the banner check, the language); unloading it stores the position and the
// ICQ folder and ends the program.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/basElevation.h"
#include "services/basMain.h"
#include "windows/Form.h"

namespace velmora {

class frmMain final : public Form, public MainWindowTexts {
 public:
  frmMain();

  std::string GetICQPath();
  bool RightICQPath(const std::string& strPath);

  void SetControlText(const std::string& control, const std::string& text) override;
  const std::string& ICQPath() const { return strICQPath; }

 protected:
  void Form_Load() override;
  void Form_Unload() override;
  bool KeyDown(HWND target, int keyCode, int shift) override;

 private:
  void SetRegKey(bool bolOwnKey);
  int16_t GetLanguage();
  bool ShowPreview(const std::string& strPath);
  void qbtnOpen_Click();
  void qbtnApply_Click();
  void qbtnRemoveBanner_Click();
  void qbtnCheckUpdate_Click();
  void qbtnSettings_Click();
  void qbtnInfo_Click();
  void NoFolderWarning();
  // A command that changes ICQ's files: the originals kept first, the work
  // done here or by the elevated program (DoWithRights), and what it wrote
  // noted as Velmora's, also when it failed. False when the elevated program
  // failed and its report is shown.
  bool ChangeIcqFiles(const std::vector<std::string>& files, const std::vector<std::string>& folders,
                      const ElevatedCommand& work, const std::function<void()>& here, std::string_view bitmap = {});

  // The window's outer left and top edges in twips, as restored. A window
  // sits on whole pixels, so these keep a fraction that the pixels cannot.
  float PositionTwips(bool left) const;
  void PlaceAt(float left, float top);

  std::string strICQPath;
  std::string strChosenPicture;
  float sngLeft_ = 0, sngTop_ = 0;
  POINT placedAt_{};
};

// The program's one main window.
frmMain& MainForm();

}  // namespace velmora
