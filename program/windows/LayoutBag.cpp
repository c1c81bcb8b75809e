#include "windows/LayoutBag.h"

#include <cmath>
#include <cstdlib>

#include "errors/ErrChain.h"
#include "platform/win32/Win32Ports.h"
#include "windows/Resources.h"
#include "windows/WinUtil.h"

namespace velmora {
namespace {

bool Is(const std::string& a, const char* b) { return _stricmp(a.c_str(), b) == 0; }

// A button's icon: the image of the icon file that suits the screen, at
// the size the DPI makes of `pixelsAt96` (32 at 96 dots per inch, 40 at 120,
// 48 at 144). The button shows a picture at its own size, so this is the size
// it draws; one image stretched by the button would come out blurred.
HRESULT PictureFromIconFile(const std::string& fileName, int pixelsAt96, IDispatch** made) {
  HICON icon = nullptr;
  try {
    icon = IconFromFile(fileName, MulDiv(pixelsAt96, ScreenDpiX(), 96));
  } catch (const VbError& e) {
    return e.Number() == RuntimeError::kFileNotFound ? CTL_E_FILENOTFOUND : CTL_E_INVALIDPICTURE;
  }
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof desc;
  desc.picType = PICTYPE_ICON;
  desc.icon.hicon = icon;
  const HRESULT hr = OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, reinterpret_cast<void**>(made));
  if (FAILED(hr)) DestroyIcon(icon);
  return hr;
}

HRESULT PictureFromFile(const std::string& fileName, IDispatch** made) {
  std::string_view bytes;
  try {
    bytes = ResourceFile(fileName);
  } catch (const VbError&) {
    return CTL_E_FILENOTFOUND;
  }
  ComPtr<IStream> stream;
  const HRESULT hr = StreamOnCopy(bytes.data(), bytes.size(), stream);
  if (FAILED(hr)) return hr;
  return OleLoadPicture(stream.Get(), static_cast<LONG>(bytes.size()), FALSE, IID_IDispatch,
                        reinterpret_cast<void**>(made));
}

// "Name" size weight charset styles (1 italic, 2 underline, 4 strikethrough)
HRESULT FontFromValues(const std::vector<std::string>& v, IDispatch** made) {
  const std::wstring name = Utf8ToWide(v.size() > 1 ? v[1] : "MS Sans Serif");
  FONTDESC desc{};
  desc.cbSizeofstruct = sizeof desc;
  desc.lpstrName = const_cast<LPOLESTR>(name.c_str());
  desc.cySize.int64 = std::llround((v.size() > 2 ? std::atof(v[2].c_str()) : 8.25) * 10000);
  desc.sWeight = static_cast<SHORT>(v.size() > 3 ? LayoutNumber(v[3]) : FW_NORMAL);
  desc.sCharset = static_cast<SHORT>(v.size() > 4 ? LayoutNumber(v[4]) : 0);
  const int64_t styles = v.size() > 5 ? LayoutNumber(v[5]) : 0;
  desc.fItalic = (styles & 1) != 0;
  desc.fUnderline = (styles & 2) != 0;
  desc.fStrikethrough = (styles & 4) != 0;
  return OleCreateFontIndirect(&desc, IID_IDispatch, reinterpret_cast<void**>(made));
}

}  // namespace

ComPtr<PropertyBag> BagOf(const LayoutControl& c) {
  ComPtr<PropertyBag> bag = PropertyBag::New();
  for (const LayoutSetting& s : c.bag) {
    const std::wstring name = Utf8ToWide(s.name);
    const std::string& type = s.values[0];
    const std::string value = s.values.size() > 1 ? s.values[1] : std::string();
    VARIANT v;
    VariantInit(&v);
    if (Is(type, "I4")) {
      V_VT(&v) = VT_I4;
      V_I4(&v) = static_cast<LONG>(static_cast<uint32_t>(LayoutNumber(value)));
    } else if (Is(type, "Bool")) {
      V_VT(&v) = VT_BOOL;
      V_BOOL(&v) = Is(value, "True") ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (Is(type, "Str")) {
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = SysAllocString(Utf8ToWide(value).c_str());
    } else if (Is(type, "Icon")) {
      // Icon "file.ico" [pixels at 96 dots per inch, 32 when not given]
      const std::size_t dot = value.rfind('.');
      if (dot == std::string::npos || !Is(value.substr(dot), ".ico")) {
        bag->PutFactory(name, [value](IDispatch** made) { return PictureFromFile(value, made); });
        continue;
      }
      const int size = s.values.size() > 2 ? static_cast<int>(LayoutNumber(s.values[2])) : 32;
      bag->PutFactory(name, [value, size](IDispatch** made) { return PictureFromIconFile(value, size, made); });
      continue;
    } else if (Is(type, "Font")) {
      bag->PutFactory(name, [values = s.values](IDispatch** made) { return FontFromValues(values, made); });
      continue;
    } else {
      Raise(RuntimeError::kInvalidCall, "Velmora", "Unknown bag entry type " + type);
    }
    bag->Put(name, v);
    VariantClear(&v);
  }
  return bag;
}

}  // namespace velmora
