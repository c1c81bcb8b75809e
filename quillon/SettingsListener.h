#pragma once
// The system tells top-level windows of a new high-contrast setting or new
// system colours, never child windows such as a button's. One hidden
// top-level window of the library hears it for every button window there is,
// so that buttons follow the setting whether their host passes it on or not.
//
// The listener lives while any button window exists, on the thread of the
// first of them.

#include <windows.h>

namespace quillon {

// From the settings listener to each button window: the system's settings
// or colours have changed.
constexpr UINT kSettingsChangedMessage = WM_USER + 2;

// A button window was made, or is going: the listener is made with the
// first and goes with the last.
void ButtonWindowMade(HWND button);
void ButtonWindowGone(HWND button);

// Whether the system's high-contrast setting is on.
bool SystemHighContrast();

// Undoes the listener's window class; when the library unloads.
void UnregisterListenerClass();

}  // namespace quillon
