#include "SettingsListener.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "CriticalSection.h"
#include "Module.h"

namespace quillon {
namespace {

constexpr wchar_t kListenerClass[] = L"Quillon2.SettingsListener";

ATOM g_listenerClass = 0;
CriticalSection g_liveLock;
std::vector<HWND> g_liveButtons;
HWND g_listener = nullptr;

LRESULT CALLBACK ListenerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE: {
      g_liveLock.Enter();
      const std::vector<HWND> buttons = g_liveButtons;
      g_liveLock.Leave();
      // A message of our own: the system's carries a text that would not
      // outlive the call for a button of another thread, and is refused
      // for one.
      for (HWND button : buttons) SendNotifyMessageW(button, kSettingsChangedMessage, 0, 0);
      return 0;
    }
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    default: return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

void ButtonWindowMade(HWND button) {
  g_liveLock.Enter();
  g_liveButtons.push_back(button);
  const bool listening = g_listener && IsWindow(g_listener);
  g_liveLock.Leave();
  if (listening) return;
  if (!g_listenerClass) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ListenerProc;
    wc.hInstance = ModuleHandle();
    wc.lpszClassName = kListenerClass;
    g_listenerClass = RegisterClassExW(&wc);
  }
  // Never shown: a hidden pop-up still gets the broadcasts, which a
  // message-only window would not.
  HWND made = CreateWindowExW(WS_EX_TOOLWINDOW, kListenerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              ModuleHandle(), nullptr);
  g_liveLock.Enter();
  g_listener = made;
  g_liveLock.Leave();
}

void ButtonWindowGone(HWND button) {
  HWND listener = nullptr;
  g_liveLock.Enter();
  g_liveButtons.erase(std::remove(g_liveButtons.begin(), g_liveButtons.end(), button), g_liveButtons.end());
  if (g_liveButtons.empty()) std::swap(listener, g_listener);
  g_liveLock.Leave();
  if (!listener) return;
  // Only its own thread may destroy a window.
  if (GetWindowThreadProcessId(listener, nullptr) == GetCurrentThreadId()) DestroyWindow(listener);
  else PostMessageW(listener, WM_CLOSE, 0, 0);
}

bool SystemHighContrast() {
  HIGHCONTRASTW setting{};
  setting.cbSize = sizeof setting;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
         (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void UnregisterListenerClass() {
  if (g_listenerClass) UnregisterClassW(kListenerClass, ModuleHandle());
  g_listenerClass = 0;
}

}  // namespace quillon
