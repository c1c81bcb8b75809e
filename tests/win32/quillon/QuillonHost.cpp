#include "QuillonHost.h"

#include <algorithm>

namespace host {

// ---------------------------------------------------------------- journal

int Journal::Count(const std::wstring& event) const {
  return static_cast<int>(std::count(events.begin(), events.end(), event));
}

void Journal::OnEvent(DISPID id, DISPPARAMS* params) {
  static const wchar_t* const names[] = {L"?", L"Click", L"Resize", L"MouseMove", L"MouseOver", L"MouseOut"};
  std::wstring entry = id >= 1 && id <= 5 ? names[id] : L"?";
  if (id == 3 && params && params->cArgs == 4) {
    // Arguments arrive last first, each by reference.
    VARIANT* a = params->rgvarg;
    if (V_VT(&a[3]) == (VT_I2 | VT_BYREF) && V_VT(&a[2]) == (VT_I2 | VT_BYREF) && V_VT(&a[1]) == (VT_R4 | VT_BYREF) &&
        V_VT(&a[0]) == (VT_R4 | VT_BYREF)) {
      entry += L" " + std::to_wstring(*V_I2REF(&a[3])) + L" " + std::to_wstring(*V_I2REF(&a[2])) + L" " +
               std::to_wstring(static_cast<int>(*V_R4REF(&a[1]))) + L" " +
               std::to_wstring(static_cast<int>(*V_R4REF(&a[0])));
    } else {
      entry += L" bad arguments";
    }
  }
  events.push_back(entry);
}

// The change notification carries a dispatch id only; the journal keeps the
// property's name, found in the type library the button's own file carries.
void Journal::OnChanged(DISPID id) {
  BSTR name = nullptr;
  UINT count = 0;
  ITypeInfo* info = TypeInfo();
  if (info && SUCCEEDED(info->GetNames(id, &name, 1, &count)) && count == 1) {
    changes.push_back(name);
    SysFreeString(name);
  } else {
    changes.push_back(L"#" + std::to_wstring(id));
  }
}

void Journal::OnFocus(bool gained) { focus.push_back(gained ? L"focus" : L"blur"); }

void Journal::OnActivation(bool active) { activation.push_back(active ? L"activate" : L"deactivate"); }

ITypeInfo* Journal::TypeInfo() {
  if (typeInfo_) return typeInfo_.Get();
  // A button has told us something, so its library is loaded.
  HMODULE module = GetModuleHandleW(L"Quillon2.dll");
  wchar_t path[MAX_PATH];
  if (!module || !GetModuleFileNameW(module, path, MAX_PATH)) return nullptr;
  ComPtr<ITypeLib> lib;
  if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, lib.Put()))) return nullptr;
  lib->GetTypeInfoOfGuid(IID__Quillon, typeInfo_.Put());
  return typeInfo_.Get();
}

// ---------------------------------------------------------------- property bag

ComPtr<RecordingBag> RecordingBag::New() { return ComPtr<RecordingBag>::Adopt(new RecordingBag()); }

STDMETHODIMP RecordingBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  written.push_back(name);
  if (failWriteOf != S_OK && _wcsicmp(name, failName.c_str()) == 0) return failWriteOf;
  return PropertyBag::Write(name, value);
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
  hwnd = CreateWindowExW(0, L"QuillonTestHost", L"Quillon test host", WS_POPUP | WS_CLIPCHILDREN, x, y, width, height,
                         nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
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
      if (msg.message == WM_TIMER && timerTicks && std::find(watched.begin(), watched.end(), msg.hwnd) != watched.end())
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

Snapshot Take(HWND hwnd, HBRUSH background) {
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
  if (background) FillRect(dc, &r, background);
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
  auto entry = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  return entry ? entry() : E_FAIL;
}

}  // namespace host
