// The fake ICQ 6 installation in tests/fixtures/icq6: its files, and what its
// two style files must hold once the banner edits have run. Everything but the
// heads stays byte for byte, CR LF and the bytes above 0x7F included.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "theme/clsKorvanel.h"

namespace velmora::testing {

inline constexpr const char* kFixtureMsgFile = "services/icqApp/ver1/theme/MUIMessage/MsgSessionDlg.style.box";
inline constexpr const char* kFixtureClFile = "services/icqApp/ver1/theme/MUICore/MainDlgPanelOwner.style.box";

// The installation's folder. Under Wine the source tree is seen through the
// drive that maps the Unix root.
inline std::string FixtureRoot() {
#ifdef _WIN32
  std::string root = std::string("Z:") + VELMORA_FIXTURES + "/icq6";
  for (char& c : root)
    if (c == '/') c = '\\';
  return root;
#else
  return std::string(VELMORA_FIXTURES) + "/icq6";
#endif
}

// The bytes of a file of the installation, by its path relative to it.
inline std::string FixtureBytes(const std::string& relative) {
  std::ifstream in(FixtureRoot() + "/" + relative, std::ios::binary);
  EXPECT_TRUE(in) << "fixture file missing: " << relative;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The fixture's heads are spelled out here; one that is not in the file any
// more would make the expectation the unedited file.
inline std::string ReplacedEverywhere(std::string text, std::string_view what, std::string_view with) {
  EXPECT_NE(text.find(what), std::string::npos) << "not in the fixture: " << what;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

inline std::string FixtureMsgFileEdited() {
  std::string text = FixtureBytes(kFixtureMsgFile);
  text = ReplacedEverywhere(
      text, "<style id=\"FeaturesBannerArea\" height=\"96\" minHeight=\"96\" paddingTop=\"4\" paddingBottom=\"2\"/>", A1);
  return ReplacedEverywhere(text, "<style id=\"bannerStyle\" width=\"468\" height=\"60\" margin=\"4 2 4 2\">", A2);
}

inline std::string FixtureClFileEdited() {
  std::string text = FixtureBytes(kFixtureClFile);
  text = ReplacedEverywhere(text, "<bitmap id=\"image.icqBanner.bg\" src=\"banner_bg.png\" tile=\"false\" />", A3);
  // Twice in the file, once inside the container and once outside.
  text = ReplacedEverywhere(text, "<style id=\"adBoxStyle\" width=\"120\" height=\"90\" />", A4);
  return ReplacedEverywhere(text,
                            "<style id=\"adContainerBoxStyle\" marginLeft=\"4\" marginTop=\"2\" width=\"126\" "
                            "height=\"96\" hAlign=\"left\" >",
                            A5);
}

}  // namespace velmora::testing
