#pragma once
// What the Quillon tests add to the program's own container
// (program/windows/QuillonHost.h): a journal of everything a button tells its
// container, a property bag that records its writes and can be made to fail
// one, and the window, message-loop, pixel and object helpers.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "Quillon_h.h"
#include "windows/QuillonHost.h"

namespace host {

using quillon::ComPtr;
using velmora::Button;
using velmora::PropertyBag;

// Everything a button told its container, in order.
class Journal : public velmora::ButtonListener {
 public:
  std::vector<std::wstring> events;   // "Click", "MouseOver", ... "MouseMove 1 0 15 30"
  std::vector<std::wstring> changes;  // property names from OnChanged
  std::vector<std::wstring> focus;    // "focus", "blur" from IOleControlSite::OnFocus
  std::vector<std::wstring> activation;
  int Count(const std::wstring& event) const;
  void Clear() {
    events.clear();
    changes.clear();
    focus.clear();
    activation.clear();
  }

  void OnEvent(DISPID id, DISPPARAMS* params) override;
  void OnChanged(DISPID id) override;
  void OnFocus(bool gained) override;
  void OnActivation(bool active) override;

 private:
  // The button's type information, for the names of changed properties.
  ITypeInfo* TypeInfo();
  ComPtr<ITypeInfo> typeInfo_;
};

// The program's property bag, recording the names Write sees and failing the
// write of one name on request.
class RecordingBag final : public PropertyBag {
 public:
  static ComPtr<RecordingBag> New();
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override;

  std::vector<std::wstring> written;  // names in the order Write saw them
  HRESULT failWriteOf = S_OK;         // make Write of `failName` fail with this
  std::wstring failName;

 private:
  RecordingBag() = default;
  ~RecordingBag() override = default;
};

// A plain top-level window that holds buttons.
class HostWindow {
 public:
  explicit HostWindow(int x = 100, int y = 100, int width = 640, int height = 480);
  ~HostWindow();
  HWND hwnd = nullptr;
};

// Runs the message loop for a while. `timerTicks` counts WM_TIMER messages
// meant for any of `watched`.
void Pump(DWORD milliseconds, const std::vector<HWND>& watched = {}, int* timerTicks = nullptr);
// Runs the message loop until `done` says so or `limit` ms have passed; a
// busy machine may hold timer messages back for a while.
bool PumpUntil(const std::function<bool()>& done, DWORD limit = 3000);

// The client area of a window as it paints itself, 0x00RRGGBB per pixel.
struct Snapshot {
  int width = 0, height = 0;
  std::vector<DWORD> pixels;
  COLORREF At(int x, int y) const;  // as a COLORREF (0x00BBGGRR)
};
// A window's client area as it prints itself, on `background` where given.
Snapshot Take(HWND hwnd, HBRUSH background = nullptr);

// Pictures for tests: an icon with `size` x `size` pixels in one colour.
ComPtr<IPictureDisp> SolidIcon(int size, COLORREF colour);
// A picture object loaded from icon-file bytes, as a host loads its layout's icons.
ComPtr<IPictureDisp> PictureFromBytes(const std::vector<BYTE>& bytes);
ComPtr<IFontDisp> Font(const wchar_t* name, double points, bool bold = false);

// The library's own entry point, to ask it whether it could be unloaded.
HRESULT CanUnloadNow();

}  // namespace host
