// The Quillon button as a COM object: its making, IDispatch, the
// properties, the events, what assistive programs ask, and the OLE contract
// with its container. Its window is in QuillonWindow.cpp, its drawing in
// QuillonPaint.cpp, its persistence in QuillonPersist.cpp.
#include "Quillon.h"

#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "QuillonInternal.h"
#include "SettingsListener.h"
#include "windows/WinUtil.h"

namespace quillon {

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

// ---------------------------------------------------------------- platform

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

}  // namespace quillon
