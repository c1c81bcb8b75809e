#pragma once
// A small but real OLE container for Quillon buttons: a parent window, a
// control site, a property bag, an event sink and a property-change sink.
// The program's windows embed their buttons the same way.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "Quillon_h.h"
#include "SingleInterfaceObject.h"

namespace host {

using quillon::ComPtr;

// Everything a button told its container, in order.
struct Journal {
    std::vector<std::wstring> events;    // "Click", "MouseOver", ... "MouseMove 1 0 15 30"
    std::vector<std::wstring> changes;   // property names from OnChanged
    std::vector<std::wstring> focus;     // "focus", "blur" from IOleControlSite::OnFocus
    std::vector<std::wstring> activation;
    int Count(const std::wstring& event) const;
    void Clear() {
        events.clear();
        changes.clear();
        focus.clear();
        activation.clear();
    }
};

// IPropertyBag over named values, names kept in lower case and matched
// without regard to case. Objects are kept in their persisted form (the
// stream an object writes of itself) and made anew on every read.
class PropertyBag final : public quillon::SingleInterfaceObject<IPropertyBag> {
public:
    static ComPtr<PropertyBag> New();
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override;

    void Put(const std::wstring& name, const VARIANT& value);  // as a stored layout would
    void PutObject(const std::wstring& name, IUnknown* object);
    bool Has(const std::wstring& name) const;
    VARTYPE TypeOf(const std::wstring& name) const;
    VARIANT Get(const std::wstring& name) const;  // a copy; objects come back as VT_EMPTY
    std::vector<std::wstring> written;             // names in the order Write saw them
    HRESULT failWriteOf = S_OK;                    // make Write of `failName` fail with this
    std::wstring failName;

private:
    PropertyBag() = default;
    ~PropertyBag() override;
    struct Entry {
        VARIANT value;
        std::vector<BYTE> object;  // persisted object, when value is VT_EMPTY
        bool isObject = false;
    };
    std::map<std::wstring, Entry> entries_;
};

class Site;
class EventSink;
class NotifySink;

// One embedded button.
class Button {
public:
    // Creates by ProgID, connects the sinks, loads the bag (or InitNew when
    // bag is null), sizes and activates it in `parent` at a rectangle in twips.
    static HRESULT Place(HWND parent, RECT twips, PropertyBag* bag, Journal& journal, Button& out);
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

    ComPtr<IOleObject> ole;
    ComPtr<IDispatch> dispatch;
    ComPtr<_Quillon> control;
    ComPtr<Site> site;
    ComPtr<EventSink> events;
    ComPtr<NotifySink> notify;
    DWORD eventCookie = 0, notifyCookie = 0;
    HWND hwnd = nullptr;
};

// A plain top-level window that holds buttons.
class HostWindow {
public:
    explicit HostWindow(int x = 100, int y = 100, int width = 640, int height = 480);
    ~HostWindow();
    HWND hwnd = nullptr;
};

int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);

// Runs the message loop for a while. `timerTicks` counts WM_TIMER messages
// meant for any of `watched`.
void Pump(DWORD milliseconds, const std::vector<HWND>& watched = {}, int* timerTicks = nullptr);
// Runs the message loop until `done` says so or `limit` ms have passed; a
// busy machine may hold timer messages back for a while.
bool PumpUntil(const std::function<bool()>& done, DWORD limit = 3000);

// The client area of a window as it paints itself, 0x00RRGGBB per pixel.
struct Snapshot {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;
    COLORREF At(int x, int y) const;  // as a COLORREF (0x00BBGGRR)
};
Snapshot Take(HWND hwnd);

// Pictures for tests: an icon with `size` x `size` pixels in one colour.
ComPtr<IPictureDisp> SolidIcon(int size, COLORREF colour);
// A picture object loaded from icon-file bytes, as a host loads its layout's icons.
ComPtr<IPictureDisp> PictureFromBytes(const std::vector<BYTE>& bytes);
ComPtr<IFontDisp> Font(const wchar_t* name, double points, bool bold = false);

// The library's own entry point, to ask it whether it could be unloaded.
HRESULT CanUnloadNow();

}  // namespace host
