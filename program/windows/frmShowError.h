// frmShowError: the error report window. The report is set through
// ErrorReport; the user copies it or starts a mail to the support address.
#pragma once

#include <string>

#include "platform/Ports.h"
#include "windows/Form.h"

namespace velmora {

class frmShowError final : public Form, public ReportWindowPort {
 public:
  frmShowError();
  // Puts the report (and a line break) in the window, loading and showing it
  // as needed, and gives it the focus. Nothing that fails here stops the
  // rest: a report is never lost to a window that cannot take the focus.
  void ErrorReport(const std::string& text);
  void SetErrorReport(const std::string& text) override { ErrorReport(text); }

 protected:
  void Form_Load() override;
  void Form_Resize() override;
  bool KeyDown(HWND target, int keyCode, int shift) override;

 private:
  void ShowModelessOrModal();
  void qbtnCopy_Click();
  void lblAddress_Click();
};

frmShowError& ErrorForm();

// The program's messages for as long as the report window is loaded: a
// report of a failed start, or of a failed shutdown after the main loop has
// ended, stays until the user closes it.
void RunWhileReportIsOpen();

}  // namespace velmora
