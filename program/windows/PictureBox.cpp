#include "windows/PictureBox.h"

#include <wincodec.h>

#include <cstring>
#include <vector>

#include "ComPtr.h"
#include "errors/ErrChain.h"
#include "platform/win32/Win32Ports.h"
#include "windows/WinUtil.h"

namespace velmora {
namespace {

using quillon::ComPtr;

constexpr wchar_t kClass[] = L"VelmoraPictureBox";

// A decoder's own scaling (JPEG decoders of Windows have it). The compiler's
// headers lack the interface; its layout and id are the system's.
struct DecoderScaling : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height,
                                               WICPixelFormatGUID* format, WICBitmapTransformOptions transform,
                                               UINT stride, UINT size, BYTE* pixels) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) = 0;
  virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) = 0;
};
constexpr IID IID_DecoderScaling = {0x3B16811B, 0x6A43, 0x4ec9, {0xB7, 0x13, 0x3D, 0x5A, 0x0C, 0x13, 0xB9, 0x40}};

struct Image {
  HBITMAP dib = nullptr;
  void* bits = nullptr;  // top row first, 0x00RRGGBB
};

Image* ImageOf(HWND box) { return reinterpret_cast<Image*>(GetWindowLongPtrW(box, GWLP_USERDATA)); }

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Image* image = ImageOf(hwnd);
  switch (msg) {
    case WM_CREATE: {
      auto* made = new Image;
      BITMAPINFO bi{};
      bi.bmiHeader.biSize = sizeof bi.bmiHeader;
      bi.bmiHeader.biWidth = kPreviewWidth;
      bi.bmiHeader.biHeight = -kPreviewHeight;
      bi.bmiHeader.biPlanes = 1;
      bi.bmiHeader.biBitCount = 32;
      made->dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &made->bits, nullptr, 0);
      if (!made->dib) {
        delete made;
        return -1;
      }
      // An empty box is white, like the window it sits on.
      std::memset(made->bits, 0xFF, static_cast<std::size_t>(kPreviewWidth) * kPreviewHeight * 4);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
      return 0;
    }
    case WM_PAINT:
    case WM_PRINTCLIENT: {
      PAINTSTRUCT ps{};
      HDC dc = msg == WM_PAINT ? BeginPaint(hwnd, &ps) : reinterpret_cast<HDC>(wp);
      if (image) {
        const MemoryDC mem(dc);
        const Selection pixels(mem, image->dib);
        BitBlt(dc, 0, 0, kPreviewWidth, kPreviewHeight, mem, 0, 0, SRCCOPY);
      }
      if (msg == WM_PAINT) EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY:
      if (image) {
        DeleteObject(image->dib);
        delete image;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void Check(HRESULT hr) {
  if (FAILED(hr)) {
    // A file the decoders do not know, or a broken one.
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
      RaiseSystemError(HRESULT_CODE(hr));
    RaiseRuntime(RuntimeError::kInvalidPicture);
  }
}

// A handle that closes itself.
struct FileHandle {
  HANDLE h;
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

bool ReadAll(HANDLE file, BYTE* into, DWORD bytes) {
  DWORD got = 0;
  return ReadFile(file, into, bytes, &got, nullptr) && got == bytes;
}

// Read whole and drawn by GDI up to this size; a larger bitmap is left to
// the decoder, which scales it row by row.
constexpr LONGLONG kMaxBitmapFile = 16 << 20;

// A file that begins with "BM" and holds an uncompressed bitmap with a
// plain header, as the picture Velmora installs as cl.jpg does: drawn
// stretched over the whole image with GDI, so that showing it does not start
// the imaging components. False, with the image untouched, for anything
// else (another format, a compressed or broken bitmap, a header that may
// carry an alpha mask, one too large to read whole): the decoder takes it.
bool DrawBitmapFile(Image& image, const std::wstring& path) {
  FileHandle file{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
  if (file.h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  constexpr DWORD kHeaders = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  if (!GetFileSizeEx(file.h, &size) || size.QuadPart < kHeaders || size.QuadPart > kMaxBitmapFile) return false;
  BYTE start[kHeaders];
  if (!ReadAll(file.h, start, kHeaders) || start[0] != 'B' || start[1] != 'M') return false;

  BITMAPFILEHEADER head;
  BITMAPINFOHEADER info;
  std::memcpy(&head, start, sizeof head);
  std::memcpy(&info, start + sizeof head, sizeof info);
  const int bits = info.biBitCount;
  if (info.biSize != sizeof info || info.biCompression != BI_RGB || info.biPlanes != 1 || info.biWidth <= 0 ||
      info.biWidth > 0x7FFF || info.biHeight == 0 || info.biHeight > 0x7FFF || info.biHeight < -0x7FFF ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return false;
  const LONGLONG colours = bits <= 8 ? (info.biClrUsed ? info.biClrUsed : 1u << bits) : 0;
  if (bits <= 8 && colours > (1 << bits)) return false;
  const LONGLONG height = info.biHeight < 0 ? -static_cast<LONGLONG>(info.biHeight) : info.biHeight;
  const LONGLONG stride = ((static_cast<LONGLONG>(info.biWidth) * bits + 31) / 32) * 4;
  if (kHeaders + colours * 4 > head.bfOffBits || head.bfOffBits + stride * height > size.QuadPart) return false;
  std::vector<BYTE> bytes(static_cast<std::size_t>(size.QuadPart));
  std::memcpy(bytes.data(), start, kHeaders);
  if (!ReadAll(file.h, bytes.data() + kHeaders, static_cast<DWORD>(bytes.size() - kHeaders))) return false;

  int lines = 0;
  {
    const MemoryDC dc(nullptr);
    if (!dc) return false;
    const Selection pixels(dc, image.dib);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE wants it reset
    lines = StretchDIBits(dc, 0, 0, kPreviewWidth, kPreviewHeight, 0, 0, info.biWidth, static_cast<int>(height),
                          bytes.data() + head.bfOffBits,
                          reinterpret_cast<const BITMAPINFO*>(bytes.data() + sizeof head), DIB_RGB_COLORS, SRCCOPY);
  }
  if (lines <= 0) return false;  // nothing drawn, or GDI_ERROR
  // An uncompressed bitmap has no transparent parts: every pixel is the
  // picture's, its fourth byte as the decoder's pictures leave it.
  GdiFlush();
  auto* dst = static_cast<BYTE*>(image.bits);
  for (std::size_t i = 3; i < static_cast<std::size_t>(kPreviewWidth) * kPreviewHeight * 4; i += 4) dst[i] = 0;
  return true;
}

// The box with its border, and where it goes in `place`.
RECT CentredBox(const RECT& place) {
  RECT r{0, 0, kPreviewWidth, kPreviewHeight};
  AdjustWindowRectEx(&r, WS_CHILD | WS_BORDER, FALSE, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  // Rounded towards the top left, so that a place of exactly the box's size
  // keeps it where the layout puts it.
  const int x = place.left + (place.right - place.left - w) / 2;
  const int y = place.top + (place.bottom - place.top - h) / 2;
  return {x, y, x + w, y + h};
}

}  // namespace

HWND CreatePictureBox(HWND parent, const RECT& place, int id) {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kClass;
    return RegisterClassW(&wc);
  }();
  (void)atom;
  const RECT r = CentredBox(place);
  HWND box = CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_CLIPSIBLINGS, r.left, r.top,
                             r.right - r.left, r.bottom - r.top, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (!box) RaiseSystemError(GetLastError());
  return box;
}

void PlacePictureBox(HWND box, const RECT& place) {
  const RECT r = CentredBox(place);
  SetWindowPos(box, nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DrawPictureFile(HWND box, const std::string& path) {
  Image* image = ImageOf(box);
  if (!image) RaiseRuntime(RuntimeError::kObjectNotSet);
  // No picture there (a first start shows none): the imaging components are
  // not worth starting for that.
  const std::wstring file = Utf8ToWide(path);
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) RaiseSystemError(GetLastError());
  if (DrawBitmapFile(*image, file)) {
    InvalidateRect(box, nullptr, FALSE);
    return;
  }
  ComPtr<IWICImagingFactory> factory;
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(factory.Put())));
  ComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ,
                                           WICDecodeMetadataCacheOnDemand, decoder.Put()));
  ComPtr<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, frame.Put()));
  UINT width = 0, height = 0;
  Check(frame->GetSize(&width, &height));
  if (width == 0 || height == 0) RaiseRuntime(RuntimeError::kInvalidPicture);

  // Ask the decoder itself for a smaller picture first (a JPEG decoder can
  // skip most of the work), so a huge photograph never lies in memory whole;
  // the scaler takes it the rest of the way.
  ComPtr<IWICBitmapSource> source = frame.As<IWICBitmapSource>(IID_IWICBitmapSource);
  std::vector<BYTE> reduced;
  if (auto transform = frame.As<DecoderScaling>(IID_DecoderScaling)) {
    UINT w = kPreviewWidth, h = kPreviewHeight;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppPBGRA;
    if (SUCCEEDED(transform->GetClosestSize(&w, &h)) && w < width &&
        SUCCEEDED(transform->GetClosestPixelFormat(&format)) && format == GUID_WICPixelFormat32bppPBGRA) {
      reduced.resize(static_cast<std::size_t>(w) * h * 4);
      ComPtr<IWICBitmap> small;
      if (SUCCEEDED(transform->CopyPixels(nullptr, w, h, &format, WICBitmapTransformRotate0, w * 4,
                                          static_cast<UINT>(reduced.size()), reduced.data())) &&
          SUCCEEDED(factory->CreateBitmapFromMemory(w, h, GUID_WICPixelFormat32bppPBGRA, w * 4,
                                                    static_cast<UINT>(reduced.size()), reduced.data(),
                                                    small.Put())))
        source = small.As<IWICBitmapSource>(IID_IWICBitmapSource);
    }
  }

  ComPtr<IWICFormatConverter> converter;
  Check(factory->CreateFormatConverter(converter.Put()));
  Check(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                              WICBitmapPaletteTypeCustom));
  ComPtr<IWICBitmapScaler> scaler;
  Check(factory->CreateBitmapScaler(scaler.Put()));
  Check(scaler->Initialize(converter.Get(), kPreviewWidth, kPreviewHeight, WICBitmapInterpolationModeFant));
  // Row by row: a scaler asked for the whole area at once may fetch the
  // whole source picture at once as well (Wine's does), a row only the
  // source rows under it.
  std::vector<BYTE> pixels(static_cast<std::size_t>(kPreviewWidth) * kPreviewHeight * 4);
  for (int y = 0; y < kPreviewHeight; ++y) {
    const WICRect row{0, y, kPreviewWidth, 1};
    Check(scaler->CopyPixels(&row, kPreviewWidth * 4, kPreviewWidth * 4,
                             pixels.data() + static_cast<std::size_t>(y) * kPreviewWidth * 4));
  }

  // Premultiplied colours over what the image holds: out = src + dst * (1 - alpha).
  auto* dst = static_cast<BYTE*>(image->bits);
  for (std::size_t i = 0; i < pixels.size(); i += 4) {
    const unsigned keep = 255u - pixels[i + 3];
    for (int c = 0; c < 3; ++c)
      dst[i + c] = static_cast<BYTE>(pixels[i + c] + (dst[i + c] * keep + 127) / 255);
    dst[i + 3] = 0;
  }
  GdiFlush();
  InvalidateRect(box, nullptr, FALSE);
}

std::string PersistentImageAsBmp(HWND box) {
  Image* image = ImageOf(box);
  if (!image) RaiseRuntime(RuntimeError::kObjectNotSet);
  GdiFlush();
  constexpr int kRow = kPreviewWidth * 3;  // 408: already a multiple of 4
  constexpr int kPixels = kRow * kPreviewHeight;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + kPixels;
  info.biSize = sizeof info;
  info.biWidth = kPreviewWidth;
  info.biHeight = kPreviewHeight;  // bottom row first
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = kPixels;
  info.biXPelsPerMeter = info.biYPelsPerMeter = 3780;  // 96 dots per inch
  std::string out(file.bfSize, '\0');
  std::memcpy(out.data(), &file, sizeof file);
  std::memcpy(out.data() + sizeof file, &info, sizeof info);
  const auto* src = static_cast<const BYTE*>(image->bits);
  char* row = out.data() + file.bfOffBits;
  for (int y = kPreviewHeight - 1; y >= 0; --y, row += kRow) {
    const BYTE* p = src + static_cast<std::size_t>(y) * kPreviewWidth * 4;
    for (int x = 0; x < kPreviewWidth; ++x) {
      row[x * 3] = static_cast<char>(p[x * 4]);
      row[x * 3 + 1] = static_cast<char>(p[x * 4 + 1]);
      row[x * 3 + 2] = static_cast<char>(p[x * 4 + 2]);
    }
  }
  return out;
}

}  // namespace velmora
