#include "windows/Form.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "errors/ErrChain.h"
#include "platform/win32/Win32Ports.h"
#include "windows/LayoutBag.h"
#include "windows/LinkLabel.h"
#include "windows/PictureBox.h"
#include "windows/Resources.h"
#include "windows/StartupTrace.h"

namespace velmora {
namespace {

constexpr UINT WM_QUILLON_CLICK = WM_APP + 1;
constexpr wchar_t kFormClass[] = L"VelmoraForm";
constexpr int kFirstId = 1000;

COLORREF ColourOf(int64_t value) {
  const auto v = static_cast<uint32_t>(value);
  return (v & 0x80000000u) ? GetSysColor(static_cast<int>(v & 0xFF)) : static_cast<COLORREF>(v & 0xFFFFFF);
}

bool Is(const std::string& a, const char* b) { return _stricmp(a.c_str(), b) == 0; }


// "Name" size [weight] [Bold] [Italic] [Underline] [Strikeout]
HFONT MakeFont(const std::vector<std::string>& v) {
  LOGFONTW f{};
  const std::wstring name = Utf8ToWide(v.empty() ? "MS Sans Serif" : v[0]);
  wcsncpy(f.lfFaceName, name.c_str(), LF_FACESIZE - 1);
  const double points = v.size() > 1 ? std::atof(v[1].c_str()) : 8.25;
  f.lfHeight = -static_cast<LONG>(std::lround(points * ScreenDpiY() / 72.0));
  f.lfWeight = FW_NORMAL;
  f.lfCharSet = DEFAULT_CHARSET;
  for (std::size_t i = 2; i < v.size(); ++i) {
    if (Is(v[i], "Bold")) f.lfWeight = FW_BOLD;
    else if (Is(v[i], "Italic")) f.lfItalic = TRUE;
    else if (Is(v[i], "Underline")) f.lfUnderline = TRUE;
    else if (Is(v[i], "Strikeout")) f.lfStrikeOut = TRUE;
    else f.lfWeight = static_cast<LONG>(LayoutNumber(v[i]));
  }
  return CreateFontIndirectW(&f);
}

}  // namespace

int ShiftState() {
  return (GetKeyState(VK_SHIFT) < 0 ? kShiftHeld : 0) | (GetKeyState(VK_CONTROL) < 0 ? kCtrlHeld : 0) |
         (GetKeyState(VK_MENU) < 0 ? kAltHeld : 0);
}

struct Form::Item {
  std::string name;
  const Kind* kind = nullptr;
  HWND hwnd = nullptr;  // none for images
  int id = 0;
  RECT twips{};
  RECT design{};  // where the layout or the window's code put it, in twips
  bool visible = true;
  bool cancel = false, autoSize = false;
  COLORREF fore = 0;
  HFONT font = nullptr;
  HCURSOR cursor = nullptr;
  HICON icon = nullptr;
  HBITMAP bitmap = nullptr;
  std::unique_ptr<Button> button;
  std::unique_ptr<Listener> listener;
};

// Hears a Quillon button's Click and hands it to the window's message queue:
// a click handler may close the window, which must not happen while the
// button is still inside its own event.
class Form::Listener : public ButtonListener {
 public:
  Listener(HWND form, int index) : form_(form), index_(index) {}
  void OnEvent(DISPID id, DISPPARAMS*) override {
    if (id == QUILLON_DISPID_CLICK) PostMessageW(form_, WM_QUILLON_CLICK, static_cast<WPARAM>(index_), 0);
  }

 private:
  HWND form_;
  int index_;
};

// Every kind of control a layout may hold: how it is made, and which of its
// notifications the window's click handlers hear.
struct Form::Kind {
  const char* name;  // as the layouts name it
  void (Form::*make)(Item& it, const LayoutControl& c);
  bool label;          // a transparent label, fitted to its text
  int clickCode;       // the notification that is a click, or -1 for none
  bool clickedByKeys;  // Enter and Esc click it through the dialog keys too
  bool needsHandler;   // a button: it exists to be clicked
};

const Form::Kind* Form::KindNamed(const std::string& name) {
  static const Kind kinds[] = {
      {"Label", &Form::MakeLabel, true, STN_CLICKED, false, false},
      {"TextBox", &Form::MakeTextBox, false, -1, false, false},
      {"CheckBox", &Form::MakeCheckBox, false, BN_CLICKED, true, false},
      {"CommandButton", &Form::MakeCommandButton, false, BN_CLICKED, true, true},
      {"ComboList", &Form::MakeComboList, false, CBN_SELCHANGE, false, false},
      {"PictureBox", &Form::MakePictureBox, false, -1, false, false},
      {"Image", &Form::MakeImage, false, -1, false, false},
      // Its clicks come as the button's Click event.
      {"Quillon", &Form::MakeQuillon, false, -1, false, true},
  };
  for (const Kind& k : kinds)
    if (Is(name, k.name)) return &k;
  return nullptr;
}

Form::Form(std::string layoutFile, ClickHandlers clicks)
    : layoutFile_(std::move(layoutFile)), clicks_(std::move(clicks)) {}

Form::~Form() {
  if (hwnd_) {
    for (auto& item : items_)
      if (item->button) item->button->Remove();
    DestroyWindow(hwnd_);
  }
}

Form* Form::FromWindow(HWND hwnd) {
  wchar_t cls[32] = {};
  if (!hwnd || !GetClassNameW(hwnd, cls, 32) || wcscmp(cls, kFormClass) != 0) return nullptr;
  return reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void Form::Load(HWND owner) {
  if (hwnd_) return;
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kFormClass;
    return RegisterClassExW(&wc);
  }();
  (void)atom;
  if (layout_.formName.empty()) layout_ = ParseLayout(ResourceFile(layoutFile_));
  CheckClickHandlers();
  VELMORA_MARK("layout read", layout_.formName);
  const LayoutControl& f = layout_.form;

  const std::string border = f.Text("Border", "Sizable");
  DWORD style = WS_CAPTION | WS_SYSMENU;
  DWORD exStyle = WS_EX_CONTROLPARENT;
  if (Is(border, "Sizable")) style = WS_OVERLAPPEDWINDOW;
  else if (Is(border, "Fixed")) style |= WS_MINIMIZEBOX;
  else if (Is(border, "Tool")) exStyle |= WS_EX_TOOLWINDOW;

  const LayoutSetting* size = f.Find("ClientSize");
  RECT r{0, 0, TwipsToPixelsX(size ? static_cast<int>(LayoutNumber(size->values.at(0))) : 4800),
         TwipsToPixelsY(size && size->values.size() > 1 ? static_cast<int>(LayoutNumber(size->values[1])) : 3600)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  const int width = r.right - r.left, height = r.bottom - r.top;
  int x = 0, y = 0;
  const std::string start = f.Text("StartUpPosition", "Manual");
  RECT around{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (Is(start, "CenterOwner") && owner) GetWindowRect(owner, &around);
  if (!Is(start, "Manual")) {
    x = around.left + (around.right - around.left - width) / 2;
    y = around.top + (around.bottom - around.top - height) / 2;
  }

  backColour_ = ColourOf(f.Number("BackColor", 0x80000005));
  background_ = CreateSolidBrush(backColour_);
  hwnd_ = CreateWindowExW(exStyle, kFormClass, Utf8ToWide(f.Text("Caption")).c_str(), style, x, y, width, height,
                          owner, nullptr, GetModuleHandleW(nullptr), this);
  if (!hwnd_) RaiseSystemError(GetLastError());
  VELMORA_MARK("window made", layout_.formName);
  const std::string icon = f.Text("Icon");
  if (!icon.empty()) {
    iconBig_ = IconFromFile(icon, GetSystemMetrics(SM_CXICON));
    iconSmall_ = IconFromFile(icon, GetSystemMetrics(SM_CXSMICON));
    // The small one first: a window given only a big icon makes itself a
    // small copy of it, which the small icon would then replace.
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall_));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig_));
  }
  VELMORA_MARK("window icons", layout_.formName);
  CreateControls();
  Form_Load();
  VELMORA_MARK("Form_Load done", layout_.formName);
}

// A window whose click handlers and layout disagree is the developer's
// fault, found here before anything of the window is made: a button or a
// link that does nothing when clicked, or a handler that never runs.
void Form::CheckClickHandlers() const {
  std::string faults;
  auto fault = [&](const std::string& text) { faults += (faults.empty() ? "" : "; ") + text; };
  for (const LayoutControl& c : layout_.controls) {
    const Kind* kind = KindNamed(c.kind);
    const bool needsHandler = kind && (kind->needsHandler || (kind->label && c.Flag("Link")));
    if (!needsHandler) continue;
    const bool handled =
        std::any_of(clicks_.begin(), clicks_.end(), [&](const ClickHandler& h) { return h.control == c.name; });
    if (!handled) fault(c.name + " has no click handler");
  }
  for (const ClickHandler& h : clicks_) {
    const bool found = std::any_of(layout_.controls.begin(), layout_.controls.end(),
                                   [&](const LayoutControl& c) { return c.name == h.control; });
    if (!found) fault("the click handler " + h.control + " has no control");
  }
  if (!faults.empty()) Raise(RuntimeError::kInvalidCall, "Velmora", layoutFile_ + ": " + faults);
}

void Form::Click(const std::string& control) {
  for (const ClickHandler& h : clicks_) {
    if (h.control != control) continue;
    h.run();
    return;
  }
}

void Form::CreateControls() {
  for (const LayoutControl& c : layout_.controls) CreateOne(c);
}

void Form::CreateOne(const LayoutControl& c) {
  const Kind* kind = KindNamed(c.kind);
  if (!kind) Raise(RuntimeError::kInvalidCall, "Velmora", "Unknown control kind " + c.kind);
  auto item = std::make_unique<Item>();
  Item& it = *item;
  it.name = c.name;
  it.kind = kind;
  it.id = kFirstId + static_cast<int>(items_.size());
  it.twips = {c.left, c.top, c.left + c.width, c.top + c.height};
  it.design = it.twips;
  it.fore = ColourOf(c.Number("ForeColor", 0x80000012));
  if (const LayoutSetting* font = c.Find("Font")) {
    it.font = MakeFont(font->values);
    fonts_.push_back(it.font);
  }
  const std::string pointer = c.Text("MousePointer");
  if (!pointer.empty()) it.cursor = CursorFromFile(pointer);
  (this->*kind->make)(it, c);
  if (it.hwnd && !it.button)
    SendMessageW(it.hwnd, WM_SETFONT,
                 reinterpret_cast<WPARAM>(it.font ? it.font : GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  if (kind->label) {
    VELMORA_MARK("  label made");
    FitLabel(it);
  }
  items_.push_back(std::move(item));
  VELMORA_MARK("control", c.name);
}

void Form::MakeChild(Item& it, const LayoutControl& c, const wchar_t* cls, DWORD style, DWORD exStyle, int height) {
  const int x = TwipsToPixelsX(c.left), y = TwipsToPixelsY(c.top);
  const int w = TwipsToPixelsX(c.width), h = TwipsToPixelsY(c.height);
  const std::wstring caption = Utf8ToWide(c.Text("Caption"));
  const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  it.hwnd = CreateWindowExW(exStyle, cls, caption.c_str(), child | style, x, y, w, height < 0 ? h : height, hwnd_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(it.id)), GetModuleHandleW(nullptr), nullptr);
  if (!it.hwnd) RaiseSystemError(GetLastError());
}

void Form::MakeLabel(Item& it, const LayoutControl& c) {
  const std::string align = c.Text("Alignment", "Left");
  MakeChild(it, c, L"STATIC", SS_NOTIFY | (Is(align, "Center") ? SS_CENTER : Is(align, "Right") ? SS_RIGHT : SS_LEFT));
  it.autoSize = c.Flag("AutoSize");
  if (c.Flag("Link")) MakeLinkLabel(it.hwnd);
}

void Form::MakeTextBox(Item& it, const LayoutControl& c) {
  DWORD style = WS_TABSTOP | ES_AUTOHSCROLL;
  if (c.Flag("MultiLine")) style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  const std::string bars = c.Text("ScrollBars", "None");
  if (Is(bars, "Both") || Is(bars, "Vertical")) style |= WS_VSCROLL;
  if (Is(bars, "Both") || Is(bars, "Horizontal")) style |= WS_HSCROLL;
  MakeChild(it, c, L"EDIT", style, WS_EX_CLIENTEDGE);
  SendMessageW(it.hwnd, EM_SETLIMITTEXT, 0, 0);
}

void Form::MakeCheckBox(Item& it, const LayoutControl& c) {
  MakeChild(it, c, L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE);
}

void Form::MakeCommandButton(Item& it, const LayoutControl& c) {
  if (c.Flag("Default")) it.id = IDOK;
  if (c.Flag("Cancel")) it.id = IDCANCEL, it.cancel = true;
  MakeChild(it, c, L"BUTTON", WS_TABSTOP | (c.Flag("Default") ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON));
}

void Form::MakeComboList(Item& it, const LayoutControl& c) {
  // The height of a drop-down list counts its open list too.
  MakeChild(it, c, L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, TwipsToPixelsY(c.height) * 8);
}

void Form::MakePictureBox(Item& it, const LayoutControl& c) {
  const int x = TwipsToPixelsX(c.left), y = TwipsToPixelsY(c.top);
  const int w = TwipsToPixelsX(c.width), h = TwipsToPixelsY(c.height);
  it.hwnd = CreatePictureBox(hwnd_, RECT{x, y, x + w, y + h}, it.id);
}

void Form::MakeImage(Item& it, const LayoutControl& c) {
  const std::string picture = c.Text("Picture");
  const std::size_t dot = picture.rfind('.');
  if (dot != std::string::npos && Is(picture.substr(dot), ".ico"))
    it.icon = IconFromFile(picture, std::min(TwipsToPixelsX(c.width), TwipsToPixelsY(c.height)));
  else if (!picture.empty()) it.bitmap = BitmapFromFile(picture);
}

void Form::MakeQuillon(Item& it, const LayoutControl& c) {
  it.button = std::make_unique<Button>();
  it.listener = std::make_unique<Listener>(hwnd_, static_cast<int>(items_.size()));
  ComPtr<PropertyBag> bag = BagOf(c);
  const HRESULT hr = Button::Place(hwnd_, it.twips, bag.Get(), it.listener.get(), *it.button);
  if (FAILED(hr))
    RaiseRuntime(HRESULT_FACILITY(hr) == FACILITY_CONTROL ? HRESULT_CODE(hr) : RuntimeError::kCantCreateObject);
  it.hwnd = it.button->Window();
  // The button's window carries the caption it shows, for screen readers
  // and anything else that asks a window for its text; a button with a
  // picture only is named by its layout.
  std::string text = c.Text("WindowText");
  for (const LayoutSetting& s : c.bag)
    if (text.empty() && Is(s.name, "buttoncaption") && s.values.size() > 1) text = s.values[1];
  if (!text.empty()) SetWindowTextW(it.hwnd, Utf8ToWide(text).c_str());
}

Form::Item* Form::Find(std::string_view name) const {
  for (const auto& item : items_)
    if (_stricmp(item->name.c_str(), std::string(name).c_str()) == 0) return item.get();
  constexpr int32_t kControlNotFound = 730;
  Raise(kControlNotFound, "Velmora", "Control '" + std::string(name) + "' not found");
}

Form::Item* Form::FindWindow(HWND child) const {
  for (const auto& item : items_)
    if (item->hwnd && item->hwnd == child) return item.get();
  return nullptr;
}

HWND Form::Control(std::string_view name) const { return Find(name)->hwnd; }

Button& Form::Quillon(std::string_view name) {
  Item* item = Find(name);
  if (!item->button) RaiseRuntime(RuntimeError::kNoSuchMember);
  return *item->button;
}

void Form::FitLabel(Item& it) {
  const std::wstring text = WindowText(it.hwnd);
  const HGDIOBJ labelFont = it.font ? it.font : GetStockObject(DEFAULT_GUI_FONT);
  if (it.autoSize) {
    SIZE extent{};
    {
      MemoryDC dc(nullptr);  // measures as the label's own would
      Selection font(dc, labelFont);
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    }
    it.twips.right = it.twips.left + PixelsToTwipsX(extent.cx);
    it.twips.bottom = it.twips.top + PixelsToTwipsY(extent.cy);
    SetWindowPos(it.hwnd, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  // Twips scale with the DPI, a font's pixels not quite: at 120 or 144 dots
  // per inch a text that fits its place at 96 may need more. The label then
  // grows (never below its place) so that no text is cut: wider for a word
  // longer than the line, after its alignment, and taller for another line.
  const LONG_PTR style = GetWindowLongPtrW(it.hwnd, GWL_STYLE);
  const UINT prefix = (style & SS_NOPREFIX) || (style & WS_TABSTOP) ? DT_NOPREFIX : 0;
  int x = TwipsToPixelsX(it.design.left), y = TwipsToPixelsY(it.design.top);
  int w = TwipsToPixelsX(it.design.right) - x, h = TwipsToPixelsY(it.design.bottom) - y;
  RECT need{0, 0, w, 0};
  {
    MemoryDC dc(nullptr);
    Selection font(dc, labelFont);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_WORDBREAK | prefix);
    if (need.right > w) {
      const int more = need.right - w;
      if ((style & SS_TYPEMASK) == SS_CENTER) x -= more / 2;
      else if ((style & SS_TYPEMASK) == SS_RIGHT) x -= more;
      w = need.right;
      need = {0, 0, w, 0};
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_WORDBREAK | prefix);
    }
  }
  h = std::max<int>(h, need.bottom);
  const RECT now{TwipsToPixelsX(it.twips.left), TwipsToPixelsY(it.twips.top), TwipsToPixelsX(it.twips.right),
                 TwipsToPixelsY(it.twips.bottom)};
  if (now.left == x && now.top == y && now.right == x + w && now.bottom == y + h) return;
  it.twips = x == TwipsToPixelsX(it.design.left) && w == TwipsToPixelsX(it.design.right) - x &&
                     h == TwipsToPixelsY(it.design.bottom) - y
                 ? it.design
                 : RECT{PixelsToTwipsX(x), PixelsToTwipsY(y), PixelsToTwipsX(x + w), PixelsToTwipsY(y + h)};
  SetWindowPos(it.hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::SetText(std::string_view name, const std::string& text) {
  Item* it = Find(name);
  if (it->button) {
    it->button->SetCaption(text);
    SetWindowTextW(it->hwnd, Utf8ToWide(text).c_str());
    return;
  }
  if (!it->hwnd) RaiseRuntime(RuntimeError::kNoSuchMember);
  if (!SetWindowTextW(it->hwnd, Utf8ToWide(text).c_str())) RaiseSystemError(GetLastError());
  if (it->kind->label) {
    RECT before;
    GetWindowRect(it->hwnd, &before);
    FitLabel(*it);
    // A transparent label leaves its old text behind unless the window
    // underneath paints the place again, where it was and where it is.
    RECT r;
    GetWindowRect(it->hwnd, &r);
    UnionRect(&r, &r, &before);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    RedrawWindow(hwnd_, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

std::string Form::GetText(std::string_view name) const {
  Item* it = Find(name);
  if (!it->hwnd) RaiseRuntime(RuntimeError::kNoSuchMember);
  const std::wstring t = WindowText(it->hwnd);
  return WideToUtf8(t.data(), static_cast<int>(t.size()));
}

void Form::SetVisible(std::string_view name, bool visible) {
  Item* it = Find(name);
  it->visible = visible;
  if (it->hwnd) ShowWindow(it->hwnd, visible ? SW_SHOWNA : SW_HIDE);
  else InvalidateRect(hwnd_, nullptr, TRUE);
}

bool Form::IsVisible(std::string_view name) const {
  Item* it = Find(name);
  return it->hwnd ? IsWindowVisible(it->hwnd) != FALSE : it->visible;
}

RECT Form::Bounds(std::string_view name) const { return Find(name)->twips; }

void Form::Move(std::string_view name, int left, int top, int width, int height) {
  Item* it = Find(name);
  it->twips = it->design = {left, top, left + width, top + height};
  if (!it->hwnd) return;
  const int x = TwipsToPixelsX(left), y = TwipsToPixelsY(top), w = TwipsToPixelsX(width), h = TwipsToPixelsY(height);
  if (it->button) {
    if (auto place = it->button->ole.As<IOleInPlaceObject>(IID_IOleInPlaceObject)) {
      RECT r{x, y, x + w, y + h};
      place->SetObjectRects(&r, &r);
    }
  } else if (it->kind->make == &Form::MakePictureBox) {
    PlacePictureBox(it->hwnd, RECT{x, y, x + w, y + h});
  } else {
    // A negative size would be refused; the window then keeps no area at all.
    SetWindowPos(it->hwnd, nullptr, x, y, std::max(w, 0), std::max(h, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    if (it->kind->label && !it->autoSize) FitLabel(*it);
  }
}

void Form::SetCaption(const std::string& text) {
  if (!SetWindowTextW(hwnd_, Utf8ToWide(text).c_str())) RaiseSystemError(GetLastError());
}

void Form::Show() {
  ShowWindow(hwnd_, SW_SHOW);
  VELMORA_MARK("shown", layout_.formName);
  UpdateWindow(hwnd_);
  VELMORA_MARK("first paint", layout_.formName);
  SetForegroundWindow(hwnd_);
  if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) SetFocus(first);
  VELMORA_MARK("focus", layout_.formName);
}

bool Form::PreviewKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  return KeyDown(msg.hwnd, static_cast<int>(msg.wParam), ShiftState());
}

void Form::ShowModal(HWND owner) {
  if (!hwnd_) return;
  modalOwner_ = owner;
  if (owner) EnableWindow(owner, FALSE);
  Show();
  // WM_QUIT ends the program: it goes back to the queue for the main loop,
  // and the window goes.
  int code = 0;
  if (RunMessages([this] { return hwnd_ != nullptr; }, &Form::PreTranslate, &code) == LoopEnd::Quit) {
    PostQuitMessage(code);
    if (hwnd_) Unload();
  }
}

bool Form::PreTranslate(MSG& msg) {
  Form* target = msg.hwnd ? Form::FromWindow(GetAncestor(msg.hwnd, GA_ROOT)) : nullptr;
  if (!target) return false;
  if (target->PreviewKey(msg)) return true;
  return target->hwnd_ && IsDialogMessageW(target->hwnd_, &msg);
}

int RunMessageLoop() {
  int code = 0;
  return RunMessages([] { return true; }, &Form::PreTranslate, &code) == LoopEnd::Quit ? code : 1;
}

void Form::Unload() {
  if (!hwnd_) return;
  Form_Unload();
  for (auto& item : items_) {
    if (item->button) item->button->Remove();
    if (item->icon) DestroyIcon(item->icon);
    if (item->bitmap) DeleteObject(item->bitmap);
  }
  items_.clear();
  // The owner comes back before this window goes, so that it, not some
  // other program, is activated.
  if (modalOwner_) {
    EnableWindow(modalOwner_, TRUE);
    SetActiveWindow(modalOwner_);
    modalOwner_ = nullptr;
  }
  HWND gone = hwnd_;
  hwnd_ = nullptr;
  DestroyWindow(gone);
  for (HFONT f : fonts_) DeleteObject(f);
  fonts_.clear();
  if (background_) DeleteObject(background_);
  if (iconBig_) DestroyIcon(iconBig_);
  if (iconSmall_) DestroyIcon(iconSmall_);
  background_ = nullptr;
  iconBig_ = iconSmall_ = nullptr;
}

void Form::Paint(HDC dc) {
  // Images lie under every other control, as drawn pictures of the window.
  for (const auto& item : items_) {
    if (!item->visible || (!item->icon && !item->bitmap)) continue;
    const int x = TwipsToPixelsX(item->twips.left), y = TwipsToPixelsY(item->twips.top);
    if (item->icon) {
      DrawIconEx(dc, x, y, item->icon, 0, 0, 0, nullptr, DI_NORMAL);
    } else {
      // A picture fills its place, which the DPI makes larger than the
      // picture's own pixels.
      BITMAP bm{};
      GetObjectW(item->bitmap, sizeof bm, &bm);
      const int w = TwipsToPixelsX(item->twips.right) - x, h = TwipsToPixelsY(item->twips.bottom) - y;
      MemoryDC mem(dc);
      Selection picture(mem, item->bitmap);
      if (w == bm.bmWidth && h == bm.bmHeight) {
        BitBlt(dc, x, y, w, h, mem, 0, 0, SRCCOPY);
      } else {
        const int oldMode = SetStretchBltMode(dc, HALFTONE);
        POINT oldOrigin;
        SetBrushOrgEx(dc, 0, 0, &oldOrigin);  // HALFTONE wants it reset
        StretchBlt(dc, x, y, w, h, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
        SetStretchBltMode(dc, oldMode);
      }
    }
  }
}

LRESULT Form::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: return OnEraseBackground(reinterpret_cast<HDC>(wp));
    case WM_PAINT: OnPaint(); return 0;
    case WM_PRINTCLIENT: OnPrintClient(reinterpret_cast<HDC>(wp)); return 0;
    case WM_CTLCOLORSTATIC: return OnControlColour(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
    case WM_CTLCOLORBTN: return reinterpret_cast<LRESULT>(background_);
    case WM_SETCURSOR:
      if (OnSetCursor(reinterpret_cast<HWND>(wp), LOWORD(lp))) return TRUE;
      break;
    case WM_COMMAND:
      // Enter and Esc through the dialog keys come without a control.
      if (OnCommand(LOWORD(wp), HIWORD(wp), lp == 0)) return 0;
      break;
    case WM_QUILLON_CLICK: OnQuillonClick(wp); return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) KeepFocus();
      break;
    case WM_CANCELMODE: KeepFocus(); break;
    case WM_SETFOCUS: OnSetFocus(reinterpret_cast<HWND>(wp)); return 0;
    case WM_NEXTDLGCTL: OnNextControl(wp, lp); return 0;
    case WM_SIZE:
      // The first size change comes while the window is being made, before
      // its controls exist.
      if (!items_.empty()) Form_Resize();
      return 0;
    case WM_CLOSE: QueryClose(); return 0;
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT Form::OnEraseBackground(HDC dc) {
  RECT r;
  GetClientRect(hwnd_, &r);
  FillRect(dc, &r, background_);
  return 1;
}

void Form::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  Paint(dc);
  EndPaint(hwnd_, &ps);
}

void Form::OnPrintClient(HDC dc) {
  OnEraseBackground(dc);
  Paint(dc);
}

LRESULT Form::OnControlColour(HDC dc, HWND control) {
  Item* it = FindWindow(control);
  if (it && it->kind->label) {
    SetTextColor(dc, it->fore);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  SetBkColor(dc, backColour_);
  return reinterpret_cast<LRESULT>(background_);
}

bool Form::OnSetCursor(HWND over, UINT hitTest) {
  Item* it = FindWindow(over);
  if (!it || !it->cursor || hitTest != HTCLIENT) return false;
  SetCursor(it->cursor);
  return true;
}

bool Form::OnCommand(int id, int code, bool fromKeys) {
  for (const auto& item : items_) {
    if (item->id != id) continue;
    const Kind& kind = *item->kind;
    // A copy: the handler may unload the window and its controls.
    const std::string name = item->name;
    if (kind.clickCode >= 0 && (code == kind.clickCode || (kind.clickedByKeys && fromKeys))) Click(name);
    return true;
  }
  return false;
}

void Form::OnQuillonClick(std::size_t index) {
  if (index >= items_.size()) return;
  const std::string name = items_[index]->name;
  Click(name);
}

// The window keeps the focus of its controls as a dialog does: the control
// that had it when the window went inactive or was disabled (a modal window,
// a message box, the file dialog) gets it back when the window returns, and
// the window itself, which shows no focus, passes it on.
void Form::KeepFocus() {
  HWND focus = GetFocus();
  if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
}

void Form::OnSetFocus(HWND lost) {
  // A control that lost the focus to its window was hidden or disabled:
  // the next one in the tab order takes it.
  HWND to = nullptr;
  if (lost && IsChild(hwnd_, lost)) to = GetNextDlgTabItem(hwnd_, lost, FALSE);
  else if (lastFocus_ && IsChild(hwnd_, lastFocus_) && IsWindowVisible(lastFocus_) && IsWindowEnabled(lastFocus_))
    to = lastFocus_;
  if (!to) to = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (to && to != hwnd_) SetFocus(to);
}

// A multi-line text box moves the focus itself on Tab by asking its window,
// as it would ask a dialog.
void Form::OnNextControl(WPARAM wp, LPARAM lp) {
  const HWND to = LOWORD(lp) ? reinterpret_cast<HWND>(wp) : GetNextDlgTabItem(hwnd_, GetFocus(), wp != 0);
  if (to) SetFocus(to);
}

LRESULT CALLBACK Form::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->hwnd_ = hwnd;
  }
  Form* form = reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form || form->hwnd_ != hwnd) return DefWindowProcW(hwnd, msg, wp, lp);
  return form->OnMessage(msg, wp, lp);
}

}  // namespace velmora
