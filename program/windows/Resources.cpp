#include "windows/Resources.h"

#include <cstdlib>
#include <cwctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/win32/Win32Ports.h"
#include "windows/WinUtil.h"

namespace velmora {
namespace {

// An icon or cursor file: a directory of images, each a DIB (or PNG) at an
// offset. For cursors the two fields before the size hold the hot spot.
#pragma pack(push, 1)
struct DirEntry {
  uint8_t width, height, colours, reserved;
  uint16_t planesOrHotX, bitsOrHotY;
  uint32_t bytes, offset;
};
#pragma pack(pop)

std::vector<DirEntry> Entries(std::string_view file) {
  std::vector<DirEntry> out;
  if (file.size() < 6) return out;
  uint16_t count = 0;
  std::memcpy(&count, file.data() + 4, 2);
  for (uint16_t i = 0; i < count && 6 + (i + 1) * sizeof(DirEntry) <= file.size(); ++i) {
    DirEntry e;
    std::memcpy(&e, file.data() + 6 + i * sizeof(DirEntry), sizeof e);
    if (static_cast<uint64_t>(e.offset) + e.bytes <= file.size()) out.push_back(e);
  }
  return out;
}

int Side(uint8_t stored) { return stored == 0 ? 256 : stored; }

}  // namespace

std::string_view ResourceFile(const std::string& fileName) {
  std::wstring name = Utf8ToWide(fileName);
  for (auto& c : name) c = c == L'.' ? L'_' : static_cast<wchar_t>(std::towupper(c));
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) RaiseRuntime(RuntimeError::kFileNotFound);
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) RaiseRuntime(RuntimeError::kFileNotFound);
  return {static_cast<const char*>(bytes), SizeofResource(module, found)};
}

HICON IconFromFile(const std::string& fileName, int size) {
  const std::string_view file = ResourceFile(fileName);
  const std::vector<DirEntry> entries = Entries(file);
  const DirEntry* best = nullptr;
  for (const auto& e : entries) {
    if (!best) {
      best = &e;
      continue;
    }
    const int d = std::abs(Side(e.width) - size), bestD = std::abs(Side(best->width) - size);
    if (d < bestD || (d == bestD && e.bitsOrHotY > best->bitsOrHotY)) best = &e;
  }
  if (!best) RaiseRuntime(RuntimeError::kInvalidPicture);
  HICON icon = CreateIconFromResourceEx(
      reinterpret_cast<BYTE*>(const_cast<char*>(file.data() + best->offset)), best->bytes, TRUE, 0x00030000, size,
      size, LR_DEFAULTCOLOR);
  if (!icon) RaiseRuntime(RuntimeError::kInvalidPicture);
  return icon;
}

HCURSOR CursorFromFile(const std::string& fileName) {
  static std::map<std::string, HCURSOR> loaded;
  if (auto it = loaded.find(fileName); it != loaded.end()) return it->second;
  const std::string_view file = ResourceFile(fileName);
  const std::vector<DirEntry> entries = Entries(file);
  if (entries.empty()) RaiseRuntime(RuntimeError::kInvalidPicture);
  const DirEntry& e = entries.front();
  // A cursor resource is the image behind its hot spot.
  std::vector<BYTE> data(4 + e.bytes);
  std::memcpy(data.data(), &e.planesOrHotX, 2);
  std::memcpy(data.data() + 2, &e.bitsOrHotY, 2);
  std::memcpy(data.data() + 4, file.data() + e.offset, e.bytes);
  HCURSOR cursor = reinterpret_cast<HCURSOR>(CreateIconFromResourceEx(
      data.data(), static_cast<DWORD>(data.size()), FALSE, 0x00030000, Side(e.width), Side(e.height), 0));
  if (!cursor) RaiseRuntime(RuntimeError::kInvalidPicture);
  loaded[fileName] = cursor;
  return cursor;
}

HBITMAP BitmapFromFile(const std::string& fileName) {
  const std::string_view file = ResourceFile(fileName);
  if (file.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || file.substr(0, 2) != "BM")
    RaiseRuntime(RuntimeError::kInvalidPicture);
  BITMAPFILEHEADER header;
  std::memcpy(&header, file.data(), sizeof header);
  if (header.bfOffBits >= file.size()) RaiseRuntime(RuntimeError::kInvalidPicture);
  const auto* info = reinterpret_cast<const BITMAPINFO*>(file.data() + sizeof header);
  const WindowDC screen(nullptr);
  HBITMAP bitmap =
      CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, file.data() + header.bfOffBits, info, DIB_RGB_COLORS);
  if (!bitmap) RaiseRuntime(RuntimeError::kInvalidPicture);
  return bitmap;
}

}  // namespace velmora
