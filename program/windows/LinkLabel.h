// A label that is a link (the about window's web site and address, the
// report's address): a tab stop that shows a focus rectangle around its text,
// opens with Enter or space as with a click (its window hears STN_CLICKED),
// and reads to a screen reader as a link named by its text.
#pragma once

#include <windows.h>

namespace velmora {

// Turns a static control with SS_NOTIFY into a link label; it gets the
// WS_TABSTOP style here.
void MakeLinkLabel(HWND label);

// What a screen reader says a link does.
inline constexpr wchar_t kLinkAction[] = L"Jump";

}  // namespace velmora
