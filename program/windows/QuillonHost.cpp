#include "windows/QuillonHost.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <new>

#include "errors/ErrChain.h"
#include "platform/win32/Win32Ports.h"
#include "windows/StartupTrace.h"

namespace velmora {

namespace {

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::string FromBstr(BSTR text) { return text ? WideToUtf8(text, static_cast<int>(SysStringLen(text))) : std::string(); }

// A failed late-bound call becomes the error the control reported: a control
// error (facility 0xA) keeps its runtime number, anything else is 5.
[[noreturn]] void RaiseDispatchFailure(HRESULT hr, EXCEPINFO& info) {
  const HRESULT code = hr == DISP_E_EXCEPTION ? (info.scode ? info.scode : static_cast<HRESULT>(info.wCode)) : hr;
  std::string source = FromBstr(info.bstrSource), description = FromBstr(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  const int32_t number = HRESULT_FACILITY(code) == FACILITY_CONTROL ? HRESULT_CODE(code) : 5;
  if (description.empty()) description = RuntimeErrorText(number);
  if (source.empty()) source = "Quillon2.Quillon";
  Raise(number, source, description);
}

}  // namespace

// ---------------------------------------------------------------- sinks

// __Quillon through IDispatch: hands each event to the listener.
class ButtonEventSink final : public quillon::SingleInterfaceObject<IDispatch> {
 public:
  explicit ButtonEventSink(ButtonListener* listener) : listener_(listener) {}
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (listener_) listener_->OnEvent(id, params);
    return S_OK;
  }

 private:
  bool AnswersAlso(REFIID iid) const override { return iid == DIID___Quillon; }
  ButtonListener* listener_;
};

class ButtonNotifySink final : public quillon::SingleInterfaceObject<IPropertyNotifySink> {
 public:
  explicit ButtonNotifySink(ButtonListener* listener) : listener_(listener) {}
  STDMETHODIMP OnChanged(DISPID id) override {
    if (listener_) listener_->OnChanged(id);
    return S_OK;
  }
  STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }

 private:
  ButtonListener* listener_;
};

// The control site: where the button lives and whom it tells about focus.
class ButtonSite final : public IOleClientSite, public IOleInPlaceSite, public IOleControlSite {
 public:
  ButtonSite(ButtonListener* listener, HWND parent, RECT pixels)
      : listener_(listener), parent_(parent), rect_(pixels) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (iid == IID_IOleControlSite) {
      *out = static_cast<IOleControlSite*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
    *m = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* h) override {
    *h = parent_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override {
    if (listener_) listener_->OnActivation(true);
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    *frame = nullptr;
    *doc = nullptr;
    *pos = rect_;
    *clip = rect_;
    info->fMDIApp = FALSE;
    info->hwndFrame = parent_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    if (listener_) listener_->OnActivation(false);
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** d) override {
    *d = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  STDMETHODIMP OnFocus(BOOL gained) override {
    if (listener_) listener_->OnFocus(gained != FALSE);
    return S_OK;
  }
  STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

 private:
  ButtonListener* listener_;
  HWND parent_;
  RECT rect_;
  ULONG refs_ = 1;
};

// ---------------------------------------------------------------- property bag

HRESULT StreamOnCopy(const void* bytes, std::size_t size, ComPtr<IStream>& out) {
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return E_OUTOFMEMORY;
  if (size) std::memcpy(GlobalLock(copy), bytes, size);
  GlobalUnlock(copy);
  const HRESULT hr = CreateStreamOnHGlobal(copy, TRUE, out.Put());
  if (FAILED(hr)) GlobalFree(copy);
  return hr;
}

ComPtr<PropertyBag> PropertyBag::New() { return ComPtr<PropertyBag>::Adopt(new PropertyBag()); }

PropertyBag::~PropertyBag() {
  for (auto& [name, e] : entries_) VariantClear(&e.value);
}

STDMETHODIMP PropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
  if (!name || !value) return E_POINTER;
  auto it = entries_.find(Lower(name));
  if (it == entries_.end()) return E_INVALIDARG;
  const VARTYPE wanted = V_VT(value);
  VariantInit(value);
  if (it->second.make) {
    IDispatch* object = nullptr;
    const HRESULT hr = it->second.make(&object);
    if (FAILED(hr)) return hr;
    V_VT(value) = VT_DISPATCH;
    V_DISPATCH(value) = object;
    return S_OK;
  }
  HRESULT hr = VariantCopy(value, &it->second.value);
  if (SUCCEEDED(hr) && wanted != VT_EMPTY && wanted != VT_DISPATCH && wanted != VT_UNKNOWN && wanted != V_VT(value))
    hr = VariantChangeType(value, value, 0, wanted);
  return hr;
}

STDMETHODIMP PropertyBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  if (V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN) {
    PutObject(name, V_UNKNOWN(value));
    return S_OK;
  }
  Put(name, *value);
  return S_OK;
}

void PropertyBag::Put(const std::wstring& name, const VARIANT& value) {
  Entry& e = entries_[Lower(name)];
  VariantClear(&e.value);
  e.make = nullptr;
  VariantCopy(&e.value, const_cast<VARIANT*>(&value));
}

void PropertyBag::PutObject(const std::wstring& name, IUnknown* object) {
  std::vector<BYTE> persisted;
  ComPtr<IPersistStream> persist;
  ComPtr<IStream> stream;
  HGLOBAL memory = nullptr;
  if (object && SUCCEEDED(object->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(persist.Put()))) &&
      SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put())) &&
      SUCCEEDED(OleSaveToStream(persist.Get(), stream.Get())) &&
      SUCCEEDED(GetHGlobalFromStream(stream.Get(), &memory))) {
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(memory));
    persisted.assign(bytes, bytes + stat.cbSize.QuadPart);
    GlobalUnlock(memory);
  }
  PutFactory(name, [persisted](IDispatch** made) -> HRESULT {
    ComPtr<IStream> in;
    const HRESULT hr = StreamOnCopy(persisted.data(), persisted.size(), in);
    if (FAILED(hr)) return hr;
    return OleLoadFromStream(in.Get(), IID_IDispatch, reinterpret_cast<void**>(made));
  });
}

void PropertyBag::PutFactory(const std::wstring& name, Factory make) {
  Entry& e = entries_[Lower(name)];
  VariantClear(&e.value);
  e.make = std::move(make);
}

bool PropertyBag::Has(const std::wstring& name) const { return entries_.count(Lower(name)) != 0; }

VARTYPE PropertyBag::TypeOf(const std::wstring& name) const {
  auto it = entries_.find(Lower(name));
  if (it == entries_.end()) return VT_ILLEGAL;
  return it->second.make ? static_cast<VARTYPE>(VT_DISPATCH) : V_VT(&it->second.value);
}

VARIANT PropertyBag::Get(const std::wstring& name) const {
  VARIANT v;
  VariantInit(&v);
  auto it = entries_.find(Lower(name));
  if (it != entries_.end() && !it->second.make) VariantCopy(&v, const_cast<VARIANT*>(&it->second.value));
  return v;
}

// ---------------------------------------------------------------- button

Button::Button() = default;
Button::~Button() { Remove(); }

HRESULT Button::Place(HWND parent, RECT twips, PropertyBag* bag, ButtonListener* listener, Button& out) {
  out.Remove();
  // The class by its identifier, from the library's type library, not by
  // its name: that would be one lookup more for every button.
  const CLSID& clsid = CLSID_Quillon;
#ifdef VELMORA_STARTUP_TRACE
  {
    // The traced build takes the library's loading apart from the making of
    // the button: once the class object is there, the library stays.
    ComPtr<IClassFactory> factory;
    CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                     reinterpret_cast<void**>(factory.Put()));
    VELMORA_MARK("  class object");
  }
#endif
  HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, reinterpret_cast<void**>(out.ole.Put()));
  if (FAILED(hr)) return hr;
  VELMORA_MARK("  CoCreateInstance");
  out.dispatch = out.ole.As<IDispatch>(IID_IDispatch);
  out.control = out.ole.As<_Quillon>(IID__Quillon);
  if (!out.dispatch || !out.control) return E_NOINTERFACE;

  const RECT pixels{TwipsToPixelsX(twips.left), TwipsToPixelsY(twips.top), TwipsToPixelsX(twips.right),
                    TwipsToPixelsY(twips.bottom)};
  out.site = ComPtr<ButtonSite>::Adopt(new ButtonSite(listener, parent, pixels));
  if (FAILED(hr = out.ole->SetClientSite(out.site.Get()))) return hr;

  // The sinks go on before the bag is loaded, so that the container hears of
  // every change the load makes.
  auto container = out.ole.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
  if (!container) return E_NOINTERFACE;
  ComPtr<IConnectionPoint> point;
  out.notify = ComPtr<ButtonNotifySink>::Adopt(new ButtonNotifySink(listener));
  if (FAILED(hr = container->FindConnectionPoint(IID_IPropertyNotifySink, point.Put()))) return hr;
  if (FAILED(hr = point->Advise(static_cast<IPropertyNotifySink*>(out.notify.Get()), &out.notifyCookie))) return hr;
  out.events = ComPtr<ButtonEventSink>::Adopt(new ButtonEventSink(listener));
  if (FAILED(hr = container->FindConnectionPoint(DIID___Quillon, point.Put()))) return hr;
  if (FAILED(hr = point->Advise(static_cast<IDispatch*>(out.events.Get()), &out.eventCookie))) return hr;

  auto persist = out.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  if (!persist) return E_NOINTERFACE;
  VELMORA_MARK("  site and sinks");
  hr = bag ? persist->Load(bag, nullptr) : persist->InitNew();
  if (FAILED(hr)) return hr;
  VELMORA_MARK("  property bag");

  SIZEL himetric{MulDiv(twips.right - twips.left, 2540, 1440), MulDiv(twips.bottom - twips.top, 2540, 1440)};
  if (FAILED(hr = out.ole->SetExtent(DVASPECT_CONTENT, &himetric))) return hr;
  RECT pos = pixels;
  if (FAILED(hr = out.ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, out.site.Get(), 0, parent, &pos))) return hr;
  auto window = out.ole.As<IOleInPlaceObject>(IID_IOleInPlaceObject);
  if (!window || FAILED(hr = window->GetWindow(&out.hwnd))) return FAILED(hr) ? hr : E_NOINTERFACE;
  return S_OK;
}

void Button::Remove() {
  if (!ole) return;
  if (auto container = ole.As<IConnectionPointContainer>(IID_IConnectionPointContainer)) {
    ComPtr<IConnectionPoint> point;
    if (eventCookie && SUCCEEDED(container->FindConnectionPoint(DIID___Quillon, point.Put())))
      point->Unadvise(eventCookie);
    if (notifyCookie && SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, point.Put())))
      point->Unadvise(notifyCookie);
  }
  ole->Close(OLECLOSE_NOSAVE);
  ole->SetClientSite(nullptr);
  eventCookie = notifyCookie = 0;
  hwnd = nullptr;
  control.Reset();
  dispatch.Reset();
  ole.Reset();
  site.Reset();
  events.Reset();
  notify.Reset();
}

HRESULT Button::PutById(DISPID id, VARIANT value, WORD flags, EXCEPINFO* info) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  EXCEPINFO local{};
  HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, info ? info : &local,
                                nullptr);
  if (!info) {
    SysFreeString(local.bstrSource);
    SysFreeString(local.bstrDescription);
    SysFreeString(local.bstrHelpFile);
  }
  return hr;
}

HRESULT Button::GetById(DISPID id, VARIANT& out) {
  VariantInit(&out);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr);
}

DISPID Button::IdOf(const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

void Button::SetCaption(const std::string& text) {
  if (!dispatch) RaiseRuntime(RuntimeError::kObjectNotSet);
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(Utf8ToWide(text).c_str());
  EXCEPINFO info{};
  const HRESULT hr = PutById(QUILLON_DISPID_BUTTONCAPTION, v, DISPATCH_PROPERTYPUT, &info);
  VariantClear(&v);
  if (FAILED(hr)) RaiseDispatchFailure(hr, info);
}

void Button::SetEnabled(bool enabled) {
  if (!dispatch) RaiseRuntime(RuntimeError::kObjectNotSet);
  VARIANT v;
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = enabled ? VARIANT_TRUE : VARIANT_FALSE;
  EXCEPINFO info{};
  const HRESULT hr = PutById(QUILLON_DISPID_BUTTONENABLED, v, DISPATCH_PROPERTYPUT, &info);
  if (FAILED(hr)) RaiseDispatchFailure(hr, info);
}

}  // namespace velmora
