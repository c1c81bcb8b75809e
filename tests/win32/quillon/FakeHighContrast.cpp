#include "FakeHighContrast.h"

#include <cstring>

namespace host {
namespace {

using SpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);

SpiFunction g_system = nullptr;
bool g_on = false;

BOOL WINAPI Answer(UINT action, UINT param, PVOID value, UINT flags) {
  const BOOL done = g_system(action, param, value, flags);
  if (action == SPI_GETHIGHCONTRAST && value && done) {
    auto* setting = static_cast<HIGHCONTRASTW*>(value);
    if (g_on) setting->dwFlags |= HCF_HIGHCONTRASTON;
    else setting->dwFlags &= ~static_cast<DWORD>(HCF_HIGHCONTRASTON);
  }
  return done;
}

// The slot of the import table of `module` that holds `function` of `dll`.
void** ImportSlot(HMODULE module, const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return nullptr;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
        return reinterpret_cast<void**>(&slots->u1.Function);
    }
  }
  return nullptr;
}

void Write(void** slot, void* value) {
  DWORD old = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, old, &old);
}

BOOL CALLBACK FindListener(HWND hwnd, LPARAM found) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  if (wcscmp(name, L"Quillon2.SettingsListener") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

}  // namespace

FakeHighContrast::FakeHighContrast() {
  HMODULE library = GetModuleHandleW(L"Quillon2.dll");
  if (!library) return;
  slot_ = ImportSlot(library, "user32.dll", "SystemParametersInfoW");
  if (!slot_) return;
  original_ = *slot_;
  g_system = reinterpret_cast<SpiFunction>(original_);
  Write(slot_, reinterpret_cast<void*>(&Answer));
}

FakeHighContrast::~FakeHighContrast() {
  if (slot_) Write(slot_, original_);
  g_on = false;
}

void FakeHighContrast::Set(bool on) { g_on = on; }

void FakeHighContrast::Broadcast() {
  HWND listener = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindListener, reinterpret_cast<LPARAM>(&listener));
  if (listener) SendMessageW(listener, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
}

}  // namespace host
