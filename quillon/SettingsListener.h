#pragma once
// The system tells top-level windows of a new high-contrast setting or new
// system colours, never child windows such as a button's. One hidden
// top-level window of the library hears it for every button window there is,
// so that buttons follow the setting whether their host passes it on or not.
//
// The listener lives while any button window exists, on the thread of the
// first of them. A change of the setting before it was there still reaches
// the buttons when it comes.

#include <windows.h>

namespace quillon {

// From the settings listener to each button window: the system's settings
// or colours have changed.
constexpr UINT kSettingsChangedMessage = WM_USER + 2;

// From the library to a button window: make the settings listener now.
constexpr UINT kMakeListenerMessage = WM_USER + 3;

// A button window was made, or is going: the listener goes with the last.
// It is made for the first once that button's thread takes its posted
// messages (kMakeListenerMessage, which the button answers with
// MakeListener): a window that no paint needs waits until its host's
// window is on the screen. `highContrastSeen` is the setting the button
// shows; the listener passes on a change from it.
void ButtonWindowMade(HWND button, bool highContrastSeen);
void ButtonWindowGone(HWND button);
void MakeListener();

// Whether the system's high-contrast setting is on.
bool SystemHighContrast();

// Undoes the listener's window class; when the library unloads.
void UnregisterListenerClass();

}  // namespace quillon
