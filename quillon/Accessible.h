#pragma once
// The button as screen readers and other assistive programs see it: an
// IAccessible for the client area of the button's window, handed out on
// WM_GETOBJECT. Name, role, state, the default action and the place are the
// button's; what the system's own object for a window answers well (parent,
// navigation, hit testing, the focus, help) is passed on to it.

#include <windows.h>
#include <oleacc.h>

#include <string>

#include "ComPtr.h"
#include "Module.h"

namespace quillon {

// What the accessible object asks its button.
class AccessibleSource {
 public:
  virtual HWND AccessibleWindow() const = 0;
  virtual std::wstring AccessibleName() const = 0;
  virtual LONG AccessibleState() const = 0;
  // Starts the default action; false when the button refuses it.
  virtual bool AccessiblePress() = 0;

 protected:
  ~AccessibleSource() = default;
};

class ButtonAccessible final : public IAccessible, public IOleWindow {
 public:
  // Fails where the system's accessibility library (oleacc) is not there.
  static HRESULT Create(AccessibleSource& source, ComPtr<ButtonAccessible>& out);
  // The answer to WM_GETOBJECT that hands this object to the client.
  LRESULT Result(WPARAM wp);
  // The button is going away; a client may hold on to this object longer,
  // and from now on every call it makes fails as disconnected.
  void Detach();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch, from the accessibility type library where the system has one
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override;

  // IAccessible
  STDMETHODIMP get_accParent(IDispatch** parent) override;
  STDMETHODIMP get_accChildCount(LONG* count) override;
  STDMETHODIMP get_accChild(VARIANT child, IDispatch** out) override;
  STDMETHODIMP get_accName(VARIANT child, BSTR* name) override;
  STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override;
  STDMETHODIMP get_accDescription(VARIANT child, BSTR* description) override;
  STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override;
  STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override;
  STDMETHODIMP get_accHelp(VARIANT child, BSTR* help) override;
  STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override;
  STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
  STDMETHODIMP get_accFocus(VARIANT* focus) override;
  STDMETHODIMP get_accSelection(VARIANT* selection) override;
  STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override;
  STDMETHODIMP accSelect(LONG flags, VARIANT child) override;
  STDMETHODIMP accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override;
  STDMETHODIMP accNavigate(LONG direction, VARIANT start, VARIANT* end) override;
  STDMETHODIMP accHitTest(LONG x, LONG y, VARIANT* child) override;
  STDMETHODIMP accDoDefaultAction(VARIANT child) override;
  STDMETHODIMP put_accName(VARIANT child, BSTR name) override;
  STDMETHODIMP put_accValue(VARIANT child, BSTR value) override;

  // IOleWindow: how a client finds the window of an object
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

 private:
  explicit ButtonAccessible(AccessibleSource& source) : source_(&source) {}
  ~ButtonAccessible() = default;
  // S_OK when the object still has its button and `child` is the button
  // itself (it has no children).
  HRESULT Check(const VARIANT& child) const;
  ITypeInfo* TypeInfo();

  ObjectCount counted_;
  LONG refs_ = 1;
  AccessibleSource* source_;
  ComPtr<IAccessible> standard_;  // the system's object for the window's client area
  ComPtr<ITypeInfo> typeInfo_;
  bool typeInfoTried_ = false;
};

}  // namespace quillon
