// The error report through the real path: chains of trapped procedures, the
// innermost failing in every way a failure reaches a trap, each level passing
// it on with its parameter values (every kind of tagged value, nested arrays,
// long texts), the event handler ending the chain and showing the report. The
// report the report window receives is compared with one put together here
// from the rules of the report, written the plain way: header by
// concatenation, values by kind, dates through the standard calendar.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "FakePorts.h"
#include "errors/ErrChain.h"
#include "errors/VbConvert.h"

namespace {

using namespace velmora;
using velmora::testing::FakeFacts;
using velmora::testing::PortsScope;
using velmora::testing::RecordingMessageBox;
using velmora::testing::RecordingReportWindow;

const std::string kCrLf = "\r\n";
const char* const kLostText =
    "ErrorIn: Error information was lost. To fix: call ErrPreserve before doing anything in error handler.";

std::string Escaped(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n\n";
    else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else out += static_cast<char>(c);
  }
  return out;
}

[[noreturn]] void Fail(const std::string& what, const std::string& expected = {}, const std::string& actual = {}) {
  std::fprintf(stderr, "%s\n", what.c_str());
  if (!expected.empty() || !actual.empty()) {
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    std::fprintf(stderr, "first difference at byte %zu of %zu (expected) / %zu (actual)\n", at, expected.size(),
                 actual.size());
    const std::size_t from = at > 300 ? at - 300 : 0;
    std::fprintf(stderr, "--- expected from byte %zu:\n%s\n--- actual from byte %zu:\n%s\n", from,
                 Escaped(expected.substr(from, 800)).c_str(), from, Escaped(actual.substr(from, 800)).c_str());
  }
  std::abort();
}

// ---- texts -----------------------------------------------------------------

// Pieces that mean something to the report: placeholders, line breaks, the
// fixed line starts, tags, quotes, characters of several bytes, a stray byte.
const char* const kPieces[] = {"a",
                               "Path not found",
                               "%Time%",
                               "%Descr%",
                               "%nl%",
                               "%",
                               "\r\n",
                               "\r",
                               "\n",
                               "  Call Stack: ",
                               "    Value Of ",
                               "<a>",
                               "</a>",
                               "<b/>",
                               "<",
                               ">",
                               "'",
                               ",",
                               "(",
                               ")",
                               "=",
                               " ",
                               "\t",
                               "\xC3\xA4",
                               "\xE2\x82\xAC",
                               "\xF0\x9F\x99\x82",
                               "\xFF",
                               "\x80",
                               "C:\\Programme\\ICQ6\\",
                               "{Text}",
                               "0",
                               "-"};

// A text of pieces and noise; now and then one piece repeated into a long
// text. `marks` lets the placeholder mark (code 8) in.
std::string Text(FuzzedDataProvider& in, std::size_t longLimit, bool marks) {
  std::string text;
  const int pieces = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < pieces; ++i) {
    std::string piece;
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0: piece = in.ConsumeRandomLengthString(12); break;
      case 1: {
        // Lengths spread over every order of magnitude up to the limit, so
        // that the long texts do not take up all the time.
        piece = in.PickValueInArray(kPieces);
        const std::size_t times = std::size_t{1} << in.ConsumeIntegralInRange(0, 20);
        std::string repeated;
        while (repeated.size() + piece.size() <= longLimit && times * piece.size() > repeated.size()) repeated += piece;
        piece = repeated.empty() ? piece : repeated;
        break;
      }
      default: piece = in.PickValueInArray(kPieces); break;
    }
    text += piece;
  }
  if (!marks)
    for (char& c : text)
      if (c == '\x08') c = '?';
  return text;
}

std::string Identifier(FuzzedDataProvider& in) {
  static const char* const names[] = {"strPath", "strBody",         "intLang",  "Cancel",   "strContent", "xmlStyle",
                                      "xmlBox",  "currentLanguage", "lngCount", "varItems", "x",          "sngLeft"};
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    // Trap names are literals: no NUL inside, no parentheses or commas.
    std::string name = in.ConsumeRandomLengthString(10);
    std::string clean;
    for (char c : name)
      if (c != '(' && c != ')' && c != ',' && c != '\x08' && c != '\0') clean += c;
    return clean;
  }
  return in.PickValueInArray(names);
}

// ---- tagged values and their text ----------------------------------------

Value MakeValue(FuzzedDataProvider& in, int depth, bool xmlName);

Value MakeArray(FuzzedDataProvider& in, int depth) {
  ValueArray items;
  const int n = in.ConsumeIntegralInRange(0, depth < 3 ? 4 : 0);
  for (int i = 0; i < n; ++i) items.push_back(MakeValue(in, depth + 1, false));
  return Value(std::move(items));
}

double DateSerial(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: {
      uint64_t bits = in.ConsumeIntegral<uint64_t>();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case 1:  // whole days in the calendar's range
      return static_cast<double>(in.ConsumeIntegralInRange<int32_t>(-657434, 2958465));
    case 2:  // a day and a time of day, before or after the epoch
      return static_cast<double>(in.ConsumeIntegralInRange<int32_t>(-657434, 2958465)) +
             (in.ConsumeBool() ? 1 : -1) * in.ConsumeProbability<double>();
    default:
      return in.PickValueInArray({0.0, -0.0, 0.5, -0.5, -1.25, 1.9999999999, -1.9999999999, 2958465.9999999,
                                  -657434.9999, -657435.0, 2958466.0, 1e300, -1e300, HUGE_VAL, -HUGE_VAL,
                                  std::nan("")});
  }
}

Value MakeValue(FuzzedDataProvider& in, int depth, bool xmlName) {
  switch (in.ConsumeIntegralInRange(0, 15)) {
    case 0: return Value(EmptyValue{});
    case 1: return Value(NullValue{});
    case 2: return Value(in.ConsumeIntegral<int16_t>());
    case 3: return Value(in.ConsumeIntegral<int32_t>());
    case 4: {
      uint32_t bits = in.ConsumeIntegral<uint32_t>();
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return Value(f);
    }
    case 5: {
      uint64_t bits = in.ConsumeIntegral<uint64_t>();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return Value(d);
    }
    case 6: return Value(Currency{in.ConsumeIntegral<int64_t>()});
    case 7:
      return Value(DecimalValue{in.ConsumeBool() ? std::to_string(in.ConsumeIntegral<int64_t>()) : Text(in, 64, true)});
    case 8: return Value(in.ConsumeIntegral<uint8_t>());
    case 9: return Value(in.ConsumeBool());
    case 10: return Value(DateValue{DateSerial(in)});
    case 11:
    case 12: {
      // An xml text of every tag nesting one deeper grows with the square of
      // its length when indented; such texts stay short.
      std::string text = Text(in, xmlName ? 2048 : 200000, true);
      if (xmlName && in.ConsumeBool()) text = "<" + text;
      return Value(std::move(text));
    }
    case 13: return Value(ObjectRef{in.ConsumeBool() ? std::string("Nothing") : Text(in, 64, true)});
    case 14: return depth < 4 ? MakeArray(in, depth) : Value(MissingValue{});
    default: return in.ConsumeBool() ? Value(MissingValue{}) : Value(ErrorValue{in.ConsumeIntegral<int32_t>()});
  }
}

std::string DecimalSeparator(FakeFacts& facts) { return facts.decimalSeparator.empty() ? "." : facts.decimalSeparator; }

std::string CurrencyTextOf(int64_t scaled, const std::string& sep) {
  // Whole and fraction through 128-bit arithmetic, so INT64_MIN needs no care.
  __int128 v = scaled;
  const bool negative = v < 0;
  if (negative) v = -v;
  const auto whole = static_cast<unsigned long long>(v / 10000);
  unsigned frac = static_cast<unsigned>(v % 10000);
  std::string text = (negative ? "-" : "") + std::to_string(whole);
  if (frac != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", frac);
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    text += sep + f;
  }
  return text;
}

// A date as the report shows it: month/day/year, and h:mm:ss when it has a
// time of day. The whole part counts days from 30 Dec 1899 towards zero; the
// fraction is the time of that day whatever the sign. A time that rounds to a
// full day is the start of the next day. Serials outside 1 Jan 100 to
// 31 Dec 9999 are no date at all.
bool DateTextOf(double serial, std::string* text) {
  if (!(serial > -657435.0 && serial < 2958466.0)) return false;
  const double whole = std::trunc(serial);
  long long seconds = std::llround(std::fabs(serial - whole) * 86400.0);
  long long day = static_cast<long long>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += 1;
  }
  using namespace std::chrono;
  const year_month_day ymd{sys_days{days{day - 25569}}};
  *text = std::to_string(static_cast<unsigned>(ymd.month())) + "/" + std::to_string(static_cast<unsigned>(ymd.day())) +
          "/" + std::to_string(static_cast<int>(ymd.year()));
  if (seconds > 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    *text += buf;
  }
  return true;
}

std::string ExpectedValueText(const Value& v, const std::string& sep) {
  if (v.IsArray()) return "{Array}";
  if (v.Is<EmptyValue>()) return "{Empty}";
  if (v.Is<NullValue>()) return "{Null}";
  if (v.Is<bool>()) return v.As<bool>() ? "True" : "False";
  if (v.Is<int16_t>()) return std::to_string(v.As<int16_t>());
  if (v.Is<int32_t>()) return std::to_string(v.As<int32_t>());
  if (v.Is<uint8_t>()) return std::to_string(v.As<uint8_t>());
  if (v.Is<float>()) return SingleText(v.As<float>());
  if (v.Is<double>()) return DoubleText(v.As<double>());
  if (v.Is<Currency>()) return CurrencyTextOf(v.As<Currency>().scaled, sep);
  if (v.Is<DecimalValue>()) return v.As<DecimalValue>().text;
  if (v.Is<DateValue>()) {
    std::string text;
    return DateTextOf(v.As<DateValue>().serial, &text) ? "'" + text + "'" : "{?}";
  }
  if (v.Is<std::string>()) return "'" + v.As<std::string>() + "'";
  if (v.Is<ObjectRef>()) return "{" + v.As<ObjectRef>().typeName + "}";
  return "";  // missing, error value
}

std::size_t Chars(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

std::string ReplacedAll(const std::string& text, const std::string& what, const std::string& with) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(what, from)) != std::string::npos; from = at + what.size())
    out += text.substr(from, at - from) + with;
  return out + text.substr(from);
}

std::string ExpectedIndentedXml(const std::string& quoted) {
  const std::string inner = quoted.substr(1, quoted.size() - 2);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t lt; (lt = inner.find('<', start)) != std::string::npos; start = lt + 1)
    pieces.push_back(inner.substr(start, lt - start));
  pieces.push_back(inner.substr(start));
  std::string out = pieces[0];
  long depth = 0;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const bool closing = !pieces[i].empty() && pieces[i][0] == '/';
    if (closing && --depth < 0) return inner;
    if (i > 1) out += kCrLf;
    out += std::string(static_cast<std::size_t>(2 * depth), ' ') + "<" + pieces[i];
    if (!closing && pieces[i].find("/>") == std::string::npos) ++depth;
  }
  return out;
}

// One call-stack line and its long-value blocks.
std::string ExpectedStackEntry(const std::string& base, const std::vector<std::string>& names, const Value& params,
                               int32_t line, const std::string& sep) {
  const std::vector<Value> one{params};
  const std::vector<Value>& items = params.IsArray() ? params.As<ValueArray>() : one;
  std::string list, dumps;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string name = i < names.size() ? names[i] : "";
    std::string text = ExpectedValueText(items[i], sep);
    if (text.find(kCrLf) != std::string::npos || Chars(text) > 40) {
      if (name.rfind("xml", 0) == 0 && text.rfind("'<", 0) == 0) text = ExpectedIndentedXml(text);
      if (!dumps.empty()) dumps += kCrLf;
      dumps += "    Value Of " + name + ":" + kCrLf + "      " + ReplacedAll(text, kCrLf, kCrLf + "      ");
      text = "{Text}";
    }
    // The separator goes after what is there already: leading empty items
    // leave no trace, a trailing one leaves ", ".
    if (!list.empty()) list += ", ";
    list += name.empty() ? text : name + "=" + text;
  }
  std::string entry = "  Call Stack: " + base + "(" + list + ")";
  if (line != 0) entry += "  at Line " + std::to_string(line);
  entry += " ";
  if (Chars(entry) < 100) entry += std::string(100 - Chars(entry), '-');
  entry += kCrLf;
  if (!dumps.empty()) entry += dumps + kCrLf;
  return entry;
}

std::string HexOf(int32_t n) {
  static const char digits[] = "0123456789ABCDEF";
  uint32_t u = static_cast<uint32_t>(n);
  std::string hex;
  do {
    hex.insert(hex.begin(), digits[u % 16]);
    u /= 16;
  } while (u != 0);
  return hex;
}

std::string Signed(int64_t n) { return n >= 0 ? "+ " + std::to_string(n) : "- " + std::to_string(-n); }

std::string TwoDigitsOf(int n) {
  const int r = n % 100;
  return (r < 10 ? "0" : "") + std::to_string(r);
}

// ---- the chain -------------------------------------------------------------

struct Level {
  bool trapped = true;
  std::string methodName;  // what the trap is given
  std::string base;
  std::vector<std::string> names;
  int32_t line = 0;
  Value params;
};

enum class Failure {
  Raise,
  Runtime,
  System,
  VbWithHelp,
  BadAlloc,
  OutOfRange,
  Overflow,
  Other,
  NotAnException,
  ErrObjectAsItStands,
  Lost
};

struct Chain {
  std::vector<Level> levels;  // [0] is the event handler
  Failure failure = Failure::Raise;
  int32_t number = 0;
  std::string source, description, helpFile;
  int32_t helpContext = 0, lastDll = 0, errLine = 0;

  // What the trap that catches the failure makes of it.
  int32_t expectedNumber = 0;
  std::string expectedSource, expectedDescription, expectedHelpFile;
  int32_t expectedHelpContext = 0, expectedLastDll = 0;
};

const int32_t kNumbers[] = {0,
                            5,
                            6,
                            7,
                            13,
                            53,
                            75,
                            76,
                            429,
                            0x40000,
                            0x4144E,
                            INT32_MAX,
                            INT32_MIN,
                            static_cast<int32_t>(0x80004005),
                            vbObjectError,
                            vbObjectError + 513,
                            ERRMAP_APP_FIRST,
                            ERR_USER_MESSAGE_FIRST,
                            ERR_USER_MESSAGE_LAST,
                            ERR_SILENT,
                            ERR_USER_MESSAGE_FIRST - 1,
                            ERR_USER_MESSAGE_LAST + 1};

void Throw(const Chain& c) {
  switch (c.failure) {
    case Failure::Raise: Raise(c.number, c.source, c.description);
    case Failure::Runtime: RaiseRuntime(c.number, c.lastDll);
    case Failure::System: RaiseSystemError(static_cast<uint32_t>(c.lastDll));
    case Failure::VbWithHelp: throw VbError(c.number, c.source, c.description, c.helpFile, c.helpContext, c.lastDll);
    case Failure::BadAlloc: throw std::bad_alloc();
    case Failure::OutOfRange: throw std::out_of_range("index");
    case Failure::Overflow: throw std::overflow_error("big");
    case Failure::Other: throw std::runtime_error("other");
    case Failure::NotAnException: throw 42;
    default: std::abort();
  }
}

bool IsUserMessageNumber(int32_t n) { return n >= ERR_USER_MESSAGE_FIRST && n <= ERR_USER_MESSAGE_LAST; }

void CheckPassedOn(const Chain& c, const VbError& e) {
  if (e.Number() != c.expectedNumber)
    Fail("passed on as " + std::to_string(e.Number()) + ", not " + std::to_string(c.expectedNumber));
  if (e.HelpFile() != c.expectedHelpFile || e.HelpContext() != c.expectedHelpContext)
    Fail("the help file or context was lost on the way up");
  if (IsUserMessageNumber(c.expectedNumber)) {
    if (e.Source() != c.expectedSource || e.Description() != c.expectedDescription)
      Fail("a user message changed on the way up", c.expectedDescription, e.Description());
    if (!ReportText().empty()) Fail("a user message left a report", "", ReportText());
  } else {
    if (e.Source() != PROPAGATION_MARKER) Fail("passed on with source " + e.Source());
    if (e.Description() != ReportText())
      Fail("the error passed on does not carry the report", ReportText(), e.Description());
    if (e.Description().size() < 2 || e.Description().compare(e.Description().size() - 2, 2, kCrLf) != 0)
      Fail("the report passed on does not end with CR LF", "", e.Description());
  }
}

void InnermostWithoutException(const Chain& c, const Trap& trap, const Level& level, bool handler) {
  Err().Clear();
  if (c.failure == Failure::ErrObjectAsItStands) {
    Err().Number = c.number;
    Err().Source = c.source;
    Err().Description = c.description;
    Err().HelpFile = c.helpFile;
    Err().HelpContext = c.helpContext;
    Err().LastDllError = c.lastDll;
    Err().Line = c.errLine;
  }
  if (handler) {
    ErrorIn(trap, level.params, ERRIN_END_OF_CHAIN);
    ErrShow(false);
  } else {
    ErrorIn(trap, level.params, ERRIN_PASS_ON);
  }
}

// Runs level i of the chain; returns normally only from the event handler.
void RunLevel(const Chain& c, std::size_t i) {
  const Level& level = c.levels[i];
  const bool innermost = i + 1 == c.levels.size();
  const bool withoutException = c.failure == Failure::ErrObjectAsItStands || c.failure == Failure::Lost;
  if (!level.trapped) {
    if (innermost) Throw(c);
    RunLevel(c, i + 1);
    return;
  }
  Trap trap(level.methodName.c_str());
  if (innermost && withoutException) {
    trap.at(level.line);
    InnermostWithoutException(c, trap, level, i == 0);
    return;
  }
  try {
    trap.at(level.line);
    if (innermost) Throw(c);
    try {
      RunLevel(c, i + 1);
    } catch (const VbError& e) {
      // Only what a trap below has passed on carries the report.
      bool trappedBelow = false;
      for (std::size_t k = i + 1; k < c.levels.size(); ++k) trappedBelow = trappedBelow || c.levels[k].trapped;
      if (trappedBelow) CheckPassedOn(c, e);
      throw;
    }
  } catch (...) {
    if (i == 0) {
      ErrorIn(trap, level.params, ERRIN_END_OF_CHAIN);
      ErrShow(false);
      return;
    }
    ErrorIn(trap, level.params, ERRIN_PASS_ON);
  }
}

Level MakeLevel(FuzzedDataProvider& in, bool mustTrap) {
  static const char* const bases[] = {
      "frmMain.Form_Load",           "frmMain.GetICQPath",  "frmMain.RightICQPath",     "clsFile.OpenForOutput",
      "clsKorvanel.ChangeImagePath", "basMain.SetLanguage", "frmSettings.qbtnOk_Click", "M"};
  Level level;
  level.trapped = mustTrap || in.ConsumeIntegralInRange(0, 4) != 0;
  if (in.ConsumeIntegralInRange(0, 5) == 0) {
    level.base = Identifier(in);
  } else {
    level.base = in.PickValueInArray(bases);
  }
  const int nameCount = in.ConsumeIntegralInRange(0, 4);
  level.methodName = level.base;
  if (nameCount > 0 || in.ConsumeBool()) {
    level.methodName += "(";
    for (int k = 0; k < nameCount; ++k) {
      level.names.push_back(Identifier(in));
      if (k > 0) level.methodName += ",";
      level.methodName += level.names.back();
    }
    level.methodName += ")";
  }
  level.line = in.PickValueInArray({0, 10, 20, 30, 120, 2147483647, -5});
  if (in.ConsumeBool()) {
    ValueArray items;
    const int n = in.ConsumeIntegralInRange(0, 5);
    for (int k = 0; k < n; ++k)
      items.push_back(
          MakeValue(in, 1, k < static_cast<int>(level.names.size()) && level.names[k].rfind("xml", 0) == 0));
    level.params = Value(std::move(items));
  } else {
    level.params =
        in.ConsumeBool() ? Value() : MakeValue(in, 0, !level.names.empty() && level.names[0].rfind("xml", 0) == 0);
  }
  return level;
}

void ExpectFailure(Chain& c) {
  c.expectedHelpFile.clear();
  c.expectedHelpContext = 0;
  c.expectedLastDll = 0;
  switch (c.failure) {
    case Failure::Raise:
      c.expectedNumber = c.number;
      c.expectedSource = c.source;
      c.expectedDescription = c.description;
      break;
    case Failure::Runtime:
      c.expectedNumber = c.number;
      c.expectedSource = APP_TITLE;
      c.expectedDescription = RuntimeErrorText(c.number);
      c.expectedLastDll = c.lastDll;
      break;
    case Failure::System:
      c.expectedNumber = RuntimeErrorForSystemCode(static_cast<uint32_t>(c.lastDll));
      c.expectedSource = APP_TITLE;
      c.expectedDescription = RuntimeErrorText(c.expectedNumber);
      c.expectedLastDll = c.lastDll;
      break;
    case Failure::VbWithHelp:
    case Failure::ErrObjectAsItStands:
      c.expectedNumber = c.number;
      c.expectedSource = c.source;
      c.expectedDescription = c.description;
      c.expectedHelpFile = c.helpFile;
      c.expectedHelpContext = c.helpContext;
      c.expectedLastDll = c.lastDll;
      break;
    case Failure::BadAlloc: c.expectedNumber = 7; break;
    case Failure::OutOfRange: c.expectedNumber = 9; break;
    case Failure::Overflow: c.expectedNumber = 6; break;
    case Failure::Other:
    case Failure::NotAnException: c.expectedNumber = 5; break;
    case Failure::Lost: c.expectedNumber = 0; break;
  }
  if (c.failure >= Failure::BadAlloc && c.failure <= Failure::NotAnException) {
    c.expectedSource = APP_TITLE;
    c.expectedDescription = RuntimeErrorText(c.expectedNumber);
  }
  // Error 0 is no error: the report says the information was lost.
  if (c.expectedNumber == 0) {
    c.expectedNumber = ERRMAP_APP_FIRST;
    c.expectedDescription = kLostText;
    if (c.failure == Failure::Lost) c.expectedSource.clear();
  }
}

std::string ExpectedHeader(const Chain& c, FakeFacts& facts, const std::string& base, bool* exact) {
  const std::string time = TwoDigitsOf(facts.now.month) + facts.dateSeparator + TwoDigitsOf(facts.now.day) +
                           facts.dateSeparator + TwoDigitsOf(facts.now.year) + " " + TwoDigitsOf(facts.now.hour) +
                           facts.timeSeparator + TwoDigitsOf(facts.now.minute) + facts.timeSeparator +
                           TwoDigitsOf(facts.now.second);
  const std::string ver = std::to_string(facts.version.major) + "." + std::to_string(facts.version.minor) + "." +
                          std::to_string(facts.version.revision);
  const std::string ado = facts.adoMissing ? "?" : facts.adoVersion;
  // Values are filled one after the other into the whole text, so a value
  // holding the mark could take in a later one; such reports are checked
  // from the header on only.
  *exact = true;
  for (const std::string* v :
       {&base, &std::as_const(facts.computerName), &time, &std::as_const(facts.exeName), &ado, &c.expectedSource})
    if (v->find('\x08') != std::string::npos) *exact = false;
  const int64_t n = c.expectedNumber;
  std::string descr = c.expectedDescription;
  for (char& ch : descr)
    if (ch == '\x08') ch = '%';
  return descr + " " + kCrLf + "  Time='" + time + "' App='" + facts.exeName + ":" + ver + "' ADO-version='" + ado +
         "' Computer='" + facts.computerName + "' " + kCrLf + "  Method: " + base + " " + kCrLf +
         "  Number: " + std::to_string(c.expectedNumber) + " = &H" + HexOf(c.expectedNumber) + " = vbObjectError " +
         Signed(n - int64_t{vbObjectError}) + " = ERRMAP_APP_FIRST " + Signed(n - int64_t{ERRMAP_APP_FIRST}) + " " +
         (c.expectedNumber == ERRMAP_APP_FIRST ? "= ERR_GENERAL" : "") + kCrLf + "  Source: " + c.expectedSource + " " +
         kCrLf + "  Description: " + descr + kCrLf;
}

std::string ExpectedApiLine(const Chain& c, FakeFacts& facts) {
  if (c.expectedLastDll == 0 || c.expectedLastDll == 203) return {};
  std::string text = facts.SystemErrorText(c.expectedLastDll);
  text = ReplacedAll(text, kCrLf, "");
  text = ReplacedAll(text, std::string(1, '\0'), "");
  return "  API Error: (" + std::to_string(c.expectedLastDll) + ") " + text + kCrLf;
}

void RunChain(FuzzedDataProvider& in, FakeFacts& facts, RecordingMessageBox& boxes, RecordingReportWindow& window) {
  Chain c;
  const int depth = in.ConsumeIntegralInRange(1, 7);
  for (int i = 0; i < depth; ++i) c.levels.push_back(MakeLevel(in, i == 0));
  c.failure = static_cast<Failure>(in.ConsumeIntegralInRange(0, static_cast<int>(Failure::Lost)));
  c.number = in.ConsumeBool() ? in.PickValueInArray(kNumbers) : in.ConsumeIntegral<int32_t>();
  static const char* const sources[] = {"Velmora", "", "ErrChain.ErrorIn", "clsKorvanel", "%Descr%"};
  c.source = in.ConsumeBool() ? std::string(in.PickValueInArray(sources)) : Text(in, 300, in.ConsumeBool());
  c.description = Text(in, 200000, true);
  c.helpFile = Text(in, 40, false);
  c.helpContext = in.ConsumeIntegral<int32_t>();
  c.lastDll = in.PickValueInArray({0, 2, 3, 5, 32, 112, 203, 1117, 99999, -1});
  c.errLine = in.PickValueInArray({0, 40, -1});
  // Without an exception the failing procedure must be the trapped one that
  // calls ErrorIn.
  if (c.failure == Failure::ErrObjectAsItStands || c.failure == Failure::Lost) c.levels.back().trapped = true;
  ExpectFailure(c);

  ReportText() = "left over from an earlier report\r\n";
  ValueDumps() = "    Value Of stale:\r\n      'stale'";
  const std::size_t reportsBefore = window.reports.size(), boxesBefore = boxes.shown.size();
  RunLevel(c, 0);

  if (Err().Number != c.expectedNumber)
    Fail("the chain ended with " + std::to_string(Err().Number) + ", not " + std::to_string(c.expectedNumber));
  if (Err().HelpFile != c.expectedHelpFile || Err().HelpContext != c.expectedHelpContext)
    Fail("the help file or context was lost at the end of the chain");
  if (PreservedErr().Preserved) Fail("a capture is still open after the chain");

  if (IsUserMessageNumber(c.expectedNumber)) {
    if (window.reports.size() != reportsBefore) Fail("a user message showed the report window");
    const std::size_t shownNow = c.expectedNumber == ERR_SILENT ? 0 : 1;
    if (boxes.shown.size() != boxesBefore + shownNow) Fail("a user message was not shown exactly once");
    if (shownNow && (boxes.shown.back().text != c.expectedDescription || boxes.shown.back().title != APP_TITLE))
      Fail("the user message changed", c.expectedDescription, boxes.shown.back().text);
    if (!ReportText().empty()) Fail("a user message left a report", "", ReportText());
    return;
  }
  if (boxes.shown.size() != boxesBefore) Fail("an error report came as a message box");
  if (window.reports.size() != reportsBefore + 1) Fail("the report window was not given exactly one report");
  const std::string& report = window.reports.back();
  if (report != ReportText()) Fail("the report shown is not the report built", ReportText(), report);
  if (Err().Source != PROPAGATION_MARKER || Err().Description != report)
    Fail("the current error does not carry the report at the end of the chain");

  // From the innermost trapped procedure outwards, one entry each.
  std::string stack;
  std::string innermostBase;
  bool first = true;
  for (std::size_t k = c.levels.size(); k-- > 0;) {
    const Level& level = c.levels[k];
    if (!level.trapped) continue;
    int32_t line = level.line;
    if (first && c.failure == Failure::ErrObjectAsItStands) line = c.errLine;
    if (first && c.failure == Failure::Lost) line = 0;
    if (first) innermostBase = level.base;
    first = false;
    stack += ExpectedStackEntry(level.base, level.names, level.params, line, DecimalSeparator(facts));
  }

  std::string expected;
  bool exact = true;
  if (c.expectedSource == PROPAGATION_MARKER) {
    // An error that says it carries a report already: its description is the
    // report, and the chain only adds to it.
    expected = c.expectedDescription + stack;
  } else {
    expected = ExpectedHeader(c, facts, innermostBase, &exact) + ExpectedApiLine(c, facts) + stack;
  }
  if (report.size() < 2 || report.compare(report.size() - 2, 2, kCrLf) != 0)
    Fail("the report does not end with CR LF", expected, report);
  if (exact) {
    if (report != expected) Fail("the report differs", expected, report);
  } else {
    const std::string tail = ExpectedApiLine(c, facts) + stack;
    if (report.size() < tail.size() || report.compare(report.size() - tail.size(), tail.size(), tail) != 0)
      Fail("the report's call stack differs", tail,
           report.substr(report.size() > tail.size() ? report.size() - tail.size() : 0));
    const std::string numberLine = "  Number: " + std::to_string(c.expectedNumber) + " = &H";
    if (report.find(numberLine) == std::string::npos) Fail("the report lost the error number", numberLine, report);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FakeFacts facts;
  if (in.ConsumeBool()) {
    facts.computerName = Text(in, 300, in.ConsumeBool());
    facts.exeName = Text(in, 300, in.ConsumeBool());
    facts.adoMissing = in.ConsumeBool();
    facts.adoVersion = Text(in, 20, in.ConsumeBool());
    facts.version = {in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint16_t>()};
    facts.now = {in.ConsumeIntegralInRange(1601, 30827), in.ConsumeIntegralInRange(1, 12),
                 in.ConsumeIntegralInRange(1, 31),       in.ConsumeIntegralInRange(0, 23),
                 in.ConsumeIntegralInRange(0, 59),       in.ConsumeIntegralInRange(0, 59)};
    facts.dateSeparator = in.PickValueInArray({"/", ".", "-", "", "\xE5\xB9\xB4"});
    facts.timeSeparator = in.PickValueInArray({":", ".", "\x08"});
    facts.decimalSeparator = in.PickValueInArray({".", ",", "", "\xD9\xAB", "'", " "});
    facts.errorTexts = {{2, "The system cannot find the file specified.\r\n"},
                        {5, Text(in, 600, true)},
                        {32, std::string("in use\r\0\n\0", 10)},
                        {-1, "minus one\r\n\r\n"}};
  }
  Windows1252 codePage;
  RecordingMessageBox boxes;
  RecordingReportWindow window;
  PortsScope scope(Ports{&facts, &codePage, nullptr, &boxes, &window});
  Err().Clear();
  PreservedErr() = PreservedErrRecord{};
  ReportText().clear();
  ValueDumps().clear();

  // Several chains one after the other, as several failed clicks would.
  const int chains = in.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < chains; ++i) RunChain(in, facts, boxes, window);
  return 0;
}
