// The button's window: its class, its making at in-place activation, the
// timer of the hover look, and the messages it handles, each by a handler of
// its own name.
#include "Quillon.h"

#include <windowsx.h>

#include "QuillonInternal.h"
#include "SettingsListener.h"

namespace quillon {
namespace {

constexpr wchar_t kWindowClass[] = L"Quillon2.Button";
constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT kHoverInterval = 5;  // ms

ATOM g_windowClass = 0;

ATOM ButtonClass(WNDPROC proc) {
  if (!g_windowClass) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = ModuleHandle();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kWindowClass;
    g_windowClass = RegisterClassExW(&wc);
  }
  return g_windowClass;
}

}  // namespace

void UnregisterButtonClass() {
  if (g_windowClass) UnregisterClassW(kWindowClass, ModuleHandle());
  g_windowClass = 0;
  UnregisterListenerClass();
}

HRESULT Quillon::ActivateInPlace(IOleClientSite* site, HWND parent, LPCRECT posRect) {
  if (hwnd_) {
    if (posRect) SetObjectRects(posRect, nullptr);
    return S_OK;
  }
  ComPtr<IOleInPlaceSite> ipSite;
  if (site) site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(ipSite.Put()));
  if (ipSite && ipSite->CanInPlaceActivate() != S_OK) return E_FAIL;
  if (!parent && ipSite) ipSite->GetWindow(&parent);
  RECT rect{};
  if (posRect) {
    rect = *posRect;
  } else if (ipSite) {
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> doc;
    RECT clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    ipSite->GetWindowContext(frame.Put(), doc.Put(), &rect, &clip, &info);
  }
  if (!parent) return E_INVALIDARG;
  if (!ButtonClass(&Quillon::WindowProc)) return HRESULT_FROM_WIN32(GetLastError());
  const DWORD tabStop = model_.State().enabled == kTrue ? WS_TABSTOP : 0;
  // Made visible at once: every verb that activates the button shows it, and
  // a window shown afterwards costs one more round of moving messages.
  HWND hwnd = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | tabStop | WS_CLIPSIBLINGS, rect.left,
                              rect.top, rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                              ModuleHandle(), this);
  if (!hwnd) return HRESULT_FROM_WIN32(GetLastError());
  ButtonWindowMade(hwnd, model_.HighContrast());
  if (ipSite) {
    ipSite->OnInPlaceActivate();
    inPlaceSite_ = ipSite;
  }
  // The timer was running since the button was made; it ticks from now on.
  if (model_.TimerRunning()) SetTimerRunning(true);
  return S_OK;
}

bool Quillon::CursorIsOverButton() {
  POINT p;
  return hwnd_ && GetCursorPos(&p) && WindowFromPoint(p) == hwnd_;
}

void Quillon::SetTimerRunning(bool running) {
  if (!hwnd_) return;
  if (running) {
    timerSet_ = SetTimer(hwnd_, kHoverTimer, kHoverInterval, nullptr) != 0;
  } else if (timerSet_) {
    KillTimer(hwnd_, kHoverTimer);
    timerSet_ = false;
  }
}

void Quillon::Redraw() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

LRESULT CALLBACK Quillon::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Quillon*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (msg == WM_NCDESTROY) ButtonWindowGone(hwnd);
  auto* self = reinterpret_cast<Quillon*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->timerSet_ = false;
    // What a client still holds describes a window that is gone.
    if (self->accessible_) {
      self->accessible_->Detach();
      self->accessible_.Reset();
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  return self->OnMessage(msg, wp, lp);
}

LRESULT Quillon::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE: OnSize(LOWORD(lp), HIWORD(lp)); return 0;
    case WM_ERASEBKGND: return 1;  // all painting is done at once, off screen
    case WM_PAINT: OnPaint(); return 0;
    case WM_PRINTCLIENT: Paint(reinterpret_cast<HDC>(wp)); return 0;
    case WM_MOUSEMOVE: OnMouseMove(wp, GET_X_LPARAM(lp), GET_Y_LPARAM(lp)); return 0;
    case WM_LBUTTONDOWN: OnButtonDown(); return 0;
    case WM_LBUTTONUP: OnButtonUp(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}); return 0;
    case WM_CAPTURECHANGED: pressed_ = false; return 0;
    case WM_GETDLGCODE: return DialogCode(reinterpret_cast<const MSG*>(lp));
    case WM_CHAR: OnChar(static_cast<int>(wp)); return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      if (wp != VK_SPACE) break;
      OnSpace(msg == WM_KEYDOWN);
      return 0;
    case kDefaultActionMessage: OnDefaultAction(); return 0;
    case WM_GETOBJECT:
      if (LRESULT object = 0; OnGetObject(wp, lp, &object)) return object;
      break;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case kSettingsChangedMessage: OnSettingsChanged(); return 0;
    case kMakeListenerMessage: MakeListener(); return 0;
    case WM_SETFOCUS: OnFocus(true); return 0;
    case WM_KILLFOCUS: OnFocus(false); return 0;
    case WM_TIMER: OnTimer(wp); return 0;
    case WM_DESTROY: SetTimerRunning(false); return 0;
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

void Quillon::OnSize(int width, int height) {
  // However the window was sized, the extent follows it.
  extent_.cx = MulDiv(width, 2540, dpiX_);
  extent_.cy = MulDiv(height, 2540, dpiY_);
  model_.Resize(TwipsX(width), TwipsY(height));
}

void Quillon::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  Paint(dc);
  EndPaint(hwnd_, &ps);
}

void Quillon::OnMouseMove(WPARAM keys, int x, int y) {
  int16_t button = 0, shift = 0;
  if (keys & MK_LBUTTON) button |= 1;
  if (keys & MK_RBUTTON) button |= 2;
  if (keys & MK_MBUTTON) button |= 4;
  if (keys & MK_SHIFT) shift |= 1;
  if (keys & MK_CONTROL) shift |= 2;
  if (GetKeyState(VK_MENU) < 0) shift |= 4;
  const HitResult hit = model_.HitTest(TwipsX(x), TwipsY(y));
  ComPtr<Quillon> self(this);
  model_.MouseMove(button, shift, hit.x, hit.y);
}

void Quillon::OnButtonDown() {
  if (GetFocus() != hwnd_) SetFocus(hwnd_);
  SetCapture(hwnd_);
  pressed_ = true;
}

void Quillon::OnButtonUp(POINT at) {
  const bool wasPressed = pressed_;
  pressed_ = false;
  if (GetCapture() == hwnd_) ReleaseCapture();
  RECT client;
  GetClientRect(hwnd_, &client);
  // A press that is dragged off the button and let go elsewhere is
  // no click, as with any push button.
  if (wasPressed && PtInRect(&client, at)) {
    ComPtr<Quillon> self(this);
    model_.ClickRoutine();
  }
}

LRESULT Quillon::DialogCode(const MSG* m) const {
  // Characters are ours (Enter clicks); a dialog manager must not
  // turn Enter into its default button while we have the focus.
  LRESULT code = DLGC_WANTCHARS;
  if (m && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && m->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
  return code;
}

void Quillon::OnChar(int character) {
  ComPtr<Quillon> self(this);
  model_.KeyPress(character);
}

void Quillon::OnSpace(bool down) {
  if (down) {
    model_.SpaceDown();
    return;
  }
  ComPtr<Quillon> self(this);
  model_.SpaceUp();
}

void Quillon::OnDefaultAction() {
  // As a click of the mouse: the focus first, then the Click event.
  ComPtr<Quillon> self(this);
  if (GetFocus() != hwnd_) SetFocus(hwnd_);
  model_.ClickRoutine();
}

bool Quillon::OnGetObject(WPARAM wp, LPARAM lp, LRESULT* result) {
  // The client area is the button; the window's own object stays the system's.
  if (static_cast<LONG>(static_cast<DWORD>(lp)) != OBJID_CLIENT) return false;
  if (!accessible_ && FAILED(ButtonAccessible::Create(*this, accessible_))) accessible_.Reset();
  if (!accessible_) return false;
  *result = accessible_->Result(wp);
  return true;
}

void Quillon::OnSettingsChanged() {
  // The high-contrast setting may have changed, and with new system
  // colours every look that uses them paints anew.
  ReadHighContrast();
}

void Quillon::OnFocus(bool gained) {
  if (gained) model_.FocusGained();
  else model_.FocusLost();
  if (auto control = site_.As<IOleControlSite>(IID_IOleControlSite)) control->OnFocus(gained ? TRUE : FALSE);
  if (gained) Announce(EVENT_OBJECT_FOCUS);
}

void Quillon::OnTimer(UINT_PTR id) {
  if (id != kHoverTimer) return;
  ComPtr<Quillon> self(this);
  model_.TimerTick();
}

}  // namespace quillon
