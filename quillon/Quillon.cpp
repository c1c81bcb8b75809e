#include "Quillon.h"

#include "CriticalSection.h"
#include "windows/WinUtil.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

using velmora::GdiObject;
using velmora::MemoryDC;
using velmora::Selection;
using velmora::WindowDC;

namespace {

constexpr wchar_t kWindowClass[] = L"Quillon2.Button";
constexpr wchar_t kListenerClass[] = L"Quillon2.SettingsListener";
constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT kHoverInterval = 5;  // ms
// Posted by accDoDefaultAction: the press comes from the message loop, so an
// assistive program's call never waits for what a Click handler does.
constexpr UINT kDefaultActionMessage = WM_USER + 1;
// From the settings listener: the system's settings or colours have changed.
constexpr UINT kSettingsChangedMessage = WM_USER + 2;

constexpr int32_t kErrInvalidPicture = 481;

ATOM g_windowClass = 0;
ATOM g_listenerClass = 0;

CY Points(double points) {
  CY cy;
  cy.int64 = static_cast<LONGLONG>(std::llround(points * 10000.0));
  return cy;
}

std::u16string FromBstr(BSTR s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s ? s : L""), s ? SysStringLen(s) : 0);
}

BSTR ToBstr(const std::u16string& s) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

COLORREF Resolve(Colour c) {
  if (c & 0x80000000u) return GetSysColor(static_cast<int>(c & 0xFFFFu));
  return c & 0x00FFFFFFu;
}

// A bag answers E_INVALIDARG for a name it does not hold.
bool Missing(HRESULT hr) { return hr == E_INVALIDARG; }

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

// ---------------------------------------------------------------- settings listener

// The system tells top-level windows of a new high-contrast setting or new
// system colours, never child windows such as a button's. One hidden
// top-level window of the library hears it for every button window there is,
// so that buttons follow the setting whether their host passes it on or not.
CriticalSection g_liveLock;
std::vector<HWND> g_liveButtons;
HWND g_listener = nullptr;

LRESULT CALLBACK ListenerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE: {
      g_liveLock.Enter();
      const std::vector<HWND> buttons = g_liveButtons;
      g_liveLock.Leave();
      // A message of our own: the system's carries a text that would not
      // outlive the call for a button of another thread, and is refused
      // for one.
      for (HWND button : buttons) SendNotifyMessageW(button, kSettingsChangedMessage, 0, 0);
      return 0;
    }
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    default: return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

void ButtonWindowMade(HWND button) {
  g_liveLock.Enter();
  g_liveButtons.push_back(button);
  const bool listening = g_listener && IsWindow(g_listener);
  g_liveLock.Leave();
  if (listening) return;
  if (!g_listenerClass) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ListenerProc;
    wc.hInstance = ModuleHandle();
    wc.lpszClassName = kListenerClass;
    g_listenerClass = RegisterClassExW(&wc);
  }
  // Never shown: a hidden pop-up still gets the broadcasts, which a
  // message-only window would not.
  HWND made = CreateWindowExW(WS_EX_TOOLWINDOW, kListenerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              ModuleHandle(), nullptr);
  g_liveLock.Enter();
  g_listener = made;
  g_liveLock.Leave();
}

void ButtonWindowGone(HWND button) {
  HWND listener = nullptr;
  g_liveLock.Enter();
  g_liveButtons.erase(std::remove(g_liveButtons.begin(), g_liveButtons.end(), button), g_liveButtons.end());
  if (g_liveButtons.empty()) std::swap(listener, g_listener);
  g_liveLock.Leave();
  if (!listener) return;
  // Only its own thread may destroy a window.
  if (GetWindowThreadProcessId(listener, nullptr) == GetCurrentThreadId()) DestroyWindow(listener);
  else PostMessageW(listener, WM_CLOSE, 0, 0);
}

bool SystemHighContrast() {
  HIGHCONTRASTW setting{};
  setting.cbSize = sizeof setting;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
         (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

}  // namespace

void UnregisterButtonClass() {
  if (g_windowClass) UnregisterClassW(kWindowClass, ModuleHandle());
  g_windowClass = 0;
  if (g_listenerClass) UnregisterClassW(kListenerClass, ModuleHandle());
  g_listenerClass = 0;
}

// ---------------------------------------------------------------- lifetime

Quillon::Quillon() : model_(*this), events_(*this, DIID___Quillon), propertyNotify_(*this, IID_IPropertyNotifySink) {
  dpiX_ = velmora::ScreenDpiX();
  dpiY_ = velmora::ScreenDpiY();
  twipsPerPixelX_ = 1440.0f / static_cast<float>(dpiX_);
  twipsPerPixelY_ = 1440.0f / static_cast<float>(dpiY_);
  extent_.cx = MulDiv(std::lround(kNewWidth / twipsPerPixelX_), 2540, dpiX_);
  extent_.cy = MulDiv(std::lround(kNewHeight / twipsPerPixelY_), 2540, dpiY_);
}

Quillon::~Quillon() {
  if (accessible_) accessible_->Detach();
  if (hwnd_) {
    // Nothing may reach a button that is going away.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (captionHFont_) DeleteObject(captionHFont_);
}

HRESULT Quillon::Create(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  Quillon* q = new (std::nothrow) Quillon();
  if (!q) return E_OUTOFMEMORY;
  HRESULT hr = q->Initialise();
  if (SUCCEEDED(hr)) hr = q->QueryInterface(iid, out);
  q->Release();
  return hr;
}

HRESULT Quillon::Initialise() {
  ReadHighContrast();

  // lblCaption's own font: "MS Sans Serif", 12 points.
  FONTDESC desc{sizeof desc, const_cast<LPOLESTR>(L"MS Sans Serif"), Points(12), FW_NORMAL, ANSI_CHARSET, FALSE, FALSE,
                FALSE};
  HRESULT hr;
  if (FAILED(hr = OleCreateFontIndirect(&desc, IID_IFont, reinterpret_cast<void**>(captionFont_.Put())))) return hr;
  RebuildCaptionFont();

  // The start-up writes every value through its property, so that each
  // side effect runs.
  ComPtr<IFontDisp> font;
  if (FAILED(hr = NewDefaultFont(font))) return hr;
  if (auto f = font.As<IFont>()) f->put_Size(Points(12));
  BSTR caption = SysAllocString(L"Quillon");
  hr = put_ButtonCaption(caption);
  SysFreeString(caption);
  if (FAILED(hr)) return hr;
  put_ButtonBackColor(0x80000005);
  put_ButtonForm(gerundetesRechteck);
  put_ButtonPictureAlign(Links);
  put_ButtonTextAlign(Links);
  put_ButtonPictureStretch(VARIANT_TRUE);
  putref_ButtonFont(font.Get());
  put_ButtonEnabled(VARIANT_TRUE);
  return S_OK;
}

STDMETHODIMP Quillon::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Quillon) *out = static_cast<_Quillon*>(this);
  else if (iid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
  else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) *out = static_cast<IOleInPlaceObject*>(this);
  else if (iid == IID_IOleControl) *out = static_cast<IOleControl*>(this);
  else if (iid == IID_IConnectionPointContainer) *out = static_cast<IConnectionPointContainer*>(this);
  else if (iid == IID_IPersist || iid == IID_IPersistPropertyBag) *out = static_cast<IPersistPropertyBag*>(this);
  else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) *out = static_cast<IProvideClassInfo2*>(this);
  else if (iid == IID_ISupportErrorInfo) *out = static_cast<ISupportErrorInfo*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Quillon::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) Quillon::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return left;
}

// ---------------------------------------------------------------- IDispatch

// Reading the type library takes longer than making the rest of a button,
// and a host that writes its buttons' captions and states never needs it.
HRESULT Quillon::LoadTypeInfo() {
  if (typeInfo_ && classInfo_) return S_OK;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(ModuleHandle(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return HRESULT_FROM_WIN32(GetLastError());
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, lib.Put());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info, classInfo;
  if (FAILED(hr = lib->GetTypeInfoOfGuid(IID__Quillon, info.Put()))) return hr;
  if (FAILED(hr = lib->GetTypeInfoOfGuid(CLSID_Quillon, classInfo.Put()))) return hr;
  typeInfo_ = std::move(info);
  classInfo_ = std::move(classInfo);
  return S_OK;
}

STDMETHODIMP Quillon::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP Quillon::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  if (const HRESULT hr = LoadTypeInfo(); FAILED(hr)) return hr;
  typeInfo_.CopyTo(out);
  return S_OK;
}

STDMETHODIMP Quillon::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (const HRESULT hr = LoadTypeInfo(); FAILED(hr)) return hr;
  return typeInfo_->GetIDsOfNames(names, count, ids);
}

bool Quillon::InvokeDirect(DISPID id, WORD flags, DISPPARAMS* params, EXCEPINFO* excepInfo, HRESULT* result) {
  if (flags != DISPATCH_PROPERTYPUT || !params || params->cArgs != 1 || params->cNamedArgs != 1 ||
      !params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || !params->rgvarg)
    return false;
  const VARIANT& v = params->rgvarg[0];
  HRESULT hr;
  if (id == QUILLON_DISPID_BUTTONCAPTION && V_VT(&v) == VT_BSTR) hr = put_ButtonCaption(V_BSTR(&v));
  else if (id == QUILLON_DISPID_BUTTONENABLED && V_VT(&v) == VT_BOOL) hr = put_ButtonEnabled(V_BOOL(&v));
  else if (id == QUILLON_DISPID_BUTTONPICTURESTRETCH && V_VT(&v) == VT_BOOL) hr = put_ButtonPictureStretch(V_BOOL(&v));
  else if (id == QUILLON_DISPID_BUTTONFORM && V_VT(&v) == VT_I4) hr = put_ButtonForm(static_cast<BtnForms>(V_I4(&v)));
  else if (id == QUILLON_DISPID_BUTTONTEXTALIGN && V_VT(&v) == VT_I4)
    hr = put_ButtonTextAlign(static_cast<BtnAlign>(V_I4(&v)));
  else if (id == QUILLON_DISPID_BUTTONPICTUREALIGN && V_VT(&v) == VT_I4)
    hr = put_ButtonPictureAlign(static_cast<BtnAlign>(V_I4(&v)));
  else return false;
  // A refused value comes back as the type library's Invoke reports it: an
  // exception that carries the error and its texts.
  if (FAILED(hr)) {
    if (excepInfo) {
      *excepInfo = EXCEPINFO{};
      excepInfo->scode = hr;
      ComPtr<IErrorInfo> info;
      if (GetErrorInfo(0, info.Put()) == S_OK && info) {
        info->GetSource(&excepInfo->bstrSource);
        info->GetDescription(&excepInfo->bstrDescription);
        info->GetHelpFile(&excepInfo->bstrHelpFile);
        info->GetHelpContext(&excepInfo->dwHelpContext);
      }
    }
    hr = DISP_E_EXCEPTION;
  }
  *result = hr;
  return true;
}

STDMETHODIMP Quillon::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excepInfo, UINT* argErr) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  SetErrorInfo(0, nullptr);
  HRESULT hr;
  if (InvokeDirect(id, flags, params, excepInfo, &hr)) return hr;
  if (FAILED(hr = LoadTypeInfo())) return hr;
  return typeInfo_->Invoke(static_cast<_Quillon*>(this), id, flags, params, result, excepInfo, argErr);
}

HRESULT Quillon::Fail(int32_t number) {
  const wchar_t* text = L"Application-defined or object-defined error";
  switch (number) {
    case kErrOverflow: text = L"Overflow"; break;
    case kErrInvalidPropertyValue: text = L"Invalid property value"; break;
    case kErrInvalidPicture: text = L"Invalid picture"; break;
    default: break;
  }
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.Put()))) {
    create->SetGUID(IID__Quillon);
    create->SetSource(const_cast<LPOLESTR>(L"Quillon2.Quillon"));
    create->SetDescription(const_cast<LPOLESTR>(text));
    if (auto info = create.As<IErrorInfo>()) SetErrorInfo(0, info.Get());
  }
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
}

STDMETHODIMP Quillon::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__Quillon || iid == IID_IDispatch ? S_OK : S_FALSE;
}

// ---------------------------------------------------------------- properties

void Quillon::NotifyChanged(DISPID id) {
  for (auto& sink : propertyNotify_.Sinks()) static_cast<IPropertyNotifySink*>(sink.Get())->OnChanged(id);
}

// A property write: the model stores the value and runs the side effects;
// a failure goes back to the caller without the change notification.
template <typename Write>
HRESULT Quillon::WriteProperty(DISPID id, Write write) {
  try {
    write();
  } catch (const ControlError& e) {
    return Fail(e.number);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  NotifyChanged(id);
  return S_OK;
}

namespace {

template <typename T, typename V>
HRESULT Hand(T* out, V value) {
  if (!out) return E_POINTER;
  *out = static_cast<T>(value);
  return S_OK;
}

}  // namespace

STDMETHODIMP Quillon::put_ButtonEnabled(VARIANT_BOOL value) {
  const HRESULT hr = WriteProperty(QUILLON_DISPID_BUTTONENABLED, [&] { model_.WriteEnabled(value); });
  if (SUCCEEDED(hr)) EnabledChanged();
  return hr;
}

STDMETHODIMP Quillon::get_ButtonEnabled(VARIANT_BOOL* value) { return Hand(value, model_.State().enabled); }

STDMETHODIMP Quillon::put_ButtonTextAlign(BtnAlign value) {
  return WriteProperty(QUILLON_DISPID_BUTTONTEXTALIGN, [&] { model_.WriteTextAlign(value); });
}

STDMETHODIMP Quillon::get_ButtonTextAlign(BtnAlign* value) { return Hand(value, model_.State().textAlign); }

STDMETHODIMP Quillon::put_ButtonPictureAlign(BtnAlign value) {
  // The model ignores the layout's errors here.
  return WriteProperty(QUILLON_DISPID_BUTTONPICTUREALIGN, [&] { model_.WritePictureAlign(value); });
}

STDMETHODIMP Quillon::get_ButtonPictureAlign(BtnAlign* value) { return Hand(value, model_.State().pictureAlign); }

STDMETHODIMP Quillon::put_ButtonBackColor(OLE_COLOR value) {
  return WriteProperty(QUILLON_DISPID_BUTTONBACKCOLOR, [&] { model_.WriteBackColour(value); });
}

STDMETHODIMP Quillon::get_ButtonBackColor(OLE_COLOR* value) { return Hand(value, model_.State().backColour); }

STDMETHODIMP Quillon::put_ButtonForm(BtnForms value) {
  return WriteProperty(QUILLON_DISPID_BUTTONFORM, [&] { model_.WriteForm(static_cast<int32_t>(value)); });
}

STDMETHODIMP Quillon::get_ButtonForm(BtnForms* value) { return Hand(value, model_.State().form); }

STDMETHODIMP Quillon::put_ButtonCaption(BSTR value) {
  const HRESULT hr = WriteProperty(QUILLON_DISPID_BUTTONCAPTION, [&] { model_.WriteCaption(FromBstr(value)); });
  // The caption is the button's name.
  if (SUCCEEDED(hr)) Announce(EVENT_OBJECT_NAMECHANGE);
  return hr;
}

STDMETHODIMP Quillon::get_ButtonCaption(BSTR* value) {
  if (!value) return E_POINTER;
  *value = ToBstr(model_.State().caption);
  return *value ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Quillon::get_ButtonPicture(IPictureDisp** value) {
  if (!value) return E_POINTER;
  picture_.CopyTo(value);
  return S_OK;
}

STDMETHODIMP Quillon::putref_ButtonPicture(IPictureDisp* value) {
  ComPtr<IPictureDisp> held(value);
  ComPtr<IPicture> picture = held.As<IPicture>();
  // Something that cannot draw itself is refused before it is stored.
  if (value && !picture) return Fail(kErrInvalidPicture);
  picture_ = held;
  float width = 0, height = 0;
  if (picture) {
    // The holder shows the picture at whole pixels, as the screen does.
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    picture->get_Width(&hmWidth);
    picture->get_Height(&hmHeight);
    width = TwipsX(MulDiv(hmWidth, dpiX_, 2540));
    height = TwipsY(MulDiv(hmHeight, dpiY_, 2540));
  }
  return WriteProperty(QUILLON_DISPID_BUTTONPICTURE,
                       [&] { model_.WritePicture(static_cast<bool>(picture), width, height); });
}

STDMETHODIMP Quillon::get_ButtonPictureStretch(VARIANT_BOOL* value) {
  return Hand(value, model_.State().pictureStretch);
}

STDMETHODIMP Quillon::put_ButtonPictureStretch(VARIANT_BOOL value) {
  return WriteProperty(QUILLON_DISPID_BUTTONPICTURESTRETCH, [&] { model_.WritePictureStretch(value); });
}

HRESULT Quillon::NewDefaultFont(ComPtr<IFontDisp>& out) {
  FONTDESC desc{
      sizeof desc, const_cast<LPOLESTR>(L"MS Sans Serif"), Points(8.25), FW_NORMAL, ANSI_CHARSET, FALSE, FALSE, FALSE};
  return OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(out.Put()));
}

STDMETHODIMP Quillon::get_ButtonFont(IFontDisp** value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  if (!font_) {
    HRESULT hr = NewDefaultFont(font_);
    if (FAILED(hr)) return hr;
  }
  font_.CopyTo(value);
  return S_OK;
}

// One step of taking over the host's font: read the attribute through the
// font's dispatch interface (any font object has one) and write it into the
// caption's own font. True when the caption's font took it.
bool Quillon::CopyFontAttribute(IDispatch& from, DISPID id) {
  VARIANT value;
  VariantInit(&value);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  bool copied = false;
  if (SUCCEEDED(
          from.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr))) {
    ComPtr<IDispatch> target = captionFont_.As<IDispatch>(IID_IFontDisp);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    copied = target && SUCCEEDED(target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put,
                                                nullptr, nullptr, nullptr));
  }
  VariantClear(&value);
  return copied;
}

STDMETHODIMP Quillon::putref_ButtonFont(IFontDisp* value) {
  font_ = ComPtr<IFontDisp>(value);
  if (value) {
    bool copied = false;
    for (DISPID id : {DISPID_FONT_NAME, DISPID_FONT_SIZE, DISPID_FONT_BOLD, DISPID_FONT_ITALIC, DISPID_FONT_CHARSET,
                      DISPID_FONT_STRIKE, DISPID_FONT_UNDER, DISPID_FONT_WEIGHT})
      copied |= CopyFontAttribute(*value, id);
    // The caption's font is made and its text measured once, with every
    // attribute taken over.
    if (copied) {
      RebuildCaptionFont();
      model_.CaptionFontChanged();
    }
  }
  try {
    model_.LayoutButton();
  } catch (const ControlError&) {
  }
  NotifyChanged(QUILLON_DISPID_BUTTONFONT);
  return S_OK;
}

STDMETHODIMP Quillon::get_ButtonFontColor(OLE_COLOR* value) { return Hand(value, model_.State().fontColour); }

STDMETHODIMP Quillon::put_ButtonFontColor(OLE_COLOR value) {
  return WriteProperty(QUILLON_DISPID_BUTTONFONTCOLOR, [&] { model_.WriteFontColour(value); });
}

// ---------------------------------------------------------------- caption font

void Quillon::RebuildCaptionFont() {
  LOGFONTW lf{};
  BSTR name = nullptr;
  CY size{};
  SHORT weight = FW_NORMAL, charset = ANSI_CHARSET;
  BOOL italic = FALSE, underline = FALSE, strike = FALSE;
  captionFont_->get_Name(&name);
  captionFont_->get_Size(&size);
  captionFont_->get_Weight(&weight);
  captionFont_->get_Charset(&charset);
  captionFont_->get_Italic(&italic);
  captionFont_->get_Underline(&underline);
  captionFont_->get_Strikethrough(&strike);
  // Points to pixels at the screen's resolution, rounded as the screen does.
  lf.lfHeight = -static_cast<LONG>(std::llround(static_cast<double>(size.int64) * dpiY_ / 720000.0));
  lf.lfWeight = weight;
  lf.lfItalic = italic ? 1 : 0;
  lf.lfUnderline = underline ? 1 : 0;
  lf.lfStrikeOut = strike ? 1 : 0;
  lf.lfCharSet = static_cast<BYTE>(charset);
  if (name) lstrcpynW(lf.lfFaceName, name, LF_FACESIZE);
  SysFreeString(name);
  if (HFONT font = CreateFontIndirectW(&lf)) {
    if (captionHFont_) DeleteObject(captionHFont_);
    captionHFont_ = font;
  }
}

ButtonPlatform::Extent Quillon::MeasureCaption(const std::u16string& text) {
  const WindowDC screen(nullptr);
  const Selection font(screen, captionHFont_);
  SIZE size{};
  GetTextExtentPoint32W(screen, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &size);
  TEXTMETRICW tm{};
  GetTextMetricsW(screen, &tm);
  return {TwipsX(size.cx), TwipsY(tm.tmHeight)};
}

// ---------------------------------------------------------------- platform

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

void Quillon::FireEvent(DISPID id, DISPPARAMS& params) {
  if (frozen_ > 0) return;
  ComPtr<Quillon> self(this);  // a handler may let go of the button
  for (auto& sink : events_.Sinks())
    static_cast<IDispatch*>(sink.Get())
        ->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

void Quillon::RaiseClick() {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  FireEvent(QUILLON_DISPID_CLICK, none);
}

void Quillon::RaiseMouseMove(int16_t button, int16_t shift, float x, float y) {
  SHORT b = button, s = shift;
  float fx = x, fy = y;
  VARIANT args[4];  // last argument first
  for (auto& a : args) VariantInit(&a);
  V_VT(&args[3]) = VT_I2 | VT_BYREF;
  V_I2REF(&args[3]) = &b;
  V_VT(&args[2]) = VT_I2 | VT_BYREF;
  V_I2REF(&args[2]) = &s;
  V_VT(&args[1]) = VT_R4 | VT_BYREF;
  V_R4REF(&args[1]) = &fx;
  V_VT(&args[0]) = VT_R4 | VT_BYREF;
  V_R4REF(&args[0]) = &fy;
  DISPPARAMS params{args, nullptr, 4, 0};
  FireEvent(QUILLON_DISPID_MOUSEMOVE, params);
}

void Quillon::RaiseMouseOver() {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  FireEvent(QUILLON_DISPID_MOUSEOVER, none);
}

void Quillon::RaiseMouseOut() {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  FireEvent(QUILLON_DISPID_MOUSEOUT, none);
}

// ---------------------------------------------------------------- accessibility and the system's settings

void Quillon::Announce(DWORD event) const {
  if (hwnd_) NotifyWinEvent(event, hwnd_, OBJID_CLIENT, CHILDID_SELF);
}

void Quillon::EnabledChanged() {
  if (!hwnd_) return;
  // Like a disabled standard control, a disabled button is skipped by Tab;
  // its window stays enabled, so that it still reports the pointer.
  const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
  const LONG_PTR wanted = model_.State().enabled == kTrue ? style | WS_TABSTOP : style & ~LONG_PTR{WS_TABSTOP};
  if (wanted != style) SetWindowLongPtrW(hwnd_, GWL_STYLE, wanted);
  Announce(EVENT_OBJECT_STATECHANGE);
}

void Quillon::ReadHighContrast() { model_.SetHighContrast(SystemHighContrast()); }

// A picture-only button is named by its window's text, which its host sets.
std::wstring Quillon::AccessibleName() const {
  const std::u16string& caption = model_.State().caption;
  if (!caption.empty()) return std::wstring(caption.begin(), caption.end());
  if (!hwnd_) return {};
  return velmora::WindowText(hwnd_);
}

LONG Quillon::AccessibleState() const {
  LONG state = STATE_SYSTEM_FOCUSABLE;
  if (model_.State().enabled != kTrue || (hwnd_ && !IsWindowEnabled(hwnd_))) state |= STATE_SYSTEM_UNAVAILABLE;
  if (hwnd_ && GetFocus() == hwnd_) state |= STATE_SYSTEM_FOCUSED;
  if (model_.HoverLookShown()) state |= STATE_SYSTEM_HOTTRACKED;
  if (!hwnd_ || !IsWindowVisible(hwnd_)) state |= STATE_SYSTEM_INVISIBLE;
  return state;
}

bool Quillon::AccessiblePress() {
  if (model_.State().enabled != kTrue || !hwnd_) return false;
  return PostMessageW(hwnd_, kDefaultActionMessage, 0, 0) != FALSE;
}

// ---------------------------------------------------------------- IOleObject

STDMETHODIMP Quillon::SetClientSite(IOleClientSite* site) {
  site_ = ComPtr<IOleClientSite>(site);
  return S_OK;
}

STDMETHODIMP Quillon::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  site_.CopyTo(site);
  return S_OK;
}

STDMETHODIMP Quillon::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP Quillon::Close(DWORD) {
  InPlaceDeactivate();
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

STDMETHODIMP Quillon::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP Quillon::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP Quillon::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP Quillon::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP Quillon::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT posRect) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE: {
      HRESULT hr = ActivateInPlace(site ? site : site_.Get(), parent, posRect);
      if (FAILED(hr)) return hr;
      ShowWindow(hwnd_, SW_SHOWNA);
      if (verb == OLEIVERB_UIACTIVATE) SetFocus(hwnd_);
      return S_OK;
    }
    case OLEIVERB_HIDE:
      if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
      return S_OK;
    default: return OLEOBJ_S_INVALIDVERB;
  }
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
  ButtonWindowMade(hwnd);
  if (ipSite) {
    ipSite->OnInPlaceActivate();
    inPlaceSite_ = ipSite;
  }
  // The timer was running since the button was made; it ticks from now on.
  if (model_.TimerRunning()) SetTimerRunning(true);
  return S_OK;
}

STDMETHODIMP Quillon::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs) *verbs = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP Quillon::Update() { return S_OK; }
STDMETHODIMP Quillon::IsUpToDate() { return S_OK; }

STDMETHODIMP Quillon::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

STDMETHODIMP Quillon::GetUserType(DWORD, LPOLESTR* type) {
  if (type) *type = nullptr;
  return E_NOTIMPL;
}

void Quillon::ResizeFromExtent() {
  const int w = MulDiv(extent_.cx, dpiX_, 2540);
  const int h = MulDiv(extent_.cy, dpiY_, 2540);
  model_.Resize(TwipsX(w), TwipsY(h));
}

STDMETHODIMP Quillon::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
  extent_ = *size;
  // With a window the container sizes it through SetObjectRects.
  if (!hwnd_) ResizeFromExtent();
  return S_OK;
}

STDMETHODIMP Quillon::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP Quillon::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!adviseHolder_) {
    HRESULT hr = CreateOleAdviseHolder(adviseHolder_.Put());
    if (FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP Quillon::Unadvise(DWORD connection) {
  return adviseHolder_ ? adviseHolder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP Quillon::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  return adviseHolder_ ? adviseHolder_->EnumAdvise(advise) : S_OK;
}

STDMETHODIMP Quillon::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
            OLEMISC_SETCLIENTSITEFIRST;
  return S_OK;
}

STDMETHODIMP Quillon::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---------------------------------------------------------------- IOleInPlaceObject

STDMETHODIMP Quillon::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = hwnd_;
  return hwnd_ ? S_OK : E_FAIL;
}

STDMETHODIMP Quillon::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP Quillon::InPlaceDeactivate() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (inPlaceSite_) {
    ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    site->OnInPlaceDeactivate();
  }
  return S_OK;
}

STDMETHODIMP Quillon::UIDeactivate() { return S_OK; }

STDMETHODIMP Quillon::SetObjectRects(LPCRECT posRect, LPCRECT) {
  if (!posRect) return E_POINTER;
  const int w = posRect->right - posRect->left, h = posRect->bottom - posRect->top;
  if (w < 0 || h < 0) return E_INVALIDARG;
  extent_.cx = MulDiv(w, 2540, dpiX_);
  extent_.cy = MulDiv(h, 2540, dpiY_);
  if (hwnd_) MoveWindow(hwnd_, posRect->left, posRect->top, w, h, TRUE);
  return S_OK;
}

STDMETHODIMP Quillon::ReactivateAndUndo() { return E_NOTIMPL; }

// ---------------------------------------------------------------- IOleControl

STDMETHODIMP Quillon::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  if (info->cb < sizeof(CONTROLINFO)) return E_INVALIDARG;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = CTRLINFO_EATS_RETURN;  // Enter clicks the focused button
  return S_OK;
}

STDMETHODIMP Quillon::OnMnemonic(MSG*) {
  model_.ClickRoutine();
  return S_OK;
}

STDMETHODIMP Quillon::OnAmbientPropertyChange(DISPID) { return S_OK; }

STDMETHODIMP Quillon::FreezeEvents(BOOL freeze) {
  if (freeze) ++frozen_;
  else if (frozen_ > 0) --frozen_;
  return S_OK;
}

// ---------------------------------------------------------------- connection points

STDMETHODIMP Quillon::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return NewConnectionPointEnumerator(static_cast<_Quillon*>(this), {&events_, &propertyNotify_}, 0, out);
}

STDMETHODIMP Quillon::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == DIID___Quillon) *out = &events_;
  else if (iid == IID_IPropertyNotifySink) *out = &propertyNotify_;
  else return CONNECT_E_NOCONNECTION;
  (*out)->AddRef();
  return S_OK;
}

// ---------------------------------------------------------------- persistence

STDMETHODIMP Quillon::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_Quillon;
  return S_OK;
}

STDMETHODIMP Quillon::InitNew() {
  // A button placed new: every stored value once more through its property.
  HRESULT hr;
  if (FAILED(hr = put_ButtonPictureAlign(static_cast<BtnAlign>(model_.State().pictureAlign)))) return hr;
  if (FAILED(hr = put_ButtonTextAlign(static_cast<BtnAlign>(model_.State().textAlign)))) return hr;
  if (FAILED(hr = put_ButtonBackColor(model_.State().backColour))) return hr;
  BSTR caption = ToBstr(model_.State().caption);
  hr = put_ButtonCaption(caption);
  SysFreeString(caption);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = put_ButtonForm(static_cast<BtnForms>(model_.State().form)))) return hr;
  ComPtr<IPictureDisp> picture = picture_;
  if (FAILED(hr = putref_ButtonPicture(picture.Get()))) return hr;
  ComPtr<IFontDisp> font;
  if (FAILED(hr = get_ButtonFont(font.Put()))) return hr;
  if (FAILED(hr = putref_ButtonFont(font.Get()))) return hr;
  if (FAILED(hr = put_ButtonFontColor(model_.State().fontColour))) return hr;
  return put_ButtonEnabled(model_.State().enabled);
}

namespace {

// Reads one entry, or hands back the default when the bag has none.
HRESULT ReadEntry(IPropertyBag& bag, IErrorLog* log, const wchar_t* name, VARTYPE type, VARIANT& out,
                  const VARIANT& fallback) {
  VariantInit(&out);
  V_VT(&out) = type;  // a hint to the bag
  HRESULT hr = bag.Read(name, &out, log);
  if (Missing(hr)) {
    VariantClear(&out);
    return VariantCopy(&out, const_cast<VARIANT*>(&fallback));
  }
  if (FAILED(hr)) return hr;
  if (type == VT_DISPATCH) {
    if (V_VT(&out) == VT_EMPTY || V_VT(&out) == VT_NULL) return S_OK;
    if (V_VT(&out) == VT_UNKNOWN || V_VT(&out) == VT_DISPATCH) return S_OK;
    VariantClear(&out);
    return DISP_E_TYPEMISMATCH;
  }
  return VariantChangeType(&out, &out, 0, type);
}

template <typename I>
ComPtr<I> ObjectIn(const VARIANT& v, REFIID iid) {
  ComPtr<I> out;
  IUnknown* unk = nullptr;
  if (V_VT(&v) == VT_DISPATCH) unk = V_DISPATCH(&v);
  if (V_VT(&v) == VT_UNKNOWN) unk = V_UNKNOWN(&v);
  if (unk) unk->QueryInterface(iid, reinterpret_cast<void**>(out.Put()));
  return out;
}

struct Variant {
  VARIANT v;
  Variant() { VariantInit(&v); }
  ~Variant() { VariantClear(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

Variant& Int(Variant& var, LONG value) {
  VariantClear(&var.v);
  V_VT(&var.v) = VT_I4;
  V_I4(&var.v) = value;
  return var;
}

Variant& Bool(Variant& var, VARIANT_BOOL value) {
  VariantClear(&var.v);
  V_VT(&var.v) = VT_BOOL;
  V_BOOL(&var.v) = value;
  return var;
}

}  // namespace

STDMETHODIMP Quillon::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  HRESULT hr;
  Variant value, fallback;

  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonForm", VT_I4, value.v, Int(fallback, 0).v))) return hr;
  if (FAILED(hr = put_ButtonForm(static_cast<BtnForms>(V_I4(&value.v))))) return hr;

  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonBackColor", VT_I4, value.v, Int(fallback, 0xFFFFFF).v))) return hr;
  if (FAILED(hr = put_ButtonBackColor(static_cast<OLE_COLOR>(V_I4(&value.v))))) return hr;

  VariantClear(&fallback.v);
  V_VT(&fallback.v) = VT_BSTR;
  V_BSTR(&fallback.v) = SysAllocString(L"Quillon");
  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonCaption", VT_BSTR, value.v, fallback.v))) return hr;
  if (FAILED(hr = put_ButtonCaption(V_BSTR(&value.v)))) return hr;

  VariantClear(&fallback.v);
  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonPicture", VT_DISPATCH, value.v, fallback.v))) return hr;
  {
    ComPtr<IPictureDisp> picture = ObjectIn<IPictureDisp>(value.v, IID_IPictureDisp);
    const bool isObject = V_VT(&value.v) == VT_DISPATCH || V_VT(&value.v) == VT_UNKNOWN;
    if (isObject && V_UNKNOWN(&value.v) && !picture) return Fail(kErrInvalidPicture);
    if (FAILED(hr = putref_ButtonPicture(picture.Get()))) return hr;
  }

  // Without a stored font the caption keeps the font it has: a copy of it,
  // so the label's own font object never leaves the button. The copy is made
  // only when the bag has none (a read hands back no error value).
  VariantClear(&fallback.v);
  V_VT(&fallback.v) = VT_ERROR;
  V_ERROR(&fallback.v) = DISP_E_PARAMNOTFOUND;
  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonFont", VT_DISPATCH, value.v, fallback.v))) return hr;
  if (V_VT(&value.v) == VT_ERROR) {
    ComPtr<IFont> copy;
    if (FAILED(hr = captionFont_->Clone(copy.Put()))) return hr;
    VariantClear(&value.v);
    V_VT(&value.v) = VT_DISPATCH;
    V_DISPATCH(&value.v) = nullptr;
    copy->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&V_DISPATCH(&value.v)));
  }
  {
    ComPtr<IFontDisp> font = ObjectIn<IFontDisp>(value.v, IID_IFontDisp);
    if (!font) font = ObjectIn<IFontDisp>(value.v, IID_IDispatch);
    if (FAILED(hr = putref_ButtonFont(font.Get()))) return hr;
  }

  const LONG textColour = static_cast<LONG>(model_.lblCaption().textColour);
  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonFontColor", VT_I4, value.v, Int(fallback, textColour).v))) return hr;
  if (FAILED(hr = put_ButtonFontColor(static_cast<OLE_COLOR>(V_I4(&value.v))))) return hr;

  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonPictureAlign", VT_I4, value.v, Int(fallback, 0).v))) return hr;
  if (FAILED(hr = put_ButtonPictureAlign(static_cast<BtnAlign>(V_I4(&value.v))))) return hr;

  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonTextAlign", VT_I4, value.v, Int(fallback, 1).v))) return hr;
  if (FAILED(hr = put_ButtonTextAlign(static_cast<BtnAlign>(V_I4(&value.v))))) return hr;

  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonPictureStretch", VT_BOOL, value.v, Bool(fallback, VARIANT_TRUE).v)))
    return hr;
  if (FAILED(hr = put_ButtonPictureStretch(V_BOOL(&value.v)))) return hr;

  if (FAILED(hr = ReadEntry(*bag, log, L"ButtonEnabled", VT_BOOL, value.v, Bool(fallback, VARIANT_TRUE).v))) return hr;
  return put_ButtonEnabled(V_BOOL(&value.v));
}

STDMETHODIMP Quillon::Save(IPropertyBag* bag, BOOL, BOOL saveAll) {
  if (!bag) return E_POINTER;
  const ButtonState& s = model_.State();
  HRESULT hr;
  Variant value;
  auto write = [&](const wchar_t* name, bool isDefault) -> HRESULT {
    return isDefault && !saveAll ? S_OK : bag->Write(name, &value.v);
  };

  if (FAILED(hr = write(L"ButtonForm", V_I4(&Int(value, s.form).v) == 0))) return hr;
  if (FAILED(hr = write(L"ButtonBackColor", Int(value, static_cast<LONG>(s.backColour)).v.lVal == 0xFFFFFF))) return hr;

  VariantClear(&value.v);
  if (FAILED(hr = get_ButtonCaption(&V_BSTR(&value.v)))) return hr;
  V_VT(&value.v) = VT_BSTR;
  if (FAILED(hr = write(L"ButtonCaption", s.caption == u"Quillon"))) return hr;

  VariantClear(&value.v);
  if (picture_) {
    V_VT(&value.v) = VT_DISPATCH;
    get_ButtonPicture(reinterpret_cast<IPictureDisp**>(&V_DISPATCH(&value.v)));
    if (FAILED(hr = bag->Write(L"ButtonPicture", &value.v))) return hr;
  }

  VariantClear(&value.v);
  {
    ComPtr<IFontDisp> font;
    if (FAILED(hr = get_ButtonFont(font.Put()))) return hr;
    ComPtr<IUnknown> fontIdentity = font.As<IUnknown>(IID_IUnknown);
    ComPtr<IUnknown> labelIdentity = captionFont_.As<IUnknown>(IID_IUnknown);
    V_VT(&value.v) = VT_DISPATCH;
    font.CopyTo(reinterpret_cast<IFontDisp**>(&V_DISPATCH(&value.v)));
    if (FAILED(hr = write(L"ButtonFont", fontIdentity.Get() == labelIdentity.Get()))) return hr;
  }

  if (FAILED(hr = write(L"ButtonFontColor", Int(value, static_cast<LONG>(s.fontColour)).v.lVal == 0))) return hr;
  if (FAILED(hr = write(L"ButtonPictureAlign", Int(value, s.pictureAlign).v.lVal == 0))) return hr;
  if (FAILED(hr = write(L"ButtonTextAlign", Int(value, s.textAlign).v.lVal == 1))) return hr;
  if (FAILED(hr = write(L"ButtonPictureStretch", Bool(value, s.pictureStretch).v.boolVal == VARIANT_TRUE))) return hr;
  return write(L"ButtonEnabled", Bool(value, s.enabled).v.boolVal == VARIANT_TRUE);
}

// ---------------------------------------------------------------- IProvideClassInfo2

STDMETHODIMP Quillon::GetClassInfo(ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (const HRESULT hr = LoadTypeInfo(); FAILED(hr)) return hr;
  classInfo_.CopyTo(out);
  return S_OK;
}

STDMETHODIMP Quillon::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  *guid = DIID___Quillon;
  return S_OK;
}

// ---------------------------------------------------------------- window

int Quillon::PixelsX(float twips) const { return static_cast<int>(std::lround(twips / twipsPerPixelX_)); }
int Quillon::PixelsY(float twips) const { return static_cast<int>(std::lround(twips / twipsPerPixelY_)); }

RECT Quillon::PixelRect(const TwipsRect& r) const {
  const int left = PixelsX(r.left), top = PixelsY(r.top);
  return {left, top, left + PixelsX(r.width), top + PixelsY(r.height)};
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
    case WM_SIZE:
      // However the window was sized, the extent follows it.
      extent_.cx = MulDiv(LOWORD(lp), 2540, dpiX_);
      extent_.cy = MulDiv(HIWORD(lp), 2540, dpiY_);
      model_.Resize(TwipsX(LOWORD(lp)), TwipsY(HIWORD(lp)));
      return 0;
    case WM_ERASEBKGND: return 1;  // all painting is done at once, off screen
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      Paint(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: Paint(reinterpret_cast<HDC>(wp)); return 0;
    case WM_MOUSEMOVE: {
      int16_t button = 0, shift = 0;
      if (wp & MK_LBUTTON) button |= 1;
      if (wp & MK_RBUTTON) button |= 2;
      if (wp & MK_MBUTTON) button |= 4;
      if (wp & MK_SHIFT) shift |= 1;
      if (wp & MK_CONTROL) shift |= 2;
      if (GetKeyState(VK_MENU) < 0) shift |= 4;
      const HitResult hit = model_.HitTest(TwipsX(GET_X_LPARAM(lp)), TwipsY(GET_Y_LPARAM(lp)));
      ComPtr<Quillon> self(this);
      model_.MouseMove(button, shift, hit.x, hit.y);
      return 0;
    }
    case WM_LBUTTONDOWN:
      if (GetFocus() != hwnd_) SetFocus(hwnd_);
      SetCapture(hwnd_);
      pressed_ = true;
      return 0;
    case WM_LBUTTONUP: {
      const bool wasPressed = pressed_;
      pressed_ = false;
      if (GetCapture() == hwnd_) ReleaseCapture();
      RECT client;
      GetClientRect(hwnd_, &client);
      const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      // A press that is dragged off the button and let go elsewhere is
      // no click, as with any push button.
      if (wasPressed && PtInRect(&client, p)) {
        ComPtr<Quillon> self(this);
        model_.ClickRoutine();
      }
      return 0;
    }
    case WM_CAPTURECHANGED: pressed_ = false; return 0;
    case WM_GETDLGCODE: {
      // Characters are ours (Enter clicks); a dialog manager must not
      // turn Enter into its default button while we have the focus.
      LRESULT code = DLGC_WANTCHARS;
      const MSG* m = reinterpret_cast<const MSG*>(lp);
      if (m && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && m->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_CHAR: {
      ComPtr<Quillon> self(this);
      model_.KeyPress(static_cast<int>(wp));
      return 0;
    }
    case WM_KEYDOWN:
      if (wp != VK_SPACE) break;
      model_.SpaceDown();
      return 0;
    case WM_KEYUP:
      if (wp != VK_SPACE) break;
      {
        ComPtr<Quillon> self(this);
        model_.SpaceUp();
      }
      return 0;
    case kDefaultActionMessage: {
      // As a click of the mouse: the focus first, then the Click event.
      ComPtr<Quillon> self(this);
      if (GetFocus() != hwnd_) SetFocus(hwnd_);
      model_.ClickRoutine();
      return 0;
    }
    case WM_GETOBJECT:
      // The client area is the button; the window's own object stays the system's.
      if (static_cast<LONG>(static_cast<DWORD>(lp)) == OBJID_CLIENT) {
        if (!accessible_ && FAILED(ButtonAccessible::Create(*this, accessible_))) accessible_.Reset();
        if (accessible_) return accessible_->Result(wp);
      }
      break;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case kSettingsChangedMessage:
      // The high-contrast setting may have changed, and with new system
      // colours every look that uses them paints anew.
      ReadHighContrast();
      return 0;
    case WM_SETFOCUS: {
      model_.FocusGained();
      if (auto control = site_.As<IOleControlSite>(IID_IOleControlSite)) control->OnFocus(TRUE);
      Announce(EVENT_OBJECT_FOCUS);
      return 0;
    }
    case WM_KILLFOCUS: {
      model_.FocusLost();
      if (auto control = site_.As<IOleControlSite>(IID_IOleControlSite)) control->OnFocus(FALSE);
      return 0;
    }
    case WM_TIMER:
      if (wp == kHoverTimer) {
        ComPtr<Quillon> self(this);
        model_.TimerTick();
      }
      return 0;
    case WM_DESTROY: SetTimerRunning(false); return 0;
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

namespace {

// Square and circle take the shorter side and sit in the middle.
RECT ShapeBounds(RECT r, int16_t kind) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int side = w < h ? w : h;
  if (kind == kSquare || kind == kCircle || kind == kRoundedSquare) {
    r.left += (w - side) / 2;
    r.top += (h - side) / 2;
    r.right = r.left + side;
    r.bottom = r.top + side;
  }
  return r;
}

// Draws the outline kinds 0 to 5. The rounded kinds round their corners by
// a fifth of the shorter side.
void DrawGround(HDC dc, RECT r, int16_t kind) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int side = w < h ? w : h;
  r = ShapeBounds(r, kind);
  switch (kind) {
    case kOval:
    case kCircle: Ellipse(dc, r.left, r.top, r.right, r.bottom); break;
    case kRoundedRectangle:
    case kRoundedSquare: {
      const int round = side * 2 / 5;
      RoundRect(dc, r.left, r.top, r.right, r.bottom, round, round);
      break;
    }
    default: Rectangle(dc, r.left, r.top, r.right, r.bottom); break;
  }
}

// The focus rectangle keeps inside the outline, clear of it; in an oval or
// a circle it keeps to the rectangle the curve encloses.
RECT FocusFrame(RECT shape, int16_t kind, int outlineWidth) {
  RECT r = ShapeBounds(shape, kind);
  int dx = outlineWidth + 2, dy = outlineWidth + 2;
  if (kind == kOval || kind == kCircle) {
    // Half a side times (1 - 1/sqrt 2) from each edge.
    dx += static_cast<int>((r.right - r.left) * 0.1465);
    dy += static_cast<int>((r.bottom - r.top) * 0.1465);
  }
  InflateRect(&r, -dx, -dy);
  return r;
}

}  // namespace

void Quillon::Paint(HDC target) {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int cx = client.right, cy = client.bottom;
  if (cx <= 0 || cy <= 0) return;
  const MemoryDC dc(target);
  const GdiObject bitmap(CreateCompatibleBitmap(target, cx, cy));
  const Selection canvas(dc, bitmap.Get());

  // Outside a rounded or oval outline the window behind shows through:
  // the parent paints its background into our corners.
  const GdiObject surface(CreateSolidBrush(Resolve(kSurfaceColour)));
  FillRect(dc, &client, static_cast<HBRUSH>(surface.Get()));
  if (HWND parent = GetParent(hwnd_)) {
    POINT origin{0, 0};
    MapWindowPoints(hwnd_, parent, &origin, 1);
    POINT old;
    SetViewportOrgEx(dc, -origin.x, -origin.y, &old);
    SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)), 0);
    SetViewportOrgEx(dc, old.x, old.y, nullptr);
  }

  const Ground& ground = model_.shpGround();
  const Appearance look = model_.Look();
  RECT shape = PixelRect(ground.rect);
  const GdiObject fill(CreateSolidBrush(Resolve(look.fill)));
  const GdiObject pen(look.outlineVisible ? CreatePen(PS_INSIDEFRAME, look.outlineWidth, Resolve(look.outlineColour))
                                          : nullptr);
  if (!look.outlineVisible) {
    // Without a pen GDI leaves out the right and bottom edge.
    ++shape.right;
    ++shape.bottom;
  }
  {
    const Selection outline(dc, pen.Get() ? pen.Get() : GetStockObject(NULL_PEN));
    const Selection inside(dc, fill.Get());
    DrawGround(dc, shape, ground.kind);
  }

  if (model_.State().hasPicture) {
    if (auto picture = picture_.As<IPicture>()) {
      const RECT r = PixelRect(model_.imgPicture().rect);
      OLE_XSIZE_HIMETRIC w = 0;
      OLE_YSIZE_HIMETRIC h = 0;
      picture->get_Width(&w);
      picture->get_Height(&h);
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE wants it reset
      picture->Render(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, h, w, -h, nullptr);
    }
  }

  const CaptionLabel& label = model_.lblCaption();
  if (!label.text.empty()) {
    RECT r = PixelRect(label.rect);
    // The label is as wide as its text measures; a glyph that reaches past
    // its advance (as some fonts' last letter does) must not lose a column.
    UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_TOP | DT_NOCLIP;
    format |= label.alignment == kAlignCentre ? DT_CENTER : label.alignment == kAlignRight ? DT_RIGHT : DT_LEFT;
    // Deleted after the caption's font is selected back.
    GdiObject smaller;
    const Selection font(dc, captionHFont_);
    // Twips scale with the DPI, the font's pixels not quite: at 120 dots per
    // inch a caption that fits at 96 may come out a few pixels wider than
    // the button has room for. It is then drawn in a font just small enough
    // to fit, rather than run into the outline.
    const auto* text = reinterpret_cast<const wchar_t*>(label.text.c_str());
    const int length = static_cast<int>(label.text.size());
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, length, &extent);
    // The label takes the width of its text; the room is up to the
    // margin the layout keeps on the right (75 twips).
    const LONG room = PixelRect(ground.rect).right - PixelsX(75.0f) - r.left;
    if (extent.cx > room && room > 0) {
      LOGFONTW lf{};
      GetObjectW(captionHFont_, sizeof lf, &lf);
      for (LONG height = std::abs(lf.lfHeight) - 1; height > 1 && extent.cx > room; --height) {
        lf.lfHeight = -height;
        lf.lfWidth = 0;
        if (smaller.Get()) SelectObject(dc, captionHFont_);
        smaller.Reset(CreateFontIndirectW(&lf));
        if (!smaller.Get()) break;
        SelectObject(dc, smaller.Get());
        GetTextExtentPoint32W(dc, text, length, &extent);
      }
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Resolve(look.textColour));
    DrawTextW(dc, text, length, &r, format);
  }

  if (look.focusRectangle) {
    const RECT frame = FocusFrame(PixelRect(ground.rect), ground.kind, look.outlineVisible ? look.outlineWidth : 0);
    if (frame.right > frame.left && frame.bottom > frame.top) {
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkColor(dc, RGB(255, 255, 255));
      DrawFocusRect(dc, &frame);
    }
  }

  BitBlt(target, 0, 0, cx, cy, dc, 0, 0, SRCCOPY);
}

}  // namespace quillon
