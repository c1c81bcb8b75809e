// A window of the program, made from its stored layout: the window itself,
// its controls of every kind, their fonts and colours, the Quillon buttons
// with their property bags, and the events the window's code handles.
//
// Labels and command buttons, check boxes, drop-down lists and text boxes are
// the system's controls; images are drawn by the window itself under its
// labels; the picture box is a PictureBox; Quillon buttons are embedded
// through QuillonHost.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "windows/LayoutFile.h"
#include "windows/QuillonHost.h"
#include "windows/WinUtil.h"

namespace velmora {

// Shift state as the windows' key handlers see it: a bit for each of Shift,
// Ctrl and Alt that is held down, none for a plain key.
inline constexpr int kShiftHeld = 1;
inline constexpr int kCtrlHeld = 2;
inline constexpr int kAltHeld = 4;
int ShiftState();

// The key code of a letter key. The system numbers them by the capital
// letter itself ('E' is 69) and windows.h gives them no names.
constexpr int LetterKey(char capital) { return static_cast<unsigned char>(capital); }

class Form {
 public:
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  virtual ~Form();

  // Creates the window hidden with every control of its layout and runs
  // Form_Load. Does nothing when the window is loaded already.
  void Load(HWND owner = nullptr);
  bool IsLoaded() const { return hwnd_ != nullptr; }
  HWND Hwnd() const { return hwnd_; }
  // Shows the window and returns at once.
  void Show();
  // Shows the window over `owner`, which is disabled meanwhile, and returns
  // when the window is unloaded.
  void ShowModal(HWND owner);
  // Runs Form_Unload, then destroys the window and its controls.
  void Unload();

  // Controls by name.
  HWND Control(std::string_view name) const;
  Button& Quillon(std::string_view name);
  // The text of a label, check box, command button or text box; the caption
  // of a Quillon button.
  void SetText(std::string_view name, const std::string& text);
  std::string GetText(std::string_view name) const;
  void SetVisible(std::string_view name, bool visible);
  bool IsVisible(std::string_view name) const;
  // Position of a control in twips within the window, and its move.
  RECT Bounds(std::string_view name) const;
  void Move(std::string_view name, int left, int top, int width, int height);
  void SetCaption(const std::string& text);

  // The form that owns a top-level window, or null.
  static Form* FromWindow(HWND hwnd);
  // Looks at a key press before the control with the focus gets it. Returns
  // true when the window handled the key.
  bool PreviewKey(const MSG& msg);
  // What the program's message loops do with every message before it is
  // dispatched: the key preview of its window, then the dialog keys (Tab,
  // Enter, Esc). True when the message was used up.
  static bool PreTranslate(MSG& msg);

 protected:
  // What the window does when one of its controls is clicked, by the
  // control's name as the layout spells it: a button, a label, a check box,
  // or a new choice in a list. Every button and every link label of the
  // layout has its handler, and every handler its control; the load of a
  // window whose table and layout disagree fails with error 5 naming them.
  struct ClickHandler {
    std::string control;
    std::function<void()> run;
  };
  using ClickHandlers = std::vector<ClickHandler>;

  Form(std::string layoutFile, ClickHandlers clicks);

  virtual void Form_Load() {}
  virtual void Form_Unload() {}
  virtual void Form_Resize() {}
  // Every key press in the window, whichever control has the focus; `target`
  // is that control. True when handled.
  virtual bool KeyDown(HWND /*target*/, int /*keyCode*/, int /*shift*/) { return false; }
  // The user asked the window to close (close box, Alt+F4).
  virtual void QueryClose() { Unload(); }
  virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  const Layout& StoredLayout() const { return layout_; }

 private:
  struct Item;
  struct Kind;
  class Listener;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // The kind of control a layout names, or null for a name no window knows.
  static const Kind* KindNamed(const std::string& name);
  void CheckClickHandlers() const;
  void Click(const std::string& control);
  void CreateControls();
  void CreateOne(const LayoutControl& c);
  // One maker for each kind of control.
  void MakeChild(Item& it, const LayoutControl& c, const wchar_t* cls, DWORD style, DWORD exStyle = 0, int height = -1);
  void MakeLabel(Item& it, const LayoutControl& c);
  void MakeTextBox(Item& it, const LayoutControl& c);
  void MakeCheckBox(Item& it, const LayoutControl& c);
  void MakeCommandButton(Item& it, const LayoutControl& c);
  void MakeComboList(Item& it, const LayoutControl& c);
  void MakePictureBox(Item& it, const LayoutControl& c);
  void MakeImage(Item& it, const LayoutControl& c);
  void MakeQuillon(Item& it, const LayoutControl& c);
  Item* Find(std::string_view name) const;
  Item* FindWindow(HWND child) const;
  void Paint(HDC dc);
  void FitLabel(Item& item);

  // The window's messages, one handler each; a handler that returns false
  // leaves the message to the system.
  LRESULT OnEraseBackground(HDC dc);
  void OnPaint();
  void OnPrintClient(HDC dc);
  LRESULT OnControlColour(HDC dc, HWND control);
  bool OnSetCursor(HWND over, UINT hitTest);
  bool OnCommand(int id, int code, bool fromKeys);
  void OnQuillonClick(std::size_t index);
  void KeepFocus();
  void OnSetFocus(HWND lost);
  void OnNextControl(WPARAM wp, LPARAM lp);

  std::string layoutFile_;
  ClickHandlers clicks_;
  Layout layout_;
  HWND hwnd_ = nullptr;
  HWND modalOwner_ = nullptr;
  HWND lastFocus_ = nullptr;  // the control that had the focus when the window was left
  HBRUSH background_ = nullptr;
  COLORREF backColour_ = RGB(255, 255, 255);
  HICON iconBig_ = nullptr, iconSmall_ = nullptr;
  std::vector<std::unique_ptr<Item>> items_;
  std::vector<HFONT> fonts_;
};

// The program's message loop; returns the exit code of WM_QUIT.
int RunMessageLoop();

}  // namespace velmora
