#pragma once
// What the files of the Quillon class share and no host needs: the
// conversions between the button's values and COM's, and the message the
// button's window posts to itself.

#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace quillon {

// Posted by accDoDefaultAction: the press comes from the message loop, so an
// assistive program's call never waits for what a Click handler does.
constexpr UINT kDefaultActionMessage = WM_USER + 1;

constexpr int32_t kErrInvalidPicture = 481;

inline CY Points(double points) {
  CY cy;
  cy.int64 = static_cast<LONGLONG>(std::llround(points * 10000.0));
  return cy;
}

inline std::u16string FromBstr(BSTR s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s ? s : L""), s ? SysStringLen(s) : 0);
}

inline BSTR ToBstr(const std::u16string& s) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

}  // namespace quillon
