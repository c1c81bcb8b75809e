// The container side of Quillon buttons: the control site, the property bag a
// button loads its settings from, and the sinks that hear its events and its
// change notifications. Every window that holds buttons places them here.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "QuillonDispids.h"
#include "Quillon_h.h"
#include "SingleInterfaceObject.h"
#include "windows/WinUtil.h"

namespace velmora {

using quillon::ComPtr;

// What a button tells its container. The windows listen for Click only.
class ButtonListener {
 public:
  virtual ~ButtonListener() = default;
  virtual void OnEvent(DISPID /*id*/, DISPPARAMS* /*params*/) {}
  virtual void OnChanged(DISPID /*id*/) {}
  virtual void OnFocus(bool /*gained*/) {}
  virtual void OnActivation(bool /*active*/) {}
};

// A stream over its own copy of `size` bytes, for objects to load from.
HRESULT StreamOnCopy(const void* bytes, std::size_t size, ComPtr<IStream>& out);

// IPropertyBag over named entries, names kept in lower case and matched
// without regard to case. An object entry is made anew on every read, from
// its persisted form or by a factory (a layout's icon file, a font).
class PropertyBag : public quillon::SingleInterfaceObject<IPropertyBag> {
 public:
  using Factory = std::function<HRESULT(IDispatch** made)>;

  static ComPtr<PropertyBag> New();
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override;

  void Put(const std::wstring& name, const VARIANT& value);
  // Keeps the object in its persisted form (what the object writes of itself).
  void PutObject(const std::wstring& name, IUnknown* object);
  void PutFactory(const std::wstring& name, Factory make);
  bool Has(const std::wstring& name) const;
  VARTYPE TypeOf(const std::wstring& name) const;
  VARIANT Get(const std::wstring& name) const;  // a copy; objects come back as VT_EMPTY

 protected:
  PropertyBag() = default;
  ~PropertyBag() override;

 private:
  struct Entry {
    VARIANT value{};
    Factory make;  // set for an object entry
  };
  std::map<std::wstring, Entry> entries_;
};

class ButtonSite;
class ButtonEventSink;
class ButtonNotifySink;

// One embedded button.
class Button {
 public:
  // Creates the button by ProgID, connects the sinks, loads the bag (or
  // InitNew when bag is null), sizes it and activates it in `parent` at a
  // rectangle given in twips. The listener must outlive the button.
  static HRESULT Place(HWND parent, RECT twips, PropertyBag* bag, ButtonListener* listener, Button& out);
  Button();
  Button(const Button&) = delete;
  Button& operator=(const Button&) = delete;
  ~Button();
  // Disconnects and closes the button and lets go of every reference.
  void Remove();

  HWND Window() const { return hwnd; }
  IDispatch* Dispatch() const { return dispatch.Get(); }
  _Quillon* Control() const { return control.Get(); }
  IOleObject* Ole() const { return ole.Get(); }

  // Late-bound access, as a host that knows only names or ids.
  HRESULT PutById(DISPID id, VARIANT value, WORD flags = DISPATCH_PROPERTYPUT, EXCEPINFO* info = nullptr);
  HRESULT GetById(DISPID id, VARIANT& out);
  DISPID IdOf(const wchar_t* name);

  // Property writes of the windows. A failure raises the error the control
  // reported, as a late-bound property write would.
  void SetCaption(const std::string& text);
  void SetEnabled(bool enabled);

  ComPtr<IOleObject> ole;
  ComPtr<IDispatch> dispatch;
  ComPtr<_Quillon> control;
  ComPtr<ButtonSite> site;
  ComPtr<ButtonEventSink> events;
  ComPtr<ButtonNotifySink> notify;
  DWORD eventCookie = 0, notifyCookie = 0;
  HWND hwnd = nullptr;
};

}  // namespace velmora
