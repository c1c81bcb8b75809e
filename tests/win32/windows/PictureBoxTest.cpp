// The preview box under Wine: the bitmap the program installs as cl.jpg
// comes back exactly, drawn by GDI without the imaging components; other
// bitmaps are stretched over the whole image; what only carries a bitmap's
// name, or is a bitmap GDI is not given, goes to the decoder; a broken file
// leaves the image as it was.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "windows/PictureBox.h"

namespace {

using velmora::kPreviewHeight;
using velmora::kPreviewWidth;

using Pixel = std::function<uint32_t(int x, int y)>;  // 0xRRGGBB, y from the top

std::string TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  std::wstring path = std::wstring(folder) + L"velmora-picturebox-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      name;
  return std::string(path.begin(), path.end());  // the temporary folder's name is ASCII under Wine
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(h);
}

// An uncompressed BMP file: 24 bits, or 8 with a palette of the colours the
// picture uses; bottom row first unless topDown.
std::string Bitmap(int width, int height, int bits, bool topDown, const Pixel& pixel) {
  std::vector<uint32_t> palette;
  if (bits == 8)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (std::find(palette.begin(), palette.end(), pixel(x, y)) == palette.end()) palette.push_back(pixel(x, y));
  const int stride = ((width * bits + 31) / 32) * 4;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  file.bfType = 0x4D42;
  file.bfOffBits = static_cast<DWORD>(sizeof file + sizeof info + palette.size() * 4);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(stride * height);
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = topDown ? -height : height;
  info.biPlanes = 1;
  info.biBitCount = static_cast<WORD>(bits);
  info.biCompression = BI_RGB;
  info.biClrUsed = static_cast<DWORD>(palette.size());
  info.biSizeImage = static_cast<DWORD>(stride * height);
  info.biXPelsPerMeter = info.biYPelsPerMeter = 3780;  // 96 dots per inch, as the program writes
  std::string out(file.bfSize, '\0');
  std::memcpy(out.data(), &file, sizeof file);
  std::memcpy(out.data() + sizeof file, &info, sizeof info);
  for (std::size_t i = 0; i < palette.size(); ++i) std::memcpy(&out[sizeof file + sizeof info + i * 4], &palette[i], 4);
  for (int y = 0; y < height; ++y) {
    char* row = out.data() + file.bfOffBits + static_cast<std::size_t>(topDown ? y : height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const uint32_t c = pixel(x, y);
      if (bits == 8) {
        row[x] = static_cast<char>(std::find(palette.begin(), palette.end(), c) - palette.begin());
      } else {
        row[x * 3] = static_cast<char>(c & 0xFF);
        row[x * 3 + 1] = static_cast<char>((c >> 8) & 0xFF);
        row[x * 3 + 2] = static_cast<char>((c >> 16) & 0xFF);
      }
    }
  }
  return out;
}

// A PNG of one colour, made by the imaging components.
std::string Png(int width, int height, uint32_t colour) {
  IWICImagingFactory* factory = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  if (!factory) return {};
  IStream* stream = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  IWICBitmapEncoder* encoder = nullptr;
  factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
  encoder->Initialize(stream, WICBitmapEncoderNoCache);
  IWICBitmapFrameEncode* frame = nullptr;
  encoder->CreateNewFrame(&frame, nullptr);
  frame->Initialize(nullptr);
  frame->SetSize(width, height);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  frame->SetPixelFormat(&format);
  std::vector<BYTE> pixels(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = colour & 0xFF;
    pixels[i + 1] = (colour >> 8) & 0xFF;
    pixels[i + 2] = (colour >> 16) & 0xFF;
  }
  frame->WritePixels(height, width * 3, static_cast<UINT>(pixels.size()), pixels.data());
  frame->Commit();
  encoder->Commit();
  HGLOBAL memory = nullptr;
  GetHGlobalFromStream(stream, &memory);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::string out(static_cast<const char*>(GlobalLock(memory)), static_cast<std::size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  frame->Release();
  encoder->Release();
  stream->Release();
  factory->Release();
  return out;
}

class PreviewBox : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    box_ = velmora::CreatePictureBox(parent_, RECT{10, 10, 148, 115}, 1);
  }
  void TearDown() override {
    DestroyWindow(parent_);
    for (const auto& f : files_) DeleteFileA(f.c_str());
    CoUninitialize();
  }

  std::string File(const wchar_t* name, const std::string& bytes) {
    const std::string path = TempPath(name);
    WriteWhole(path, bytes);
    files_.push_back(path);
    return path;
  }

  // The persistent image as the program would install it.
  std::string Installed() { return velmora::PersistentImageAsBmp(box_); }
  uint32_t At(int x, int y) {
    const std::string bmp = Installed();
    const char* p = bmp.data() + 54 + static_cast<std::size_t>(kPreviewHeight - 1 - y) * kPreviewWidth * 3 + x * 3;
    return static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8 | static_cast<uint8_t>(p[2]) << 16;
  }
  // Every pixel of the region (right and bottom excluded) within 12 of the colour.
  void ExpectRegion(int x0, int y0, int x1, int y1, uint32_t colour) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const uint32_t got = At(x, y);
        for (int shift = 0; shift < 24; shift += 8) {
          const int d = static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((colour >> shift) & 0xFF);
          ASSERT_LE(d < 0 ? -d : d, 12) << std::hex << "pixel " << std::dec << x << "," << y << " is " << std::hex
                                        << got << ", expected " << colour;
        }
      }
  }

  HWND parent_ = nullptr;
  HWND box_ = nullptr;
  std::vector<std::string> files_;
};

uint32_t Gradient(int x, int y) {
  return static_cast<uint32_t>((x * 255 / (kPreviewWidth - 1)) << 16 | (y * 255 / (kPreviewHeight - 1)) << 8 | 0x40);
}

// First in the file: the imaging components are not in the process yet.
TEST_F(PreviewBox, InstalledBitmapComesBackExactlyWithoutTheDecoder) {
  const bool decoderBefore = GetModuleHandleW(L"windowscodecs.dll") != nullptr;
  const std::string installed = Bitmap(kPreviewWidth, kPreviewHeight, 24, false, Gradient);
  velmora::DrawPictureFile(box_, File(L"cl.jpg", installed));
  // Applied again unchanged, it would be written byte for byte as it is.
  EXPECT_TRUE(Installed() == installed);
  if (!decoderBefore) {
    EXPECT_EQ(GetModuleHandleW(L"windowscodecs.dll"), nullptr);
  }

  // The same picture stored top row first is the same picture.
  velmora::DrawPictureFile(box_, File(L"topdown.bmp", Bitmap(kPreviewWidth, kPreviewHeight, 24, true, [](int x, int y) {
                                        return Gradient(kPreviewWidth - 1 - x, y);
                                      })));
  EXPECT_EQ(At(0, 0), Gradient(kPreviewWidth - 1, 0));
  EXPECT_EQ(At(kPreviewWidth - 1, kPreviewHeight - 1), Gradient(0, kPreviewHeight - 1));
}

TEST_F(PreviewBox, OtherBitmapsAreStretchedOverTheWholeImage) {
  // Four quadrants of 100 x 80, 8 bits with a palette.
  const auto quadrants = [](int x, int y) -> uint32_t {
    return x < 100 ? (y < 80 ? 0xFF0000 : 0x0000FF) : (y < 80 ? 0x00FF00 : 0xFFFF00);
  };
  velmora::DrawPictureFile(box_, File(L"quadrants.bmp", Bitmap(200, 160, 8, false, quadrants)));
  ExpectRegion(0, 0, 65, 48, 0xFF0000);
  ExpectRegion(71, 0, 136, 48, 0x00FF00);
  ExpectRegion(0, 55, 65, 103, 0x0000FF);
  ExpectRegion(71, 55, 136, 103, 0xFFFF00);
  // A small one grows to fill it.
  velmora::DrawPictureFile(box_, File(L"small.bmp", Bitmap(13, 7, 24, true, [](int, int) { return 0x20A040u; })));
  ExpectRegion(0, 0, kPreviewWidth, kPreviewHeight, 0x20A040);
}

TEST_F(PreviewBox, APictureThatOnlyCarriesTheNameGoesToTheDecoder) {
  velmora::DrawPictureFile(box_, File(L"png-cl.jpg", Png(40, 30, 0xC02030)));
  ExpectRegion(0, 0, kPreviewWidth, kPreviewHeight, 0xC02030);
  // A bitmap with a header GDI is not given (a core header of 12 bytes)
  // is decoded too.
  std::string core = Bitmap(kPreviewWidth, kPreviewHeight, 24, false, [](int, int) { return 0x3050F0u; });
  BITMAPCOREHEADER header{sizeof header, kPreviewWidth, kPreviewHeight, 1, 24};
  std::string old = core.substr(0, 14) + std::string(reinterpret_cast<const char*>(&header), sizeof header) +
                    core.substr(54);
  const DWORD offset = 14 + sizeof header, size = static_cast<DWORD>(old.size());
  std::memcpy(&old[10], &offset, 4);
  std::memcpy(&old[2], &size, 4);
  velmora::DrawPictureFile(box_, File(L"core.bmp", old));
  ExpectRegion(0, 0, kPreviewWidth, kPreviewHeight, 0x3050F0);
}

TEST_F(PreviewBox, ABrokenBitmapIsRefusedAndTheImageKept) {
  const std::string installed = Bitmap(kPreviewWidth, kPreviewHeight, 24, false, Gradient);
  velmora::DrawPictureFile(box_, File(L"good.bmp", installed));
  const auto refused = [&](const wchar_t* name, const std::string& bytes) {
    try {
      velmora::DrawPictureFile(box_, File(name, bytes));
      ADD_FAILURE() << "drawn";
    } catch (const velmora::VbError& e) {
      EXPECT_EQ(e.Number(), 481);
    }
    EXPECT_TRUE(Installed() == installed);
  };
  // Pixels cut off half way.
  refused(L"cut.bmp", installed.substr(0, installed.size() / 2));
  // Only the two letters.
  refused(L"bm.bmp", "BM");
  // A width beyond what the file holds.
  std::string wide = installed;
  const LONG width = 0x7FFF;
  std::memcpy(&wide[18], &width, 4);
  refused(L"wide.bmp", wide);
  // A palette that points past the file's end.
  std::string palette = Bitmap(16, 16, 8, false, [](int x, int) { return x < 8 ? 0u : 0xFFFFFFu; });
  const DWORD colours = 256, offset = static_cast<DWORD>(palette.size()) + 4;
  std::memcpy(&palette[46], &colours, 4);
  std::memcpy(&palette[10], &offset, 4);
  refused(L"palette.bmp", palette);
}

}  // namespace
