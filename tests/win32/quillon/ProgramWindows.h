#pragma once
// The program's windows for the accessibility, keyboard and high-contrast
// tests: made from their stored layouts by the program's own form code, run
// through the program's message handling (key preview, dialog keys), driven
// by keys through the real input queue and read as assistive programs read
// them.

#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Ports.h"
#include "windows/Form.h"
#include "windows/Resources.h"
#include "windows/frmInfo.h"
#include "windows/frmSettings.h"
#include "windows/frmShowError.h"
#include "platform/win32/Win32Ports.h"

namespace host {

// A window of the program with its layout, controls and Quillon buttons as
// the program makes them, without its start-up code: the main window's
// layout loads here without an ICQ installation. Clicks of every control are
// recorded.
class LayoutWindow final : public velmora::Form {
 public:
  explicit LayoutWindow(const std::string& layoutFile) : Form(layoutFile, Recording(this, layoutFile)) {}
  ~LayoutWindow() override { Unload(); }
  std::vector<std::string> clicks;

 private:
  static ClickHandlers Recording(LayoutWindow* self, const std::string& layoutFile) {
    ClickHandlers handlers;
    for (const velmora::LayoutControl& c : velmora::ParseLayout(velmora::ResourceFile(layoutFile)).controls)
      handlers.push_back({c.name, [self, name = c.name] { self->clicks.push_back(name); }});
    return handlers;
  }
};

// The shell port while a test runs: what the windows hand to the shell is
// recorded, and no browser or mail program starts.
class RecordingShell final : public velmora::ShellPort {
 public:
  RecordingShell() : kept_(velmora::ThePorts().shell) { velmora::ThePorts().shell = this; }
  ~RecordingShell() override { velmora::ThePorts().shell = kept_; }
  void ExecuteA(uintptr_t, const std::string& file) override { handed.push_back(file); }
  void OpenAddress(uintptr_t, const std::string& address) override { handed.push_back(address); }
  std::vector<std::string> handed;

 private:
  velmora::ShellPort* kept_;
};

// The program's message loop for a while: every message goes through the
// same preview and dialog keys as in the program.
inline void PumpProgram(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (velmora::Form::PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
  }
}

// A window text in UTF-8, for the messages of failed checks.
inline std::string Utf8(const std::wstring& w) { return velmora::WideToUtf8(w.data(), static_cast<int>(w.size())); }

// The main window shown for each test, away from the mouse, and every window
// of the program closed after it.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCursorPos(1000, 700);  // away from every window
    main.Load();
    main.Show();
    PumpProgram(100);
  }
  void TearDown() override {
    velmora::InfoForm().Unload();
    velmora::SettingsForm().Unload();
    velmora::ErrorForm().Unload();
    main.Unload();
    PumpProgram(20);
  }

  LayoutWindow main{"frmMain.layout"};
};

// Key strokes through the system's input queue, to whichever window has the
// focus, with the key state a real keyboard leaves (Shift for Shift+Tab).
inline void Keys(const std::vector<INPUT>& strokes) {
  SendInput(static_cast<UINT>(strokes.size()), const_cast<INPUT*>(strokes.data()), sizeof(INPUT));
  PumpProgram(60);
}
inline INPUT Stroke(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}
inline void Press(WORD vk) { Keys({Stroke(vk, false), Stroke(vk, true)}); }
inline void PressShifted(WORD vk) {
  Keys({Stroke(VK_SHIFT, false), Stroke(vk, false), Stroke(vk, true), Stroke(VK_SHIFT, true)});
}

// The object a screen reader gets for a window's client area.
inline ComPtr<IAccessible> AccessibleOf(HWND hwnd) {
  ComPtr<IAccessible> object;
  AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                             reinterpret_cast<void**>(object.Put()));
  return object;
}

inline VARIANT Self() {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = CHILDID_SELF;
  return v;
}

// What a screen reader reads of an object.
struct Heard {
  std::wstring name;
  LONG role = 0;
  LONG state = 0;
  std::wstring action;
  RECT place{};
};

inline std::wstring Owned(BSTR text) {
  std::wstring out = text ? text : L"";
  SysFreeString(text);
  return out;
}

inline Heard Hear(IAccessible* object) {
  Heard h;
  if (!object) return h;
  BSTR text = nullptr;
  object->get_accName(Self(), &text);
  h.name = Owned(text);
  text = nullptr;
  object->get_accDefaultAction(Self(), &text);
  h.action = Owned(text);
  VARIANT v;
  VariantInit(&v);
  if (SUCCEEDED(object->get_accRole(Self(), &v)) && V_VT(&v) == VT_I4) h.role = V_I4(&v);
  VariantClear(&v);
  if (SUCCEEDED(object->get_accState(Self(), &v)) && V_VT(&v) == VT_I4) h.state = V_I4(&v);
  VariantClear(&v);
  LONG left = 0, top = 0, width = 0, height = 0;
  object->accLocation(&left, &top, &width, &height, Self());
  h.place = {left, top, left + width, top + height};
  return h;
}

inline Heard HearWindow(HWND hwnd) { return Hear(AccessibleOf(hwnd).Get()); }

// The role and the states as the system words them, for the record.
inline std::string Words(const Heard& h) {
  auto narrow = [](const wchar_t* w) {
    std::string out;
    for (; *w; ++w) out += *w < 0x80 ? static_cast<char>(*w) : '?';
    return out;
  };
  wchar_t text[128];
  GetRoleTextW(static_cast<DWORD>(h.role), text, 128);
  std::string out = narrow(text);
  for (DWORD bit = 1; bit; bit <<= 1) {
    if (!(static_cast<DWORD>(h.state) & bit)) continue;
    GetStateTextW(bit, text, 128);
    out += ", " + narrow(text);
  }
  return out;
}

// The Quillon buttons among a window's children, in their window order
// (which is the layout's).
inline std::vector<HWND> QuillonWindows(HWND parent) {
  std::vector<HWND> out;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (wcscmp(name, L"Quillon2.Button") == 0) out.push_back(child);
  }
  return out;
}

}  // namespace host
