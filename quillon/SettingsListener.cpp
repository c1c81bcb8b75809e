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
HWND g_asked = nullptr;  // the button window asked to make the listener
bool g_contrastWhenAsked = false;

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

// Under g_liveLock: whether the listener is there. One closed by someone
// else is forgotten, so that the next button makes another.
bool Listening() {
  if (g_listener && !IsWindow(g_listener)) g_listener = nullptr;
  return g_listener != nullptr;
}

}  // namespace

void ButtonWindowMade(HWND button, bool highContrastSeen) {
  g_liveLock.Enter();
  g_liveButtons.push_back(button);
  const bool asked = Listening() || g_asked;
  if (!asked) {
    g_asked = button;
    g_contrastWhenAsked = highContrastSeen;
  }
  g_liveLock.Leave();
  if (!asked) PostMessageW(button, kMakeListenerMessage, 0, 0);
}

void MakeListener() {
  g_liveLock.Enter();
  const bool wanted = !Listening() && !g_liveButtons.empty();
  g_asked = nullptr;
  g_liveLock.Leave();
  if (!wanted) return;
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
  // What changed while nobody listened.
  if (made && SystemHighContrast() != g_contrastWhenAsked) SendMessageW(made, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
}

void ButtonWindowGone(HWND button) {
  HWND listener = nullptr, askAgain = nullptr;
  g_liveLock.Enter();
  g_liveButtons.erase(std::remove(g_liveButtons.begin(), g_liveButtons.end(), button), g_liveButtons.end());
  if (g_liveButtons.empty()) {
    std::swap(listener, g_listener);
    g_asked = nullptr;
  } else if (g_asked == button) {
    // The request went with the window; another button asks again.
    g_asked = askAgain = g_liveButtons.front();
  }
  g_liveLock.Leave();
  if (askAgain) PostMessageW(askAgain, kMakeListenerMessage, 0, 0);
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
