#include "windows/LinkLabel.h"

#include <oleacc.h>

#include <new>
#include <string>

#include "ComPtr.h"
#include "platform/win32/Win32Ports.h"
#include "windows/WinUtil.h"

namespace velmora {
namespace {

using quillon::ComPtr;

constexpr wchar_t kStateProp[] = L"VelmoraLink";

struct LinkState {
  WNDPROC staticProc = nullptr;
  bool spaceArmed = false;  // space went down here; its release opens the link
};

LinkState* StateOf(HWND hwnd) { return static_cast<LinkState*>(GetPropW(hwnd, kStateProp)); }

// What a click does: the window hears STN_CLICKED from the label.
void Open(HWND label, bool later) {
  const HWND parent = GetParent(label);
  const WPARAM wp = MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED);
  if (later) PostMessageW(parent, WM_COMMAND, wp, reinterpret_cast<LPARAM>(label));
  else SendMessageW(parent, WM_COMMAND, wp, reinterpret_cast<LPARAM>(label));
}

// The label is transparent: the window paints the place again under it,
// so that a focus rectangle drawn before does not stay.
void Repaint(HWND label) {
  RECT r;
  GetWindowRect(label, &r);
  const HWND parent = GetParent(label);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  RedrawWindow(parent, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Paint(HWND hwnd, HDC dc) {
  RECT client;
  GetClientRect(hwnd, &client);
  const Selection font(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
  // The window sets the colours, as it does for every label.
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
  if (brush) FillRect(dc, &client, brush);
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  const UINT align = (style & SS_TYPEMASK) == SS_CENTER  ? DT_CENTER
                     : (style & SS_TYPEMASK) == SS_RIGHT ? DT_RIGHT
                                                         : DT_LEFT;
  // An address may hold an ampersand: no access keys here.
  const UINT format = align | DT_WORDBREAK | DT_NOPREFIX;
  const std::wstring text = WindowText(hwnd);
  RECT r = client;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);

  const bool cuesHidden = (SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
  if (GetFocus() == hwnd && !cuesHidden) {
    RECT frame = client;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &frame, format | DT_CALCRECT);
    const LONG width = frame.right - frame.left;
    const LONG shift = align == DT_CENTER ? (client.right - width) / 2 : align == DT_RIGHT ? client.right - width : 0;
    OffsetRect(&frame, shift, 0);
    InflateRect(&frame, 1, 1);
    IntersectRect(&frame, &frame, &client);
    // Dotted like DrawFocusRect, but drawn rather than inverted: painting
    // the label twice over leaves it shown.
    LOGBRUSH colour{BS_SOLID, GetSysColor(COLOR_WINDOWTEXT), 0};
    const GdiObject pen(ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &colour, 0, nullptr));
    const Selection dotted(dc, pen.Get());
    const Selection hollow(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
  }
}

// ---------------------------------------------------------------- for screen readers

using CreateStdAccessibleObjectFn = decltype(&::CreateStdAccessibleObject);
using LresultFromObjectFn = decltype(&::LresultFromObject);

bool IsSelf(const VARIANT& child) { return V_VT(&child) == VT_I4 && V_I4(&child) == CHILDID_SELF; }

// The system's object for a window's client area, with the role, state and
// default action of a link and the label's text as its name; a label has no
// children to ask about. Everything else (parent, place, navigation, hit
// testing) is the system's.
class LinkAccessible final : public IAccessible, public IOleWindow {
 public:
  LinkAccessible(HWND hwnd, ComPtr<IAccessible> standard) : hwnd_(hwnd), standard_(std::move(standard)) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible))
      *out = static_cast<IAccessible*>(this);
    else if (iid == IID_IOleWindow) *out = static_cast<IOleWindow*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: the system object's late binding describes IAccessible.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override {
    return standard_->GetTypeInfo(index, lcid, out);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return standard_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* info, UINT* argErr) override {
    // Through the type information, so that late-bound calls reach the
    // answers of this object, not the system's.
    ComPtr<ITypeInfo> type;
    HRESULT hr = standard_->GetTypeInfo(0, lcid, type.Put());
    if (FAILED(hr)) return hr;
    return type->Invoke(static_cast<IAccessible*>(this), id, flags, params, result, info, argErr);
  }

  STDMETHODIMP get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
  STDMETHODIMP get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
  STDMETHODIMP get_accChild(VARIANT child, IDispatch** out) override { return standard_->get_accChild(child, out); }
  STDMETHODIMP get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!name) return E_POINTER;
    if (!IsWindow(hwnd_)) return CO_E_OBJNOTCONNECTED;
    *name = SysAllocString(WindowText(hwnd_).c_str());
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override { return standard_->get_accValue(child, value); }
  STDMETHODIMP get_accDescription(VARIANT child, BSTR* text) override {
    return standard_->get_accDescription(child, text);
  }
  STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!role) return E_POINTER;
    VariantInit(role);
    V_VT(role) = VT_I4;
    V_I4(role) = ROLE_SYSTEM_LINK;
    return S_OK;
  }
  STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!state) return E_POINTER;
    if (!IsWindow(hwnd_)) return CO_E_OBJNOTCONNECTED;
    LONG s = STATE_SYSTEM_LINKED | STATE_SYSTEM_FOCUSABLE;
    if (GetFocus() == hwnd_) s |= STATE_SYSTEM_FOCUSED;
    if (!IsWindowVisible(hwnd_)) s |= STATE_SYSTEM_INVISIBLE;
    if (!IsWindowEnabled(hwnd_)) s = (s & ~STATE_SYSTEM_FOCUSABLE) | STATE_SYSTEM_UNAVAILABLE;
    VariantInit(state);
    V_VT(state) = VT_I4;
    V_I4(state) = s;
    return S_OK;
  }
  STDMETHODIMP get_accHelp(VARIANT child, BSTR* help) override { return standard_->get_accHelp(child, help); }
  STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return standard_->get_accKeyboardShortcut(child, shortcut);
  }
  STDMETHODIMP get_accFocus(VARIANT* focus) override { return standard_->get_accFocus(focus); }
  STDMETHODIMP get_accSelection(VARIANT* selection) override { return standard_->get_accSelection(selection); }
  STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!action) return E_POINTER;
    *action = SysAllocString(kLinkAction);
    return *action ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP accSelect(LONG flags, VARIANT child) override { return standard_->accSelect(flags, child); }
  STDMETHODIMP accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  STDMETHODIMP accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  STDMETHODIMP accHitTest(LONG x, LONG y, VARIANT* child) override { return standard_->accHitTest(x, y, child); }
  STDMETHODIMP accDoDefaultAction(VARIANT child) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!IsWindow(hwnd_)) return CO_E_OBJNOTCONNECTED;
    if (!IsWindowEnabled(hwnd_)) return E_FAIL;
    // Posted: the screen reader's call returns before the browser starts.
    Open(hwnd_, true);
    return S_OK;
  }
  STDMETHODIMP put_accName(VARIANT child, BSTR name) override { return standard_->put_accName(child, name); }
  STDMETHODIMP put_accValue(VARIANT child, BSTR value) override { return standard_->put_accValue(child, value); }

  STDMETHODIMP GetWindow(HWND* hwnd) override {
    if (!hwnd) return E_POINTER;
    *hwnd = hwnd_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 private:
  ~LinkAccessible() = default;

  LONG refs_ = 1;
  HWND hwnd_;
  ComPtr<IAccessible> standard_;
};

// The answer to WM_GETOBJECT for the client area. oleacc.dll is not always
// taken from the system folder, so it comes from there by its full path,
// and only when something asks.
LRESULT AccessibleAnswer(HWND hwnd, WPARAM wp, bool& answered) {
  answered = false;
  try {
    const auto create = VELMORA_SYSTEM_FUNCTION(L"oleacc.dll", CreateStdAccessibleObject);
    const auto lresult = VELMORA_SYSTEM_FUNCTION(L"oleacc.dll", LresultFromObject);
    ComPtr<IAccessible> standard;
    if (FAILED(create(hwnd, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(standard.Put()))) ||
        !standard)
      return 0;
    auto* made = new (std::nothrow) LinkAccessible(hwnd, standard);
    if (!made) return 0;
    ComPtr<IAccessible> object = ComPtr<IAccessible>::Adopt(made);
    const LRESULT result = lresult(__uuidof(IAccessible), wp, object.Get());
    answered = result > 0;  // a failure comes back as a negative HRESULT
    return result;
  } catch (...) {
    // Without oleacc the system's own answer is all there is.
    return 0;
  }
}

LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  LinkState* state = StateOf(hwnd);
  if (!state) return DefWindowProcW(hwnd, msg, wp, lp);
  const WNDPROC base = state->staticProc;
  switch (msg) {
    case WM_GETDLGCODE: {
      // Enter is the link's own; the window's dialog keys would take it.
      LRESULT code = CallWindowProcW(base, hwnd, msg, wp, lp);
      const auto* m = reinterpret_cast<const MSG*>(lp);
      if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_KEYDOWN:
      if (wp == VK_RETURN) {
        Open(hwnd, false);
        return 0;
      }
      if (wp == VK_SPACE) {
        state->spaceArmed = true;
        return 0;
      }
      break;
    case WM_KEYUP:
      // Space opens on its release, as it presses a push button.
      if (wp == VK_SPACE && state->spaceArmed) {
        state->spaceArmed = false;
        Open(hwnd, false);
        return 0;
      }
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      state->spaceArmed = false;
      CallWindowProcW(base, hwnd, msg, wp, lp);
      Repaint(hwnd);
      return 0;
    case WM_UPDATEUISTATE:
      CallWindowProcW(base, hwnd, msg, wp, lp);
      Repaint(hwnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      Paint(hwnd, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(hwnd, reinterpret_cast<HDC>(wp));
      return 0;
    case WM_GETOBJECT:
      if (static_cast<LONG>(lp) == static_cast<LONG>(OBJID_CLIENT)) {
        bool answered = false;
        const LRESULT result = AccessibleAnswer(hwnd, wp, answered);
        if (answered) return result;
      }
      break;
    case WM_NCDESTROY: {
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(base));
      RemovePropW(hwnd, kStateProp);
      delete state;
      return CallWindowProcW(base, hwnd, msg, wp, lp);
    }
    default:
      break;
  }
  return CallWindowProcW(base, hwnd, msg, wp, lp);
}

}  // namespace

void MakeLinkLabel(HWND label) {
  if (!label || StateOf(label)) return;
  auto* state = new LinkState;
  state->staticProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(label, GWLP_WNDPROC));
  if (!SetPropW(label, kStateProp, state)) {
    delete state;
    return;
  }
  SetWindowLongPtrW(label, GWL_STYLE, GetWindowLongPtrW(label, GWL_STYLE) | WS_TABSTOP);
  SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LinkProc));
}

}  // namespace velmora
