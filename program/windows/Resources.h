// The files compiled into the program: layouts, icons, cursors, pictures.
// Each is an RCDATA resource named after its file, upper case, with "_" for
// the dot ("qbtnOpen.ico" is QBTNOPEN_ICO).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace velmora {

// The file's bytes; raises 53 when the program holds no such file.
std::string_view ResourceFile(const std::string& fileName);

// The image of an icon file nearest to size x size pixels, as an icon of that
// size. The caller destroys it.
HICON IconFromFile(const std::string& fileName, int size);
// A cursor file's first image with its hot spot. Kept for the process.
HCURSOR CursorFromFile(const std::string& fileName);
// A BMP file as a bitmap. The caller deletes it.
HBITMAP BitmapFromFile(const std::string& fileName);

}  // namespace velmora
