// clsKorvanel: takes the advertisement banners out of ICQ 6 by editing two of
// its theme style files, and clears ICQ's folder of default configuration
// files. The style files are treated as plain text (bytes, in fact): every
// edit finds the start of one element's start tag and replaces that whole tag.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// ICQ's files that Velmora changes, relative to ICQ's folder.
inline constexpr const char* kThemeCoreFolder = "services\\icqApp\\ver1\\theme\\MUICore\\";
inline constexpr const char* kMsgStyleFile = "services\\icqApp\\ver1\\theme\\MUIMessage\\MsgSessionDlg.style.box";
inline constexpr const char* kClStyleFile = "services\\icqApp\\ver1\\theme\\MUICore\\MainDlgPanelOwner.style.box";
inline constexpr const char* kDefaultsFolder = "ConfigFiles\\Defaults\\";

// The texts the edits look for (S) and put in (A).
inline constexpr std::string_view S1 = "<style id=\"FeaturesBannerArea\"";
inline constexpr std::string_view A1 =
    "<style id=\"FeaturesBannerArea\" height=\"70\" minHeight=\"70\" paddingTop=\"4\"/>";
inline constexpr std::string_view S2 = "<style id=\"bannerStyle\"";
inline constexpr std::string_view A2 = "<style id=\"bannerStyle\" width=\"0\" height=\"0\" margin=\"1 2 0 2\">";
inline constexpr std::string_view S3 = "<bitmap id=\"image.icqBanner.bg\"";
inline constexpr std::string_view A3 = "<bitmap id=\"image.icqBanner.bg\" src=\"cl.jpg\" />";
inline constexpr std::string_view S4 = "<style id=\"adBoxStyle\"";
inline constexpr std::string_view A4 = "<style id=\"adBoxStyle\" width=\"0\" height=\"0\" />";
inline constexpr std::string_view S5 = "<style id=\"adContainerBoxStyle\"";
inline constexpr std::string_view A5 =
    "<style id=\"adContainerBoxStyle\" marginLeft=\"2\" marginTop=\"0\" width=\"138\" height=\"105\" "
    "hAlign=\"center\" vAlign=\"center\" fill=\"url(#image.icqBanner.bg)\" />";

// Head replacement, the one edit rule. The head is the text from the first
// occurrence of strSearch up to and including the first ">" from there on;
// every occurrence of that head, left to right, becomes strReplacement.
// Returns whether the edit applied (strSearch was found).
//
// A head without a ">" after it raises 5 and leaves the text as it was,
// except when strSearch stands at the very start: then the head is empty,
// nothing is replaced and the edit counts as applied.
bool ReplaceHead(std::string& strText, std::string_view strSearch, std::string_view strReplacement);

// Whether ClearDefaultsFolder deletes a file of that name and those
// attributes from the defaults folder.
bool IsDefaultToClear(const std::string& name, uint32_t attributes);
// The length of a text of `size` characters after `count` edits that each
// lengthen it by `growth`. Raises 7 (Out of memory) when that would pass
// `limit`, or what a size can count at all.
std::size_t GrownSize(std::size_t size, std::size_t count, std::size_t growth, std::size_t limit);

class clsKorvanel {
 public:
  // Points the three paths at the files of the ICQ folder strICQPath.
  void UseFolder(const std::string& strICQPath) {
    MsgConfigFile(strICQPath + kMsgStyleFile);
    ClThemeFile(strICQPath + kClStyleFile);
    DefaultsFolder(strICQPath + kDefaultsFolder);
  }
  // Full path of ICQ's defaults folder, ending in a backslash.
  void DefaultsFolder(const std::string& strValue) { DefaultsFolder_ = strValue; }
  // Full path of the message window's style file.
  void MsgConfigFile(const std::string& strValue) { MsgConfigFile_ = strValue; }
  // Full path of the contact list's style file.
  void ClThemeFile(const std::string& strValue) { ClThemeFile_ = strValue; }

  // Deletes the ordinary files named "*.xml" (lower case) of DefaultsFolder;
  // junctions and links are not followed or deleted. Once the first of them
  // is being cleared, nothing fails any more: a file that cannot be deleted
  // is left with its attributes. A DefaultsFolder that was never set or is
  // not named from a drive's or share's root raises 5.
  void ClearDefaultsFolder();
  // True when the message window's file was rewritten.
  bool RemoveMsgBanner();
  bool MsgBannerIsRemoved();
  // True when the contact list's file was rewritten.
  bool RemoveClBanner();
  bool ClBannerIsRemoved();

 private:
  // The content with its image head pointed at "cl.jpg", or an empty text
  // when it has no such head.
  std::string ChangeImagePath(std::string strContent);

  std::string MsgConfigFile_;
  std::string ClThemeFile_;
  std::string DefaultsFolder_;
};

// The main window's one clsKorvanel, created on first use; released when the
// main window unloads.
clsKorvanel& Korvanel();
void ReleaseKorvanel();

}  // namespace velmora
