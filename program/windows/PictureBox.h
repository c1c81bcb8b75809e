// The preview box: a child window with a one-pixel border around a drawing
// area of 136 x 103 pixels at every DPI, the size of ICQ's banner area. Its
// persistent image is a 32-bit DIB section that pictures are drawn onto and
// that the box paints; it is what gets installed.
#pragma once

#include <windows.h>

#include <string>

namespace velmora {

inline constexpr int kPreviewWidth = 136;
inline constexpr int kPreviewHeight = 103;

// Makes the box centred in `place` (pixels within the parent): the layout's
// place grows with the DPI, the box does not.
HWND CreatePictureBox(HWND parent, const RECT& place, int id);
// Moves the box to the middle of a new place.
void PlacePictureBox(HWND box, const RECT& place);

// Decodes the picture file, scaled to the drawing area while decoding, and
// draws it stretched over the whole persistent image with its alpha: what is
// transparent in the picture keeps what the image held. Raises when the file
// cannot be read or decoded; the image is then as it was.
void DrawPictureFile(HWND box, const std::string& path);

// The persistent image as the bytes of a 24-bit bottom-up BMP file.
std::string PersistentImageAsBmp(HWND box);

}  // namespace velmora
