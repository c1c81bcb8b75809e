// The baselines of the start-up benchmark: the least a Win32 program does to
// put a window on the screen. Built and linked like Velmora.exe (static
// runtime, GUI subsystem), so what Velmora takes beyond it is its own doing.
//
// Built a second time with MINIMAL_WITH_OLE (MinimalOleWindow.exe): the same
// window after OleInitialize and common controls 6 (through a manifest like
// Velmora's), what Velmora's start-up costs before any work of its own.
#include <windows.h>

#include "windows/StartupTrace.h"

#ifdef MINIMAL_WITH_OLE
#include <commctrl.h>
#include <ole2.h>
#endif

namespace {

#ifdef MINIMAL_WITH_OLE
constexpr wchar_t kClass[] = L"VelmoraBenchMinimalOleWindow";
constexpr wchar_t kTitle[] = L"Velmora bench minimal OLE window";
#else
constexpr wchar_t kClass[] = L"VelmoraBenchMinimalWindow";
constexpr wchar_t kTitle[] = L"Velmora bench minimal window";
#endif

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
#ifdef MINIMAL_WITH_OLE
  if (FAILED(OleInitialize(nullptr))) return 1;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
#endif
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClass;
  VELMORA_MARK("OLE and common controls");
  if (!RegisterClassW(&wc)) return 1;
  HWND hwnd = CreateWindowExW(0, kClass, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200, 400,
                              nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  VELMORA_MARK("window made");
  ShowWindow(hwnd, show);
  VELMORA_MARK("shown");
  UpdateWindow(hwnd);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
#ifdef MINIMAL_WITH_OLE
  OleUninitialize();
#endif
  return static_cast<int>(msg.wParam);
}
