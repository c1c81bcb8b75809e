#include "QuillonHost.h"

#include <algorithm>
#include <cwctype>
#include <new>

namespace host {

namespace {

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

int Dpi(int index) {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, index);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

}  // namespace

int Journal::Count(const std::wstring& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

int TwipsToPixelsX(int twips) { return MulDiv(twips, Dpi(LOGPIXELSX), 1440); }
int TwipsToPixelsY(int twips) { return MulDiv(twips, Dpi(LOGPIXELSY), 1440); }

// ---------------------------------------------------------------- sinks

// __Quillon through IDispatch: records each event with its arguments.
class EventSink final : public quillon::SingleInterfaceObject<IDispatch> {
public:
    explicit EventSink(Journal& journal) : journal_(journal) {}
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        static const wchar_t* const names[] = {L"?", L"Click", L"Resize", L"MouseMove", L"MouseOver", L"MouseOut"};
        std::wstring entry = id >= 1 && id <= 5 ? names[id] : L"?";
        if (id == 3 && params && params->cArgs == 4) {
            // Arguments arrive last first, each by reference.
            VARIANT* a = params->rgvarg;
            if (V_VT(&a[3]) == (VT_I2 | VT_BYREF) && V_VT(&a[2]) == (VT_I2 | VT_BYREF) &&
                V_VT(&a[1]) == (VT_R4 | VT_BYREF) && V_VT(&a[0]) == (VT_R4 | VT_BYREF)) {
                entry += L" " + std::to_wstring(*V_I2REF(&a[3])) + L" " + std::to_wstring(*V_I2REF(&a[2])) + L" " +
                         std::to_wstring(static_cast<int>(*V_R4REF(&a[1]))) + L" " +
                         std::to_wstring(static_cast<int>(*V_R4REF(&a[0])));
            } else {
                entry += L" bad arguments";
            }
        }
        journal_.events.push_back(entry);
        return S_OK;
    }

private:
    bool AnswersAlso(REFIID iid) const override { return iid == DIID___Quillon; }
    Journal& journal_;
};

// The container's side of the change notification: it turns the dispatch id
// into the property's name through the control's type information.
class NotifySink final : public quillon::SingleInterfaceObject<IPropertyNotifySink> {
public:
    NotifySink(Journal& journal, IDispatch* control) : journal_(journal) {
        control->GetTypeInfo(0, LOCALE_USER_DEFAULT, typeInfo_.Put());
    }
    STDMETHODIMP OnChanged(DISPID id) override {
        BSTR name = nullptr;
        UINT count = 0;
        if (typeInfo_ && SUCCEEDED(typeInfo_->GetNames(id, &name, 1, &count)) && count == 1) {
            journal_.changes.push_back(name);
            SysFreeString(name);
        } else {
            journal_.changes.push_back(L"#" + std::to_wstring(id));
        }
        return S_OK;
    }
    STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }

private:
    Journal& journal_;
    ComPtr<ITypeInfo> typeInfo_;
};

// The control site: where the button lives and whom it tells about focus.
class Site final : public IOleClientSite, public IOleInPlaceSite, public IOleControlSite {
public:
    Site(Journal& journal, HWND parent, RECT pixels) : journal_(journal), parent_(parent), rect_(pixels) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) *out = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleControlSite) *out = static_cast<IOleControlSite*>(this);
        else {
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
        journal_.activation.push_back(L"activate");
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
        journal_.activation.push_back(L"deactivate");
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
        journal_.focus.push_back(gained ? L"focus" : L"blur");
        return S_OK;
    }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

private:
    Journal& journal_;
    HWND parent_;
    RECT rect_;
    ULONG refs_ = 1;
};

// ---------------------------------------------------------------- property bag

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
    if (it->second.isObject) {
        // The object is made anew from its persisted form.
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, it->second.object.size());
        if (!memory) return E_OUTOFMEMORY;
        std::copy(it->second.object.begin(), it->second.object.end(), static_cast<BYTE*>(GlobalLock(memory)));
        GlobalUnlock(memory);
        ComPtr<IStream> stream;
        HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, stream.Put());
        if (FAILED(hr)) {
            GlobalFree(memory);
            return hr;
        }
        ComPtr<IDispatch> object;
        hr = OleLoadFromStream(stream.Get(), IID_IDispatch, reinterpret_cast<void**>(object.Put()));
        if (FAILED(hr)) return hr;
        V_VT(value) = VT_DISPATCH;
        object.CopyTo(&V_DISPATCH(value));
        return S_OK;
    }
    HRESULT hr = VariantCopy(value, &it->second.value);
    if (SUCCEEDED(hr) && wanted != VT_EMPTY && wanted != VT_DISPATCH && wanted != VT_UNKNOWN &&
        wanted != V_VT(value))
        hr = VariantChangeType(value, value, 0, wanted);
    return hr;
}

STDMETHODIMP PropertyBag::Write(LPCOLESTR name, VARIANT* value) {
    if (!name || !value) return E_POINTER;
    written.push_back(name);
    if (failWriteOf != S_OK && Lower(name) == Lower(failName)) return failWriteOf;
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
    e.isObject = false;
    e.object.clear();
    VariantCopy(&e.value, const_cast<VARIANT*>(&value));
}

void PropertyBag::PutObject(const std::wstring& name, IUnknown* object) {
    Entry& e = entries_[Lower(name)];
    VariantClear(&e.value);
    e.isObject = true;
    e.object.clear();
    ComPtr<IPersistStream> persist;
    if (!object || FAILED(object->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(persist.Put()))))
        return;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) return;
    if (FAILED(OleSaveToStream(persist.Get(), stream.Get()))) return;
    HGLOBAL memory = nullptr;
    GetHGlobalFromStream(stream.Get(), &memory);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(memory));
    e.object.assign(bytes, bytes + stat.cbSize.QuadPart);
    GlobalUnlock(memory);
}

bool PropertyBag::Has(const std::wstring& name) const { return entries_.count(Lower(name)) != 0; }

VARTYPE PropertyBag::TypeOf(const std::wstring& name) const {
    auto it = entries_.find(Lower(name));
    if (it == entries_.end()) return VT_ILLEGAL;
    return it->second.isObject ? static_cast<VARTYPE>(VT_DISPATCH) : V_VT(&it->second.value);
}

VARIANT PropertyBag::Get(const std::wstring& name) const {
    VARIANT v;
    VariantInit(&v);
    auto it = entries_.find(Lower(name));
    if (it != entries_.end() && !it->second.isObject) VariantCopy(&v, const_cast<VARIANT*>(&it->second.value));
    return v;
}

// ---------------------------------------------------------------- button

Button::Button() = default;
Button::~Button() { Remove(); }

HRESULT Button::Place(HWND parent, RECT twips, PropertyBag* bag, Journal& journal, Button& out) {
    out.Remove();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"Quillon2.Quillon", &clsid);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, reinterpret_cast<void**>(out.ole.Put()));
    if (FAILED(hr)) return hr;
    out.dispatch = out.ole.As<IDispatch>(IID_IDispatch);
    out.control = out.ole.As<_Quillon>(IID__Quillon);
    if (!out.dispatch || !out.control) return E_NOINTERFACE;

    const RECT pixels{TwipsToPixelsX(twips.left), TwipsToPixelsY(twips.top), TwipsToPixelsX(twips.right),
                      TwipsToPixelsY(twips.bottom)};
    out.site = ComPtr<Site>::Adopt(new Site(journal, parent, pixels));
    if (FAILED(hr = out.ole->SetClientSite(out.site.Get()))) return hr;

    // The sinks go on before the bag is loaded, so that the container sees
    // every change the load makes.
    auto container = out.ole.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!container) return E_NOINTERFACE;
    ComPtr<IConnectionPoint> point;
    out.notify = ComPtr<NotifySink>::Adopt(new NotifySink(journal, out.dispatch.Get()));
    if (FAILED(hr = container->FindConnectionPoint(IID_IPropertyNotifySink, point.Put()))) return hr;
    if (FAILED(hr = point->Advise(static_cast<IPropertyNotifySink*>(out.notify.Get()), &out.notifyCookie))) return hr;
    out.events = ComPtr<EventSink>::Adopt(new EventSink(journal));
    if (FAILED(hr = container->FindConnectionPoint(DIID___Quillon, point.Put()))) return hr;
    if (FAILED(hr = point->Advise(static_cast<IDispatch*>(out.events.Get()), &out.eventCookie))) return hr;

    auto persist = out.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
    if (!persist) return E_NOINTERFACE;
    hr = bag ? persist->Load(bag, nullptr) : persist->InitNew();
    if (FAILED(hr)) return hr;

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

// ---------------------------------------------------------------- window

namespace {

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd, msg, wp, lp); }

}  // namespace

HostWindow::HostWindow(int x, int y, int width, int height) {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = L"QuillonTestHost";
        return RegisterClassW(&wc);
    }();
    (void)atom;
    hwnd = CreateWindowExW(0, L"QuillonTestHost", L"Quillon test host", WS_POPUP | WS_CLIPCHILDREN, x, y, width,
                           height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    UpdateWindow(hwnd);
}

HostWindow::~HostWindow() {
    if (hwnd) DestroyWindow(hwnd);
}

void Pump(DWORD milliseconds, const std::vector<HWND>& watched, int* timerTicks) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && timerTicks &&
                std::find(watched.begin(), watched.end(), msg.hwnd) != watched.end())
                ++*timerTicks;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD limit) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= limit) return false;
        Pump(10);
    }
    return true;
}

// ---------------------------------------------------------------- pixels

COLORREF Snapshot::At(int x, int y) const {
    const DWORD p = pixels.at(static_cast<size_t>(y) * width + x);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

Snapshot Take(HWND hwnd) {
    Snapshot s;
    RECT r;
    GetClientRect(hwnd, &r);
    s.width = r.right;
    s.height = r.bottom;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = s.width;
    bi.bmiHeader.biHeight = -s.height;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(bits);
    s.pixels.assign(p, p + static_cast<size_t>(s.width) * s.height);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return s;
}

// ---------------------------------------------------------------- objects

ComPtr<IPictureDisp> SolidIcon(int size, COLORREF colour) {
    HDC screen = GetDC(nullptr);
    HBITMAP colourBits = CreateCompatibleBitmap(screen, size, size);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, colourBits);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT r{0, 0, size, size};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    std::vector<BYTE> maskBits(static_cast<size_t>((size + 15) / 16 * 2) * size, 0);  // all opaque
    HBITMAP mask = CreateBitmap(size, size, 1, 1, maskBits.data());
    ICONINFO info{TRUE, 0, 0, mask, colourBits};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colourBits);
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_ICON;
    desc.icon.hicon = icon;
    ComPtr<IPictureDisp> picture;
    OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture.Put()));
    return picture;
}

ComPtr<IPictureDisp> PictureFromBytes(const std::vector<BYTE>& bytes) {
    ComPtr<IPictureDisp> picture;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!memory) return picture;
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(GlobalLock(memory)));
    GlobalUnlock(memory);
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, stream.Put()))) {
        GlobalFree(memory);
        return picture;
    }
    OleLoadPicture(stream.Get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPictureDisp,
                   reinterpret_cast<void**>(picture.Put()));
    return picture;
}

ComPtr<IFontDisp> Font(const wchar_t* name, double points, bool bold) {
    FONTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.lpstrName = const_cast<LPOLESTR>(name);
    desc.cySize.int64 = static_cast<LONGLONG>(points * 10000 + 0.5);
    desc.sWeight = bold ? FW_BOLD : FW_NORMAL;
    desc.sCharset = ANSI_CHARSET;
    ComPtr<IFontDisp> font;
    OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(font.Put()));
    return font;
}

HRESULT CanUnloadNow() {
    HMODULE module = GetModuleHandleW(L"Quillon2.dll");
    if (!module) return S_OK;  // not loaded at all
    auto entry = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return entry ? entry() : E_FAIL;
}

}  // namespace host
