// The report builders of ErrChain: the header, the system-error line, the
// call-stack lines and the long-value blocks, and their helpers. Each builder
// guards itself: a step that fails ends quietly with what it has produced.
#pragma once

#include <cstdint>
#include <string>

#include "errors/Value.h"

namespace velmora {

// Replaces "%" in templates while they are filled, so that values holding "%"
// are never taken for placeholders.
inline constexpr char PlaceholderMark = '\x08';

extern const char* const HEADER_TEMPLATE;

void AppendLine(const std::string& text);
void BuildReportHeader(const std::string& baseName);
void AppendApiError();
void AppendCallStackLine(const std::string& baseName, const std::string& paramNames,
                         const Value& Params);

void FillPlaceholder(const std::string& name, const std::string& value);
std::string SignedText(int64_t n);
std::string ApiErrorText(int32_t code);
std::string AdoVersion();
std::string ComputerName();
std::string AppVersion();
std::string ReportTime();
std::string FormatValueList(const std::string& names, const Value& values);
std::string ValueText(const Value& value);
std::string IndentXml(const std::string& text);
std::string PadRight(const std::string& text, char fill, std::size_t width);

// Length in characters of UTF-8 text (what the report's widths count).
std::size_t CharCount(const std::string& utf8);

}  // namespace velmora
