#include "errors/VbConvert.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "errors/ErrChain.h"
#include "errors/ErrHost.h"

namespace velmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Parses the whole text as a number or raises 13. The locale's decimal
// separator is the only one accepted.
double ParseNumber(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  const std::string sep = LocaleDecimalSeparator();
  std::string plain;  // the number in C locale form for strtod
  std::size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
  bool digits = false;
  while (i < e && std::isdigit(static_cast<unsigned char>(text[i]))) { plain += text[i++]; digits = true; }
  if (i < e && text.compare(i, sep.size(), sep) == 0) {
    plain += '.';
    i += sep.size();
    while (i < e && std::isdigit(static_cast<unsigned char>(text[i]))) { plain += text[i++]; digits = true; }
  }
  if (!digits) RaiseRuntime(RuntimeError::kTypeMismatch);
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    bool expDigits = false;
    while (i < e && std::isdigit(static_cast<unsigned char>(text[i]))) { plain += text[i++]; expDigits = true; }
    if (!expDigits) RaiseRuntime(RuntimeError::kTypeMismatch);
  }
  if (i != e) RaiseRuntime(RuntimeError::kTypeMismatch);
  errno = 0;
  const double value = std::strtod(plain.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(value)) RaiseRuntime(RuntimeError::kOverflow);
  return value;
}

template <typename Int>
Int RoundToInteger(double value) {
  const double rounded = std::nearbyint(value);  // default rounding: half to even
  if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
        rounded <= static_cast<double>(std::numeric_limits<Int>::max())))
    RaiseRuntime(RuntimeError::kOverflow);
  return static_cast<Int>(rounded);
}

std::string NumberText(double value, int digits) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, value);
  std::string s = buf;
  // "%G" pads the exponent to two digits already; only the decimal point
  // follows the locale.
  const auto dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, LocaleDecimalSeparator());
  return s;
}

}  // namespace

std::string LocaleDecimalSeparator() {
  ErrHost* host = CurrentErrHost();
  const std::string sep = host ? host->DecimalSeparator() : std::string();
  return sep.empty() ? std::string(".") : sep;
}

int16_t CInt(const std::string& text) { return RoundToInteger<int16_t>(ParseNumber(text)); }
int32_t CLng(const std::string& text) { return RoundToInteger<int32_t>(ParseNumber(text)); }

float CSng(const std::string& text) {
  const double v = ParseNumber(text);
  if (std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) RaiseRuntime(RuntimeError::kOverflow);
  return static_cast<float>(v);
}

double CDbl(const std::string& text) { return ParseNumber(text); }

std::string SingleText(float value) { return NumberText(value, 7); }
std::string DoubleText(double value) { return NumberText(value, 15); }

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace velmora
