// The eight Quillon buttons of the program's windows, each four times (for
// the resting, hovered, focused and disabled look), loaded from property
// bags as the windows' stored layouts hold them, and below them one button
// as the system's high-contrast setting shows it. The gallery check drives it
// under Xvfb: it hovers and focuses the buttons with the real pointer and
// takes the screenshots.
//
//   quillon_gallery.exe [colours-file]
//
// writes the system colours the high-contrast row draws with to the file,
// one "name #RRGGBB" a line, for the check to look for.

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "QuillonDispids.h"
#include "FakeHighContrast.h"
#include "QuillonHost.h"

namespace {

using host::Button;
using host::ComPtr;
using host::PropertyBag;

// Where the cells are, in pixels; tests/checks/20-quillon-gallery.sh knows these too.
constexpr int kLeft = 170, kColumnWidth = 200, kTop = 36, kRowHeight = 56, kButtonInset = 8;
const wchar_t* const kColumns[] = {L"resting", L"hovered", L"focused", L"disabled"};

struct Instance {
  const wchar_t* window;
  const wchar_t* name;
  int width, height;  // twips
  const wchar_t* caption;
  int form;  // -1: no entry
  LONG backColour;
  int icon;  // resource id, 0: none
  double fontSize;
  int textAlign;  // -1: no entry
  int stretch;    // -1: no entry, else 0 or 1
  bool highContrast = false;
};

const Instance kInstances[] = {
    {L"main", L"qbtnRemoveBanner", 2535, 615, L"Banner entfernen", 4, static_cast<LONG>(0x80000018), 101, 8.25, 0, 0},
    {L"main", L"qbtnOpen", 2535, 615, L"Bild öffnen", 4, static_cast<LONG>(0x80000018), 102, 8.25, 0, 0},
    {L"main", L"qbtnApply", 2535, 615, L"Änderungen übernehmen", 4, static_cast<LONG>(0x80000018), 103, 8.25, 0, 0},
    {L"main", L"qbtnCheckUpdate", 2535, 615, L"Nach Updates suchen", 4, static_cast<LONG>(0x80000005), 104, 8.25, 0, 0},
    {L"main", L"qbtnSettings", 1815, 615, L"Einstellungen", 4, static_cast<LONG>(0x80000005), 105, 8.25, 0, 0},
    {L"main", L"qbtnInfo", 615, 615, L"", 4, static_cast<LONG>(0x80000005), 106, 8.25, 0, 0},
    {L"error report", L"qbtnCopy", 2655, 375, L"Fehlerbericht kopieren", -1, static_cast<LONG>(0x80000005), 0, 9.75, -1,
     -1},
    {L"about", L"qbtnOk", 1455, 495, L"Ok", 4, static_cast<LONG>(0x80000005), 0, 9.75, -1, -1},
    {L"main", L"qbtnApply", 2535, 615, L"Änderungen übernehmen", 4, static_cast<LONG>(0x80000018), 103, 8.25, 0, 0,
     true},
};

// "#RRGGBB" of a system colour.
std::string Hex(int index) {
  const COLORREF c = GetSysColor(index);
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

void WriteColours(const wchar_t* path) {
  FILE* out = _wfopen(path, L"w");
  if (!out) return;
  std::fprintf(out, "face %s\ntext %s\nhighlight %s\ngray %s\n", Hex(COLOR_BTNFACE).c_str(), Hex(COLOR_BTNTEXT).c_str(),
               Hex(COLOR_HIGHLIGHT).c_str(), Hex(COLOR_GRAYTEXT).c_str());
  std::fclose(out);
}

std::vector<BYTE> ResourceBytes(int id) {
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!res) return {};
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
  return std::vector<BYTE>(data, data + SizeofResource(nullptr, res));
}

// The bag of one instance as the stored layout holds it: lower-case names,
// no entry where the table says "absent".
ComPtr<PropertyBag> BagOf(const Instance& in) {
  auto bag = PropertyBag::New();
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(in.caption);
  bag->Put(L"buttoncaption", v);
  VariantClear(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = in.backColour;
  bag->Put(L"buttonbackcolor", v);
  if (in.form >= 0) {
    V_I4(&v) = in.form;
    bag->Put(L"buttonform", v);
  }
  if (in.textAlign >= 0) {
    V_I4(&v) = in.textAlign;
    bag->Put(L"buttontextalign", v);
  }
  if (in.stretch >= 0) {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = in.stretch ? VARIANT_TRUE : VARIANT_FALSE;
    bag->Put(L"buttonpicturestretch", v);
  }
  if (in.icon) {
    ComPtr<IPictureDisp> icon = host::PictureFromBytes(ResourceBytes(in.icon));
    bag->PutObject(L"buttonpicture", icon.Get());
  }
  bag->PutObject(L"buttonfont", host::Font(L"MS Sans Serif", in.fontSize).Get());
  return bag;
}

LRESULT CALLBACK GalleryProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      SetBkMode(dc, TRANSPARENT);
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      for (int col = 0; col < 4; ++col) {
        RECT r{kLeft + col * kColumnWidth, 8, kLeft + (col + 1) * kColumnWidth, kTop};
        DrawTextW(dc, kColumns[col], -1, &r, DT_LEFT | DT_SINGLELINE);
      }
      int row = 0;
      for (const auto& in : kInstances) {
        RECT r{8, kTop + row * kRowHeight + kButtonInset, kLeft - 8, kTop + (row + 1) * kRowHeight};
        std::wstring label = std::wstring(in.name) + L"\n(" +
                             (in.highContrast ? L"high contrast" : in.window + std::wstring(L" window")) + L")";
        DrawTextW(dc, label.c_str(), -1, &r, DT_LEFT);
        ++row;
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CLOSE: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(3); }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  if (FAILED(OleInitialize(nullptr))) return 2;
  WNDCLASSW wc{};
  wc.lpfnWndProc = GalleryProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = L"QuillonGallery";
  RegisterClassW(&wc);
  const int rows = static_cast<int>(sizeof kInstances / sizeof kInstances[0]);
  HWND window =
      CreateWindowExW(0, L"QuillonGallery", L"Quillon gallery", WS_POPUP | WS_CLIPCHILDREN, 0, 0,
                      kLeft + 4 * kColumnWidth, kTop + rows * kRowHeight + 8, nullptr, nullptr, instance, nullptr);

  host::Journal journal;
  std::vector<std::unique_ptr<Button>> buttons;
  int status = 0;
  std::unique_ptr<host::FakeHighContrast> contrast;
  for (int row = 0; row < rows; ++row) {
    const Instance& in = kInstances[row];
    // The setting is on while the high-contrast row is made: its buttons read
    // it as they are made, the others keep their own look.
    if (in.highContrast && !contrast) {
      contrast = std::make_unique<host::FakeHighContrast>();
      if (!contrast->Installed()) status = 1;
    }
    if (contrast) contrast->Set(in.highContrast);
    for (int col = 0; col < 4; ++col) {
      const int left = (kLeft + col * kColumnWidth) * 15, top = (kTop + row * kRowHeight + kButtonInset) * 15;
      auto bag = BagOf(in);
      auto button = std::make_unique<Button>();
      const HRESULT hr =
          Button::Place(window, {left, top, left + in.width, top + in.height}, bag.Get(), &journal, *button);
      if (FAILED(hr)) status = 1;
      // The program's windows switch buttons off by writing ButtonEnabled by id.
      VARIANT off;
      VariantInit(&off);
      V_VT(&off) = VT_BOOL;
      V_BOOL(&off) = VARIANT_FALSE;
      if (SUCCEEDED(hr) && col == 3) button->PutById(QUILLON_DISPID_BUTTONENABLED, off);
      buttons.push_back(std::move(button));
    }
  }
  contrast.reset();
  std::wstring coloursFile = commandLine ? commandLine : L"";
  if (coloursFile.size() > 1 && coloursFile.front() == L'"')
    coloursFile = coloursFile.substr(1, coloursFile.find(L'"', 1) - 1);
  if (!coloursFile.empty()) WriteColours(coloursFile.c_str());
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);

  // The check closes the gallery; should it not, the gallery does not outlive it for long.
  SetTimer(window, 1, 180000, GiveUp);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  for (auto& b : buttons) b->Remove();
  DestroyWindow(window);
  OleUninitialize();
  return status ? status : static_cast<int>(msg.wParam);
}
