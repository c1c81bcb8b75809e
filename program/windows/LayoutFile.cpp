#include "windows/LayoutFile.h"

#include <cctype>
#include <cstdlib>

#include "errors/ErrChain.h"

namespace velmora {
namespace {

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

[[noreturn]] void Bad(int line, const std::string& what) {
  Raise(RuntimeError::kInvalidCall, "Velmora", "Layout line " + std::to_string(line) + ": " + what);
}

std::vector<std::string> Tokens(std::string_view line, int lineNo) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '"') {
      std::string text;
      for (++i;; ++i) {
        if (i >= line.size()) Bad(lineNo, "unterminated text");
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            text += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          text += line[i];
        }
      }
      out.push_back(std::move(text));
    } else if (c == '=') {
      out.emplace_back("=");
      ++i;
    } else {
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '=') ++i;
      out.emplace_back(line.substr(start, i - start));
    }
  }
  return out;
}

int Int(const std::string& text, int line) {
  try {
    return static_cast<int>(LayoutNumber(text));
  } catch (const VbError&) {
    Bad(line, "not a number: " + text);
  }
}

}  // namespace

int64_t LayoutNumber(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h');
  const char* start = text.c_str() + (hex ? 2 : 0);
  char* end = nullptr;
  const long long value = std::strtoll(start, &end, hex ? 16 : 10);
  if (text.empty() || end == start || *end != '\0') RaiseRuntime(RuntimeError::kTypeMismatch);
  return value;
}

const LayoutSetting* LayoutControl::Find(std::string_view wanted) const {
  for (const auto& s : settings)
    if (IEquals(s.name, wanted)) return &s;
  return nullptr;
}

std::string LayoutControl::Text(std::string_view wanted, const std::string& fallback) const {
  const LayoutSetting* s = Find(wanted);
  return s && !s->values.empty() ? s->values[0] : fallback;
}

int64_t LayoutControl::Number(std::string_view wanted, int64_t fallback) const {
  const LayoutSetting* s = Find(wanted);
  return s && !s->values.empty() ? LayoutNumber(s->values[0]) : fallback;
}

bool LayoutControl::Flag(std::string_view wanted) const { return IEquals(Text(wanted), "True"); }

const LayoutControl* Layout::Find(std::string_view wanted) const {
  for (const auto& c : controls)
    if (IEquals(c.name, wanted)) return &c;
  return nullptr;
}

Layout ParseLayout(std::string_view text) {
  Layout layout;
  LayoutControl* current = nullptr;
  int lineNo = 0;
  std::size_t pos = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    std::vector<std::string> t = Tokens(line, lineNo);
    if (IEquals(t[0], "Form")) {
      if (t.size() != 2) Bad(lineNo, "Form takes a name");
      layout.formName = t[1];
      layout.form.kind = "Form";
      layout.form.name = t[1];
      current = &layout.form;
    } else if (IEquals(t[0], "Control")) {
      if (t.size() != 7) Bad(lineNo, "Control takes kind, name, left, top, width and height");
      LayoutControl c;
      c.kind = t[1];
      c.name = t[2];
      c.left = Int(t[3], lineNo);
      c.top = Int(t[4], lineNo);
      c.width = Int(t[5], lineNo);
      c.height = Int(t[6], lineNo);
      layout.controls.push_back(std::move(c));
      current = &layout.controls.back();
    } else {
      if (!current) Bad(lineNo, "a setting before any Form or Control");
      const bool bag = IEquals(t[0], "Bag");
      if (bag) t.erase(t.begin());
      if (t.size() < 3 || t[1] != "=") Bad(lineNo, "expected: name = value");
      LayoutSetting s{t[0], std::vector<std::string>(t.begin() + 2, t.end())};
      (bag ? current->bag : current->settings).push_back(std::move(s));
    }
  }
  if (layout.formName.empty()) Bad(lineNo, "no Form line");
  return layout;
}

}  // namespace velmora
