#pragma once
// The dispatch ids a host reaches the properties by.
#include <windows.h>
#include <oleauto.h>

namespace host {
constexpr DISPID kButtonFontColor = 0x68030000;
constexpr DISPID kButtonFont = 0x68030001;
constexpr DISPID kButtonPictureStretch = 0x68030002;
constexpr DISPID kButtonPicture = 0x68030003;
constexpr DISPID kButtonCaption = 0x68030004;
constexpr DISPID kButtonForm = 0x68030005;
constexpr DISPID kButtonBackColor = 0x68030006;
constexpr DISPID kButtonPictureAlign = 0x68030007;
constexpr DISPID kButtonTextAlign = 0x68030008;
constexpr DISPID kButtonEnabled = 0x68030009;
}  // namespace host
