// The number conversions of the settings on any text, with any decimal
// separator the locale may give: each conversion returns a value or raises 6
// or 13 and nothing else; the four agree with one another (one reading of the
// text, then each its own range and rounding); a single read from the
// settings is written back by SingleText and read again as the same number,
// within the 7 digits the text keeps, and from then on exactly.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "FakePorts.h"
#include "errors/ErrChain.h"
#include "errors/VbConvert.h"

namespace {

using namespace velmora;
using velmora::testing::FakeFacts;
using velmora::testing::PortsScope;

std::string Escaped(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string g_text, g_sep;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n  text=\"%s\" separator=\"%s\"\n", what.c_str(), Escaped(g_text).c_str(),
               Escaped(g_sep).c_str());
  std::abort();
}

template <typename T>
struct Outcome {
  std::optional<T> value;
  int32_t raised = 0;
};

template <typename T, typename F>
Outcome<T> Run(const char* name, F convert, const std::string& text) {
  Outcome<T> o;
  try {
    o.value = convert(text);
  } catch (const VbError& e) {
    if (e.Number() != 6 && e.Number() != 13) Fail(std::string(name) + " raised " + std::to_string(e.Number()));
    if (e.Source() != APP_TITLE || e.Description() != RuntimeErrorText(e.Number()))
      Fail(std::string(name) + " raised " + std::to_string(e.Number()) + " with source \"" + e.Source() +
           "\" and description \"" + e.Description() + "\"");
    o.raised = e.Number();
  } catch (...) {
    Fail(std::string(name) + " let out something that is no runtime error");
  }
  return o;
}

// Half to even, written out.
double RoundHalfEven(double v) {
  const double down = std::floor(v);
  const double rest = v - down;
  if (rest > 0.5) return down + 1;
  if (rest < 0.5) return down;
  return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

template <typename Int>
void CheckInteger(const char* name, const Outcome<Int>& got, double d, double lo, double hi) {
  const double r = RoundHalfEven(d);
  if (r >= lo && r <= hi) {
    if (!got.value) Fail(std::string(name) + " raised " + std::to_string(got.raised) + " for a number in range");
    if (static_cast<double>(*got.value) != r)
      Fail(std::string(name) + " gave " + std::to_string(*got.value) + ", not " + std::to_string(r));
  } else if (got.raised != 6) {
    Fail(std::string(name) + " did not raise 6 for a number out of range");
  }
}

// Two singles within what 7 significant digits keep: the text is off by at
// most half a unit in its 7th digit, reading it back by at most half a unit
// in the single's last place.
bool WithinSevenDigits(float a, float b) {
  const double x = a, y = b;
  return std::fabs(x - y) <= 6e-7 * std::fmax(std::fabs(x), std::fabs(y)) + FLT_TRUE_MIN;
}

// Separators made of characters that also belong to a number ("e", a sign, a
// digit, a blank) make SingleText's output ambiguous; the round trip is
// looked at for the others only.
bool PlainSeparator(const std::string& sep) { return sep.find_first_of("0123456789+-eE \t") == std::string::npos; }

std::string NumberLike(FuzzedDataProvider& in, const std::string& sep) {
  static const std::string pieces[] = {" ",
                                       "\t",
                                       "+",
                                       "-",
                                       "e",
                                       "E",
                                       ".",
                                       ",",
                                       "0",
                                       "5",
                                       "9",
                                       "1",
                                       "00000000",
                                       "99999999",
                                       "32767",
                                       "32768",
                                       "2147483648",
                                       "3.4028235",
                                       "e38",
                                       "e-45",
                                       "e308",
                                       "e-400",
                                       "e999999999999",
                                       "\xD9\xAB",
                                       "\xC2\xA0",
                                       "x",
                                       "&H",
                                       std::string(1, '\0')};
  std::string text;
  const int n = in.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < n; ++i) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: text += sep; break;
      case 1: text += in.ConsumeRandomLengthString(4); break;
      case 2:
        text += std::string(in.ConsumeIntegralInRange<std::size_t>(1, 400), in.PickValueInArray({'0', '9', '1'}));
        break;
      default: text += in.PickValueInArray(pieces); break;
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FakeFacts facts;
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      facts.decimalSeparator = in.PickValueInArray({".", ",", "", "\xD9\xAB", "'", " ", "\xC2\xB7", ",,", "e", "-"});
      break;
    case 1: facts.decimalSeparator = in.ConsumeRandomLengthString(3); break;
    default: break;
  }
  g_sep = facts.decimalSeparator;
  PortsScope scope(Ports{&facts, nullptr, nullptr, nullptr, nullptr});
  const std::string sep = LocaleDecimalSeparator();

  g_text = in.ConsumeBool() ? NumberLike(in, sep) : in.ConsumeRemainingBytesAsString();

  const auto i16 = Run<int16_t>("CInt", CInt, g_text);
  const auto i32 = Run<int32_t>("CLng", CLng, g_text);
  const auto f32 = Run<float>("CSng", CSng, g_text);
  const auto f64 = Run<double>("CDbl", CDbl, g_text);

  // One reading of the text: it is no number for all four or for none.
  const bool mismatch = f64.raised == 13;
  if ((i16.raised == 13) != mismatch || (i32.raised == 13) != mismatch || (f32.raised == 13) != mismatch)
    Fail("the conversions disagree on whether the text is a number");
  if (mismatch) return 0;
  if (f64.raised == 6) {
    if (i16.raised != 6 || i32.raised != 6 || f32.raised != 6) Fail("a double overflows but a narrower type does not");
    return 0;
  }
  const double d = *f64.value;
  if (std::isnan(d) || std::isinf(d)) Fail("CDbl gave no finite number");

  CheckInteger("CInt", i16, d, -32768.0, 32767.0);
  CheckInteger("CLng", i32, d, -2147483648.0, 2147483647.0);

  if (std::fabs(d) > FLT_MAX) {
    if (f32.raised != 6) Fail("CSng did not raise 6 beyond the largest single");
    return 0;
  }
  if (!f32.value) Fail("CSng raised " + std::to_string(f32.raised) + " for a number a single holds");
  const float f = *f32.value;
  if (f != static_cast<float>(d)) Fail("CSng is not the nearest single of CDbl");

  if (!PlainSeparator(sep)) return 0;
  const std::string written = SingleText(f);
  const auto back = Run<float>("CSng", CSng, written);
  if (!back.value) Fail("CSng raised " + std::to_string(back.raised) + " on SingleText's \"" + Escaped(written) + "\"");
  if (!WithinSevenDigits(f, *back.value))
    Fail("SingleText's \"" + Escaped(written) + "\" reads back as " + std::to_string(*back.value) + ", far from " +
         std::to_string(f));
  const std::string again = SingleText(*back.value);
  const auto twice = Run<float>("CSng", CSng, again);
  if (!twice.value || *twice.value != *back.value)
    Fail("a single written and read again does not stay the same: \"" + Escaped(written) + "\" then \"" +
         Escaped(again) + "\"");
  if (std::signbit(f) != std::signbit(*back.value)) Fail("the sign was lost on the way through the text");
  return 0;
}
