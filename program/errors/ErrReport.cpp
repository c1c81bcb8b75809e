#include "errors/ErrReport.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "errors/ErrChain.h"
#include "errors/ErrHost.h"
#include "errors/VbConvert.h"

namespace velmora {
namespace {

const std::string kCrLf = "\r\n";

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  std::size_t pos = text.find(what);
  if (pos == std::string::npos) return;
  // One pass into a new text: replacing in place moves the rest of the text
  // for every match, and a long value of many lines (a whole style file in
  // the report) then takes seconds.
  std::string result;
  result.reserve(text.size());
  std::size_t from = 0;
  for (; pos != std::string::npos; pos = text.find(what, from)) {
    result.append(text, from, pos - from);
    result += with;
    from = pos + what.size();
  }
  result.append(text, from, std::string::npos);
  text = std::move(result);
}

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t pos = text.find(at, start);
    pieces.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) return pieces;
    start = pos + 1;
  }
}

std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", n % 100);
  return buf;
}

std::string Hex(int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%" PRIX32, static_cast<uint32_t>(n));
  return buf;
}

// The text form of a date serial: "M/D/YYYY", then " h:mm:ss" when it has a
// time of day, as the runtime shows dates in reports. The whole part counts
// days from 30 Dec 1899 towards zero and the fraction is the time of that day
// whatever the sign (-1.25 is 29 Dec 1899, 6:00). A serial outside 1 Jan 100
// to 31 Dec 9999 is no date: the value then shows as "{?}".
std::string DateText(double serial) {
  if (!(serial > -657435.0 && serial < 2958466.0)) throw std::out_of_range("no date");
  const double days = std::trunc(serial);
  int64_t seconds = static_cast<int64_t>(std::llround((std::fabs(serial - days)) * 86400.0));
  int64_t day = static_cast<int64_t>(days);
  // A time that rounds to midnight at its end is the start of the next day.
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  // Civil date from days since 1899-12-30 (days since 1970-01-01 minus 25569).
  int64_t z = day - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  std::string text = std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
  if (seconds > 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    text += buf;
  }
  return text;
}

std::string CurrencyText(int64_t scaled) {
  std::string sign = scaled < 0 ? "-" : "";
  const uint64_t abs = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = sign + std::to_string(abs / 10000);
  uint64_t frac = abs % 10000;
  if (frac != 0) {
    std::string digits = std::to_string(frac);
    digits.insert(0, 4 - digits.size(), '0');
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += LocaleDecimalSeparator() + digits;
  }
  return text;
}

std::string Quoted(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '\'';
  quoted += text;
  quoted += '\'';
  return quoted;
}

}  // namespace

const char* const HEADER_TEMPLATE =
    "%Descr% %nl%"
    "  Time='%Time%' App='%App%:%Ver%' ADO-version='%ADOVersion%' Computer='%Comp%' %nl%"
    "  Method: %MethodName% %nl%"
    "  Number: %ErrNum% = &H%ErrHex% = vbObjectError %ErrNumRel1% = ERRMAP_APP_FIRST %ErrNumRel2% %ErrStd%%nl%"
    "  Source: %Source% %nl%"
    "  Description: %Descr%%nl%";

std::size_t CharCount(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

void AppendLine(const std::string& text) {
  if (IsUserMessage()) return;
  ReportText() += text;
  ReportText() += kCrLf;
}

void FillPlaceholder(const std::string& name, const std::string& value) {
  ReplaceAll(ReportText(), std::string(1, PlaceholderMark) + name + PlaceholderMark, value);
}

std::string SignedText(int64_t n) {
  if (n >= 0) return "+ " + std::to_string(n);
  return "- " + std::to_string(-n);
}

void BuildReportHeader(const std::string& baseName) {
  std::string& report = ReportText();
  try {
    report = HEADER_TEMPLATE;
    for (char& c : report)
      if (c == '%') c = PlaceholderMark;
    const PreservedErrRecord& p = PreservedErr();
    // The relative numbers are computed in 64 bits: for numbers of 0x40000 and
    // above they do not fit in 32, and every placeholder must still be filled.
    const int64_t number = p.Number;
    FillPlaceholder("nl", kCrLf);
    FillPlaceholder("MethodName", baseName);
    FillPlaceholder("Comp", ComputerName());
    FillPlaceholder("Time", ReportTime());
    std::string app;
    try {
      app = RequiredErrHost().ExeName();
    } catch (...) {
    }
    FillPlaceholder("App", app);
    FillPlaceholder("Ver", AppVersion());
    FillPlaceholder("ADOVersion", AdoVersion());
    FillPlaceholder("ErrNum", std::to_string(p.Number));
    FillPlaceholder("ErrHex", Hex(p.Number));
    FillPlaceholder("ErrNumRel1", SignedText(number - int64_t{static_cast<int32_t>(0x80040000)}));
    FillPlaceholder("ErrNumRel2", SignedText(number - int64_t{ERRMAP_APP_FIRST}));
    FillPlaceholder("ErrStd", p.Number == ERRMAP_APP_FIRST ? "= ERR_GENERAL" : "");
    FillPlaceholder("Source", p.Source);
    FillPlaceholder("Descr", p.Description);
  } catch (...) {
  }
  for (char& c : report)
    if (c == PlaceholderMark) c = '%';
}

std::string ComputerName() {
  try {
    return RequiredErrHost().ComputerName();
  } catch (...) {
    return {};
  }
}

std::string AppVersion() {
  try {
    const VersionNumbers v = RequiredErrHost().AppVersion();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
  } catch (...) {
    return {};
  }
}

std::string AdoVersion() {
  try {
    return RequiredErrHost().AdoVersion();
  } catch (...) {
    return "?";
  }
}

std::string ReportTime() {
  try {
    ErrHost& host = RequiredErrHost();
    const LocalTime t = host.Now();
    const std::string ds = host.DateSeparator(), ts = host.TimeSeparator();
    return TwoDigits(t.month) + ds + TwoDigits(t.day) + ds + TwoDigits(t.year) + " " + TwoDigits(t.hour) +
           ts + TwoDigits(t.minute) + ts + TwoDigits(t.second);
  } catch (...) {
    return {};
  }
}

std::string ApiErrorText(int32_t code) {
  try {
    std::string text = RequiredErrHost().SystemErrorText(code);
    ReplaceAll(text, kCrLf, "");
    ReplaceAll(text, std::string(1, '\0'), "");
    return text;
  } catch (...) {
    return {};
  }
}

void AppendApiError() {
  try {
    const int32_t n = PreservedErr().LastDllError;
    if (n == 0 || n == 203) return;
    AppendLine("  API Error: (" + std::to_string(n) + ") " + ApiErrorText(n));
  } catch (...) {
  }
}

std::string PadRight(const std::string& text, char fill, std::size_t width) {
  const std::size_t length = CharCount(text);
  if (length >= width) return text;
  return text + std::string(width - length, fill);
}

std::string ValueText(const Value& value) {
  try {
    return std::visit(
        [](const auto& v) -> std::string {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, ValueArray>) return "{Array}";
          else if constexpr (std::is_same_v<T, EmptyValue>) return "{Empty}";
          else if constexpr (std::is_same_v<T, NullValue>) return "{Null}";
          else if constexpr (std::is_same_v<T, bool>) return v ? "True" : "False";
          else if constexpr (std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t> ||
                             std::is_same_v<T, uint8_t>)
            return std::to_string(static_cast<int32_t>(v));
          else if constexpr (std::is_same_v<T, float>) return SingleText(v);
          else if constexpr (std::is_same_v<T, double>) return DoubleText(v);
          else if constexpr (std::is_same_v<T, Currency>) return CurrencyText(v.scaled);
          else if constexpr (std::is_same_v<T, DecimalValue>) return v.text;
          else if constexpr (std::is_same_v<T, DateValue>) return Quoted(DateText(v.serial));
          else if constexpr (std::is_same_v<T, std::string>) return Quoted(v);
          else if constexpr (std::is_same_v<T, ObjectRef>) return "{" + v.typeName + "}";
          else if constexpr (std::is_same_v<T, MissingValue> || std::is_same_v<T, ErrorValue>) return "";
          else return "{?}";
        },
        value.storage());
  } catch (...) {
    return "{?}";
  }
}

std::string IndentXml(const std::string& text) {
  const std::string inner = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
  try {
    const std::vector<std::string> pieces = Split(inner, '<');
    std::string result = pieces[0];
    int depth = 0;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
      const std::string& piece = pieces[i];
      if (!piece.empty() && piece[0] == '/') --depth;
      // A closing tag without its opening one: the indentation would be
      // negative, and the plain text serves better than a guess.
      if (depth < 0) return inner;
      if (i > 1) result += kCrLf;
      result += std::string(static_cast<std::size_t>(2 * depth), ' ') + "<" + piece;
      if (piece.find("/>") == std::string::npos && !(piece.size() > 0 && piece[0] == '/')) ++depth;
    }
    return result;
  } catch (...) {
    return inner;
  }
}

std::string FormatValueList(const std::string& names, const Value& values) {
  std::string& dumps = ValueDumps();
  dumps.clear();
  std::string result;
  try {
    const ValueArray single{values};
    const ValueArray& items = values.IsArray() ? values.As<ValueArray>() : single;
    const std::vector<std::string> nameList = Split(names, ',');
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string name = i < nameList.size() ? nameList[i] : std::string();
      std::string text = ValueText(items[i]);
      if (text.find(kCrLf) != std::string::npos || CharCount(text) > 40) {
        if (name.compare(0, 3, "xml") == 0 && text.compare(0, 2, "'<") == 0) text = IndentXml(text);
        std::string indented = "      " + text;
        ReplaceAll(indented, kCrLf, kCrLf + "      ");
        if (!dumps.empty()) dumps += kCrLf;
        dumps += "    Value Of " + name + ":" + kCrLf + indented;
        text = "{Text}";
      }
      const std::string item = name.empty() ? text : name + "=" + text;
      if (!result.empty()) result += ", ";
      result += item;
    }
  } catch (...) {
  }
  return result;
}

void AppendCallStackLine(const std::string& baseName, const std::string& paramNames, const Value& Params) {
  try {
    std::string line = "  Call Stack: " + baseName + "(" + FormatValueList(paramNames, Params) + ")";
    const int32_t at = PreservedErr().Line;
    if (at != 0) line += "  at Line " + std::to_string(at);
    line += " ";
    AppendLine(PadRight(line, '-', 100));
    if (!ValueDumps().empty()) {
      AppendLine(ValueDumps());
      ValueDumps().clear();
    }
  } catch (...) {
  }
}

}  // namespace velmora
