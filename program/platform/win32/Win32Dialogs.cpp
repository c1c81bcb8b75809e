// The file-open dialog and the clipboard, over comdlg32 and user32.
#include <windows.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Ports.h"

namespace velmora {
namespace {

class Win32FileDialog : public FileDialogPort {
 public:
  bool ShowOpen(const std::string& filter, std::string* fileName) override {
    // "label|pattern|..." becomes the dialog's list of NUL-ended texts.
    std::wstring filters = Utf8ToWide(filter);
    for (auto& c : filters)
      if (c == L'|') c = L'\0';
    filters.append(2, L'\0');
    std::vector<wchar_t> name(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    // The current folder stays where it was: the program's DLLs are never
    // looked for in a folder the user browsed to.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!VELMORA_SYSTEM_FUNCTION(L"comdlg32.dll", GetOpenFileNameW)(&ofn)) {
      const DWORD error = VELMORA_SYSTEM_FUNCTION(L"comdlg32.dll", CommDlgExtendedError)();
      if (error == 0) return false;  // cancelled
      constexpr int32_t kDialogFailed = 32755;
      Raise(kDialogFailed, "Velmora", "The file dialog could not be shown (" + std::to_string(error) + ")");
    }
    *fileName = WideToUtf8(name.data(), static_cast<int>(wcslen(name.data())));
    return true;
  }
};

// Opens the clipboard for the scope of one call. Another program may hold it
// for a moment; a few tries are made before giving up.
class OpenClipboardScope {
 public:
  OpenClipboardScope() {
    for (int i = 0; i < 10 && !open_; ++i) {
      open_ = OpenClipboard(GetActiveWindow()) != FALSE;
      if (!open_) Sleep(20);
    }
    if (!open_) RaiseSystemError(GetLastError());
  }
  ~OpenClipboardScope() { CloseClipboard(); }

 private:
  bool open_ = false;
};

class Win32Clipboard : public ClipboardPort {
 public:
  void SetText(const std::string& text) override {
    const std::wstring wide = Utf8ToWide(text);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
    if (!memory) RaiseRuntime(RuntimeError::kOutOfMemory);
    auto* p = static_cast<wchar_t*>(GlobalLock(memory));
    std::copy(wide.begin(), wide.end(), p);
    p[wide.size()] = L'\0';
    GlobalUnlock(memory);
    try {
      OpenClipboardScope open;
      EmptyClipboard();
      if (!SetClipboardData(CF_UNICODETEXT, memory)) RaiseSystemError(GetLastError());
    } catch (...) {
      GlobalFree(memory);
      throw;
    }
  }

  std::string GetText() override {
    OpenClipboardScope open;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) return {};
    const auto* p = static_cast<const wchar_t*>(GlobalLock(data));
    std::string text = p ? WideToUtf8(p, static_cast<int>(wcslen(p))) : std::string();
    GlobalUnlock(data);
    return text;
  }
};

}  // namespace

void InstallWin32Dialogs() {
  static Win32FileDialog fileDialog;
  static Win32Clipboard clipboard;
  ThePorts().fileDialog = &fileDialog;
  ThePorts().clipboard = &clipboard;
}

}  // namespace velmora
