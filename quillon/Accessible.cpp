#include "Accessible.h"

#include <new>

#include "SystemLibrary.h"

namespace quillon {

namespace {

constexpr wchar_t kDefaultAction[] = L"Press";

// The IAccessible id as the header declares it: the import library of oleacc,
// which the library does not link, has a thunk of that name, not the GUID.
const IID& AccessibleIid() { return __uuidof(IAccessible); }

bool IsSelf(const VARIANT& child) { return V_VT(&child) == VT_I4 && V_I4(&child) == CHILDID_SELF; }

}  // namespace

HRESULT ButtonAccessible::Create(AccessibleSource& source, ComPtr<ButtonAccessible>& out) {
  const auto createStandard = QUILLON_SYSTEM_FUNCTION(L"oleacc.dll", CreateStdAccessibleObject);
  if (!createStandard) return E_NOTIMPL;
  ComPtr<IAccessible> standard;
  HRESULT hr = createStandard(source.AccessibleWindow(), OBJID_CLIENT, AccessibleIid(),
                              reinterpret_cast<void**>(standard.Put()));
  if (FAILED(hr)) return hr;
  auto* made = new (std::nothrow) ButtonAccessible(source);
  if (!made) return E_OUTOFMEMORY;
  made->standard_ = standard;
  out = ComPtr<ButtonAccessible>::Adopt(made);
  return S_OK;
}

LRESULT ButtonAccessible::Result(WPARAM wp) {
  // Looked up with CreateStdAccessibleObject, from the same DLL.
  const auto result = QUILLON_SYSTEM_FUNCTION(L"oleacc.dll", LresultFromObject);
  return result ? result(AccessibleIid(), wp, static_cast<IAccessible*>(this)) : 0;
}

void ButtonAccessible::Detach() {
  source_ = nullptr;
  standard_.Reset();
}

HRESULT ButtonAccessible::Check(const VARIANT& child) const {
  if (!source_) return CO_E_OBJNOTCONNECTED;
  return IsSelf(child) ? S_OK : E_INVALIDARG;
}

// ---------------------------------------------------------------- IUnknown

STDMETHODIMP ButtonAccessible::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == AccessibleIid()) *out = static_cast<IAccessible*>(this);
  else if (iid == IID_IOleWindow) *out = static_cast<IOleWindow*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ButtonAccessible::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) ButtonAccessible::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// ---------------------------------------------------------------- IDispatch

// Late-bound clients are served from the system's accessibility type
// library; where the system has none, there is no late binding.
ITypeInfo* ButtonAccessible::TypeInfo() {
  if (!typeInfoTried_) {
    typeInfoTried_ = true;
    ComPtr<ITypeLib> lib;
    const std::wstring path = SystemPath(L"oleacc.dll");
    if (!path.empty() && SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Put())))
      lib->GetTypeInfoOfGuid(AccessibleIid(), typeInfo_.Put());
  }
  return typeInfo_.Get();
}

STDMETHODIMP ButtonAccessible::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = TypeInfo() ? 1 : 0;
  return S_OK;
}

STDMETHODIMP ButtonAccessible::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0 || !TypeInfo()) return DISP_E_BADINDEX;
  typeInfo_.CopyTo(out);
  return S_OK;
}

STDMETHODIMP ButtonAccessible::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = TypeInfo();
  return info ? info->GetIDsOfNames(names, count, ids) : E_NOTIMPL;
}

STDMETHODIMP ButtonAccessible::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                      EXCEPINFO* excepInfo, UINT* argErr) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = TypeInfo();
  if (!info) return E_NOTIMPL;
  return info->Invoke(static_cast<IAccessible*>(this), id, flags, params, result, excepInfo, argErr);
}

// ---------------------------------------------------------------- the button's own answers

STDMETHODIMP ButtonAccessible::get_accName(VARIANT child, BSTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  if (HRESULT hr = Check(child); FAILED(hr)) return hr;
  const std::wstring text = source_->AccessibleName();
  if (text.empty()) return S_FALSE;
  *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *name ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ButtonAccessible::get_accRole(VARIANT child, VARIANT* role) {
  if (!role) return E_POINTER;
  VariantInit(role);
  if (HRESULT hr = Check(child); FAILED(hr)) return hr;
  V_VT(role) = VT_I4;
  V_I4(role) = ROLE_SYSTEM_PUSHBUTTON;
  return S_OK;
}

STDMETHODIMP ButtonAccessible::get_accState(VARIANT child, VARIANT* state) {
  if (!state) return E_POINTER;
  VariantInit(state);
  if (HRESULT hr = Check(child); FAILED(hr)) return hr;
  V_VT(state) = VT_I4;
  V_I4(state) = source_->AccessibleState();
  return S_OK;
}

STDMETHODIMP ButtonAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
  if (!action) return E_POINTER;
  *action = nullptr;
  if (HRESULT hr = Check(child); FAILED(hr)) return hr;
  *action = SysAllocString(kDefaultAction);
  return *action ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ButtonAccessible::accDoDefaultAction(VARIANT child) {
  if (HRESULT hr = Check(child); FAILED(hr)) return hr;
  return source_->AccessiblePress() ? S_OK : E_FAIL;
}

STDMETHODIMP ButtonAccessible::accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) {
  if (!left || !top || !width || !height) return E_POINTER;
  *left = *top = *width = *height = 0;
  if (HRESULT hr = Check(child); FAILED(hr)) return hr;
  RECT r;
  if (!GetWindowRect(source_->AccessibleWindow(), &r)) return E_FAIL;
  *left = r.left;
  *top = r.top;
  *width = r.right - r.left;
  *height = r.bottom - r.top;
  return S_OK;
}

STDMETHODIMP ButtonAccessible::get_accChildCount(LONG* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return source_ ? S_OK : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = source_ ? source_->AccessibleWindow() : nullptr;
  return *hwnd ? S_OK : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// ---------------------------------------------------------------- passed on to the system's object

STDMETHODIMP ButtonAccessible::get_accParent(IDispatch** parent) {
  if (!parent) return E_POINTER;
  *parent = nullptr;
  return standard_ ? standard_->get_accParent(parent) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accChild(VARIANT child, IDispatch** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return standard_ ? standard_->get_accChild(child, out) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accValue(VARIANT child, BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  return standard_ ? standard_->get_accValue(child, value) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accDescription(VARIANT child, BSTR* description) {
  if (!description) return E_POINTER;
  *description = nullptr;
  return standard_ ? standard_->get_accDescription(child, description) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accHelp(VARIANT child, BSTR* help) {
  if (!help) return E_POINTER;
  *help = nullptr;
  return standard_ ? standard_->get_accHelp(child, help) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) {
  if (!file || !topic) return E_POINTER;
  *file = nullptr;
  *topic = 0;
  return standard_ ? standard_->get_accHelpTopic(file, child, topic) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) {
  if (!shortcut) return E_POINTER;
  *shortcut = nullptr;
  return standard_ ? standard_->get_accKeyboardShortcut(child, shortcut) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accFocus(VARIANT* focus) {
  if (!focus) return E_POINTER;
  VariantInit(focus);
  return standard_ ? standard_->get_accFocus(focus) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::get_accSelection(VARIANT* selection) {
  if (!selection) return E_POINTER;
  VariantInit(selection);
  return standard_ ? standard_->get_accSelection(selection) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::accSelect(LONG flags, VARIANT child) {
  return standard_ ? standard_->accSelect(flags, child) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::accNavigate(LONG direction, VARIANT start, VARIANT* end) {
  if (!end) return E_POINTER;
  VariantInit(end);
  return standard_ ? standard_->accNavigate(direction, start, end) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::accHitTest(LONG x, LONG y, VARIANT* child) {
  if (!child) return E_POINTER;
  VariantInit(child);
  return standard_ ? standard_->accHitTest(x, y, child) : CO_E_OBJNOTCONNECTED;
}

STDMETHODIMP ButtonAccessible::put_accName(VARIANT, BSTR) { return E_NOTIMPL; }
STDMETHODIMP ButtonAccessible::put_accValue(VARIANT, BSTR) { return E_NOTIMPL; }

}  // namespace quillon
