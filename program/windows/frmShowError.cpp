#include "windows/frmShowError.h"

#include <algorithm>

#include "errors/ErrChain.h"
#include "services/basMain.h"

namespace velmora {

// The click handlers, in the layout's order.
frmShowError::frmShowError()
    : Form("frmShowError.layout",
           {{"lblAddress", [this] { lblAddress_Click(); }}, {"qbtnCopy", [this] { qbtnCopy_Click(); }}}) {}

frmShowError& ErrorForm() {
  static frmShowError form;
  return form;
}

void RunWhileReportIsOpen() {
  int code = 0;
  RunMessages([] { return ErrorForm().IsLoaded(); }, &Form::PreTranslate, &code);
}

void frmShowError::ErrorReport(const std::string& text) {
  try {
    Load();
  } catch (...) {
    // The window came up without all of its controls (the copy button needs
    // Quillon2.dll): the report goes into what is there all the same.
    try {
      if (IsLoaded()) Form_Load();
    } catch (...) {
    }
  }
  try {
    SetText("txtError", text + "\r\n");
  } catch (...) {
  }
  try {
    if (IsLoaded() && !IsWindowVisible(Hwnd())) ShowModelessOrModal();
  } catch (...) {
  }
  try {
    if (IsLoaded()) {
      SetForegroundWindow(Hwnd());
      SetFocus(Control("txtError"));
    }
  } catch (...) {
  }
}

void frmShowError::ShowModelessOrModal() {
  // A modal window of the program is open when a window of this thread is
  // disabled (its owner); the report then has to be modal as well, over the
  // window that is in use.
  bool modalOpen = false;
  struct Look {
    static BOOL CALLBACK At(HWND hwnd, LPARAM found) {
      if (Form::FromWindow(hwnd) && IsWindowVisible(hwnd) && !IsWindowEnabled(hwnd)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
      }
      return TRUE;
    }
  };
  EnumThreadWindows(GetCurrentThreadId(), &Look::At, reinterpret_cast<LPARAM>(&modalOpen));
  if (modalOpen) ShowModal(GetActiveWindow());
  else Show();
}

void frmShowError::Form_Load() {
  SetCaption("Error Report");
  if (CurrentLanguage == 1) {
    SetText("lblError", "Entschuldigung, es ist ein Fehler aufgetreten. Bitte senden Sie diesen Fehlerbericht an");
    SetText("qbtnCopy", "Fehlerbericht kopieren");
  } else {
    SetText("lblError", "Sorry, an error occured. Please help to enhence this program by sending this error report to");
    SetText("qbtnCopy", "Copy error report");
  }
  Form_Resize();
}

void frmShowError::Form_Resize() {
  if (!IsIconic(Hwnd())) {
    RECT client;
    GetClientRect(Hwnd(), &client);
    const RECT text = Bounds("txtError");
    // In a window too small for the margins the text box shrinks to nothing
    // rather than to a negative size; it comes back when the window grows.
    const int width = std::max(0, PixelsToTwipsX(client.right) - 2 * static_cast<int>(text.left));
    const int height = std::max(0, PixelsToTwipsY(client.bottom) - 2 * static_cast<int>(text.top));
    Move("txtError", text.left, text.top, width, height);
  }
  const RECT label = Bounds("lblError"), address = Bounds("lblAddress");
  Move("lblAddress", label.right + 50, address.top, address.right - address.left, address.bottom - address.top);
}

bool frmShowError::KeyDown(HWND target, int keyCode, int shift) {
  // Esc closes the report, as its close box does, wherever the focus is.
  if (keyCode == VK_ESCAPE && shift == 0) {
    QueryClose();
    return true;
  }
  // Ctrl+A in the report selects all of it.
  if (target != Control("txtError") || keyCode != LetterKey('A') || shift != kCtrlHeld) return false;
  SendMessageW(target, EM_SETSEL, 0, GetWindowTextLengthW(target));
  return true;
}

void frmShowError::qbtnCopy_Click() {
  try {
    Clipboard().SetText(GetText("txtError"));
  } catch (...) {
    // Another program holds the clipboard: say so rather than confirm a copy
    // that did not happen.
    MessageBoxes().Show(ByLanguage("Die Zwischenablage ist gerade belegt. Bitte versuchen Sie es noch einmal.",
                                   "The clipboard is in use. Please try again."),
                        APP_TITLE, MessageBoxPort::kOkExclamation);
    return;
  }
  MessageBoxes().Show("Der Fehlerbericht wurde in die Zwischenablage kopiert", APP_TITLE, MessageBoxPort::kOk);
}

void frmShowError::lblAddress_Click() {
  try {
    Shell().ExecuteA(reinterpret_cast<uintptr_t>(Hwnd()), "mailto: " + GetText("lblAddress"));
  } catch (...) {
  }
}

}  // namespace velmora
