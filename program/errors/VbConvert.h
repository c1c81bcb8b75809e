// Conversions between text and numbers with the rules of the runtime our
// settings were written by: blanks around, a sign, digits, the locale's decimal
// separator and an exponent are accepted; integers round half to even; a
// number out of range raises 6 "Overflow", a text that is no number 13
// "Type mismatch".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

int16_t CInt(const std::string& text);
int32_t CLng(const std::string& text);
float CSng(const std::string& text);
double CDbl(const std::string& text);

// The user's decimal separator, "." where the system facts are not at hand.
std::string LocaleDecimalSeparator();

// Text of a single with up to 7 significant digits, of a double with up to 15,
// with the locale's decimal separator.
std::string SingleText(float value);
std::string DoubleText(double value);

// The parts of a text between its separators, as Split does: n separators
// make n + 1 parts, empty ones included. The parts point into `text`.
std::vector<std::string_view> Split(std::string_view text, char separator);

}  // namespace velmora
