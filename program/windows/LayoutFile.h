// The stored layout of a window: a readable text file beside the window's
// code, compiled into the program. It holds the window's own settings and
// each control with its kind, name, position and size in twips, its settings
// and, for a Quillon button, the entries of its property bag:
//
//   Form frmMain
//     Caption = "Velmora"
//     ClientSize = 2775 5775
//   Control Quillon qbtnOpen 120 840 2535 615
//     Bag buttoncaption = Str "Bild öffnen"
//     Bag buttonpicture = Icon "qbtnOpen.ico"
//
// A value is a bare word or a quoted text ("" stands for one quote); numbers
// are decimal or &H hexadecimal. Lines starting with # are comments. The
// controls are listed in tab order, which is also their stacking order: an
// earlier control lies above a later one.
//
// Portable: no windows.h here, so the layouts can be checked natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct LayoutSetting {
  std::string name;
  std::vector<std::string> values;
};

struct LayoutControl {
  std::string kind, name;
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<LayoutSetting> settings;
  std::vector<LayoutSetting> bag;  // Quillon buttons: type, then value(s)

  const LayoutSetting* Find(std::string_view name) const;
  // The first value of a setting, or `fallback` when the setting is absent.
  std::string Text(std::string_view name, const std::string& fallback = {}) const;
  int64_t Number(std::string_view name, int64_t fallback) const;
  bool Flag(std::string_view name) const;  // "True" (any case) is true
};

struct Layout {
  std::string formName;
  LayoutControl form;  // the window's own settings; kind "Form"
  std::vector<LayoutControl> controls;

  const LayoutControl* Find(std::string_view name) const;
};

// Raises 5 with the line number in the description when the text is not a
// layout.
Layout ParseLayout(std::string_view text);

// A decimal or &H hexadecimal number; raises 13 for anything else.
int64_t LayoutNumber(const std::string& text);

}  // namespace velmora
