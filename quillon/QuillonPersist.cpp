// The button's persistence: IPersistPropertyBag. A stored button comes back
// through its properties, each with its side effects, and goes out with
// only what differs from a new button's values (or everything, if asked).
#include "Quillon.h"
#include "QuillonInternal.h"

namespace quillon {

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

// A bag answers E_INVALIDARG for a name it does not hold.
bool Missing(HRESULT hr) { return hr == E_INVALIDARG; }

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

}  // namespace quillon
