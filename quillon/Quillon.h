#pragma once
// The Quillon push button as an OLE control: the COM face of ButtonModel.
// It draws into a child window of its own, which the container asks for by
// in-place activation.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "Accessible.h"
#include "ButtonModel.h"
#include "ComPtr.h"
#include "ConnectionPoint.h"
#include "Module.h"
#include "QuillonDispids.h"
#include "Quillon_h.h"

namespace quillon {

class Quillon final : public _Quillon,
                      public IOleObject,
                      public IOleInPlaceObject,
                      public IOleControl,
                      public IConnectionPointContainer,
                      public IPersistPropertyBag,
                      public IProvideClassInfo2,
                      public ISupportErrorInfo,
                      private ButtonPlatform,
                      private AccessibleSource {
 public:
  // Makes a button that has run its start-up.
  static HRESULT Create(REFIID iid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch, answered from the type library
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override;

  // _Quillon
  STDMETHODIMP put_ButtonEnabled(VARIANT_BOOL value) override;
  STDMETHODIMP get_ButtonEnabled(VARIANT_BOOL* value) override;
  STDMETHODIMP put_ButtonTextAlign(BtnAlign value) override;
  STDMETHODIMP get_ButtonTextAlign(BtnAlign* value) override;
  STDMETHODIMP put_ButtonPictureAlign(BtnAlign value) override;
  STDMETHODIMP get_ButtonPictureAlign(BtnAlign* value) override;
  STDMETHODIMP put_ButtonBackColor(OLE_COLOR value) override;
  STDMETHODIMP get_ButtonBackColor(OLE_COLOR* value) override;
  STDMETHODIMP put_ButtonForm(BtnForms value) override;
  STDMETHODIMP get_ButtonForm(BtnForms* value) override;
  STDMETHODIMP put_ButtonCaption(BSTR value) override;
  STDMETHODIMP get_ButtonCaption(BSTR* value) override;
  STDMETHODIMP get_ButtonPicture(IPictureDisp** value) override;
  STDMETHODIMP putref_ButtonPicture(IPictureDisp* value) override;
  STDMETHODIMP get_ButtonPictureStretch(VARIANT_BOOL* value) override;
  STDMETHODIMP put_ButtonPictureStretch(VARIANT_BOOL value) override;
  STDMETHODIMP get_ButtonFont(IFontDisp** value) override;
  STDMETHODIMP putref_ButtonFont(IFontDisp* value) override;
  STDMETHODIMP get_ButtonFontColor(OLE_COLOR* value) override;
  STDMETHODIMP put_ButtonFontColor(OLE_COLOR value) override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR obj) override;
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT posRect) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  STDMETHODIMP Unadvise(DWORD connection) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* pal) override;

  // IOleWindow / IOleInPlaceObject
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT posRect, LPCRECT clipRect) override;
  STDMETHODIMP ReactivateAndUndo() override;

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* msg) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IPersist / IPersistPropertyBag
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  Quillon();
  ~Quillon();
  HRESULT Initialise();

  // ButtonPlatform
  Extent MeasureCaption(const std::u16string& text) override;
  bool CursorIsOverButton() override;
  void SetTimerRunning(bool running) override;
  void Redraw() override;
  void RaiseClick() override;
  void RaiseMouseMove(int16_t button, int16_t shift, float x, float y) override;
  void RaiseMouseOver() override;
  void RaiseMouseOut() override;

  // AccessibleSource
  HWND AccessibleWindow() const override { return hwnd_; }
  std::wstring AccessibleName() const override;
  LONG AccessibleState() const override;
  bool AccessiblePress() override;

  // Reads the system's high-contrast setting into the looks.
  void ReadHighContrast();
  // ButtonEnabled was written: the window leaves the tab order while the
  // button is disabled, and assistive programs hear of the new state.
  void EnabledChanged();
  void Announce(DWORD event) const;

  void FireEvent(DISPID id, DISPPARAMS& params);
  void NotifyChanged(DISPID id);
  template <typename Write>
  HRESULT WriteProperty(DISPID id, Write write);
  HRESULT Fail(int32_t number);
  HRESULT NewDefaultFont(ComPtr<IFontDisp>& out);
  bool CopyFontAttribute(IDispatch& from, DISPID id);
  void RebuildCaptionFont();
  // The type information, loaded from the library's type library when a
  // caller first needs it.
  HRESULT LoadTypeInfo();
  // A property write through IDispatch of a value of the property's own
  // type, made without the type library. False when the call is one for
  // the type library (another type, a read, named or missing arguments).
  bool InvokeDirect(DISPID id, WORD flags, DISPPARAMS* params, EXCEPINFO* excepInfo, HRESULT* result);

  HRESULT ActivateInPlace(IOleClientSite* site, HWND parent, LPCRECT posRect);
  void ResizeFromExtent();
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  // The window's messages, one handler each.
  void OnSize(int width, int height);
  void OnPaint();
  void OnMouseMove(WPARAM keys, int x, int y);
  void OnButtonDown();
  void OnButtonUp(POINT at);
  LRESULT DialogCode(const MSG* m) const;
  void OnChar(int character);
  void OnSpace(bool down);
  void OnDefaultAction();
  // False when the object asked for is the system's.
  bool OnGetObject(WPARAM wp, LPARAM lp, LRESULT* result);
  void OnSettingsChanged();
  void OnFocus(bool gained);
  void OnTimer(UINT_PTR id);
  void Paint(HDC target);
  float TwipsX(int pixels) const { return pixels * twipsPerPixelX_; }
  float TwipsY(int pixels) const { return pixels * twipsPerPixelY_; }
  int PixelsX(float twips) const;
  int PixelsY(float twips) const;
  RECT PixelRect(const TwipsRect& r) const;

  ObjectCount counted_;
  LONG refs_ = 1;
  ButtonModel model_;
  ComPtr<ITypeInfo> typeInfo_;   // _Quillon, once asked for
  ComPtr<ITypeInfo> classInfo_;  // the coclass, once asked for
  ComPtr<IFont> captionFont_;    // lblCaption's own font object
  HFONT captionHFont_ = nullptr;
  LOGFONTW captionLogFont_{};      // what captionHFont_ was made from
  std::u16string measuredText_;    // the last text measured in captionHFont_
  Extent measured_{};              //   and its size
  bool measuredValid_ = false;
  ComPtr<IFontDisp> font_;  // ButtonFont as the host gave it
  ComPtr<IPictureDisp> picture_;
  ConnectionPoint events_;
  ConnectionPoint propertyNotify_;
  ComPtr<IOleClientSite> site_;
  ComPtr<IOleInPlaceSite> inPlaceSite_;  // while activated through it
  ComPtr<IOleAdviseHolder> adviseHolder_;
  ComPtr<ButtonAccessible> accessible_;  // made on the first WM_GETOBJECT
  SIZEL extent_{};                       // HIMETRIC
  HWND hwnd_ = nullptr;
  bool timerSet_ = false;
  bool pressed_ = false;
  LONG frozen_ = 0;
  float twipsPerPixelX_ = 15;
  float twipsPerPixelY_ = 15;
  int dpiX_ = 96;
  int dpiY_ = 96;
};

// Registers the button's window class; undone when the library unloads.
void UnregisterButtonClass();

}  // namespace quillon
