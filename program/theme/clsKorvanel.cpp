#include "theme/clsKorvanel.h"

#include <memory>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "services/clsFile.h"

namespace velmora {
namespace {

// What the listing of the defaults folder counts as an ordinary file:
// read-only and archived files are, hidden and system files and folders not.
bool IsOrdinaryFile(uint32_t attributes) {
  constexpr uint32_t kVolumeLabel = 0x08;
  return (attributes & (FileSystemPort::kHidden | FileSystemPort::kSystem | FileSystemPort::kDirectory |
                        kVolumeLabel)) == 0;
}

// The pattern "*.xml", compared case-sensitively: "C.XML" is not one.
bool MatchesXmlPattern(const std::string& name) {
  constexpr std::string_view kTail = ".xml";
  return name.size() >= kTail.size() && name.compare(name.size() - kTail.size(), kTail.size(), kTail) == 0;
}

std::unique_ptr<clsKorvanel>& KorvanelSlot() {
  static std::unique_ptr<clsKorvanel> korvanel;
  return korvanel;
}

}  // namespace

bool ReplaceHead(std::string& strText, std::string_view strSearch, std::string_view strReplacement) {
  const std::size_t start = strText.find(strSearch);
  if (start == std::string::npos) return false;
  const std::size_t close = strText.find('>', start);
  if (close == std::string::npos) {
    if (start == 0) return true;
    RaiseRuntime(5);  // Invalid procedure call or argument
  }
  // A copy: the text the head comes from is about to be rebuilt.
  const std::string head = strText.substr(start, close - start + 1);
  // A head that holds the whole search text cannot occur before it. One that
  // ends inside it (a search text with a ">") can, and is replaced there too.
  const std::size_t first = head.size() >= strSearch.size() ? start : strText.find(head);

  // The edited text is built once at its final size, so a file of many
  // megabytes costs one copy, not a reallocation chain.
  std::size_t size = strText.size();
  if (strReplacement.size() > head.size()) {
    std::size_t count = 0;
    for (std::size_t at = first; at != std::string::npos; at = strText.find(head, at + head.size())) ++count;
    size += count * (strReplacement.size() - head.size());
  }
  std::string edited;
  edited.reserve(size);
  std::size_t copied = 0;
  for (std::size_t at = first; at != std::string::npos; at = strText.find(head, copied)) {
    edited.append(strText, copied, at - copied);
    edited.append(strReplacement);
    copied = at + head.size();
  }
  edited.append(strText, copied);
  strText.swap(edited);
  return true;
}

void clsKorvanel::ClearDefaultsFolder() {
  // No trap: a folder that cannot be listed goes to the caller's trap as it
  // is. A folder that does not exist lists nothing.
  FileSystemPort& files = Files();
  const std::vector<FileSystemPort::Entry> entries = files.List(DefaultsFolder_);
  for (const FileSystemPort::Entry& entry : entries) {
    if (!IsOrdinaryFile(entry.attributes) || !MatchesXmlPattern(entry.name)) continue;
    const std::string path = DefaultsFolder_ + entry.name;
    try {
      files.SetAttributes(path, 0);
      files.Remove(path);
    } catch (...) {
      // ICQ rebuilds what is missing from these defaults; a file that stays
      // does no harm, and the other files still go.
    }
  }
}

bool clsKorvanel::RemoveMsgBanner() {
  Trap trap("clsKorvanel.RemoveMsgBanner");
  try {
    trap.at(10);
    std::string strContent = SharedFile().OpenForInput(MsgConfigFile_);
    trap.at(20);
    const bool areaReplaced = ReplaceHead(strContent, S1, A1);
    trap.at(30);
    const bool bannerReplaced = ReplaceHead(strContent, S2, A2);
    trap.at(40);
    if (!areaReplaced && !bannerReplaced) return false;
    trap.at(50);
    SharedFile().OpenForOutput(MsgConfigFile_, strContent);
    trap.at(60);
    return true;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

bool clsKorvanel::MsgBannerIsRemoved() {
  Trap trap("clsKorvanel.MsgBannerIsRemoved");
  try {
    trap.at(10);
    const std::string strContent = SharedFile().OpenForInput(MsgConfigFile_);
    trap.at(20);
    return strContent.find(A2) != std::string::npos;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

std::string clsKorvanel::ChangeImagePath(std::string strContent) {
  Trap trap("clsKorvanel.ChangeImagePath(strContent)");
  try {
    trap.at(10);
    const bool found = ReplaceHead(strContent, S3, A3);
    trap.at(20);
    if (!found) return {};
    trap.at(30);
    return strContent;
  } catch (...) {
    ErrorIn(trap, ContentForReport(strContent), ERRIN_PASS_ON);
  }
}

bool clsKorvanel::RemoveClBanner() {
  Trap trap("clsKorvanel.RemoveClBanner");
  try {
    trap.at(10);
    std::string strContent = SharedFile().OpenForInput(ClThemeFile_);
    trap.at(20);
    // Without the image head the content becomes empty, and nothing below
    // finds anything.
    strContent = ChangeImagePath(std::move(strContent));
    trap.at(30);
    if (!ReplaceHead(strContent, S4, A4)) return false;
    trap.at(40);
    ReplaceHead(strContent, S5, A5);
    trap.at(50);
    SharedFile().OpenForOutput(ClThemeFile_, strContent);
    trap.at(60);
    return true;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

bool clsKorvanel::ClBannerIsRemoved() {
  Trap trap("clsKorvanel.ClBannerIsRemoved");
  try {
    trap.at(10);
    const std::string strContent = SharedFile().OpenForInput(ClThemeFile_);
    trap.at(20);
    return strContent.find(A4) != std::string::npos;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

clsKorvanel& Korvanel() {
  std::unique_ptr<clsKorvanel>& korvanel = KorvanelSlot();
  if (!korvanel) korvanel = std::make_unique<clsKorvanel>();
  return *korvanel;
}

void ReleaseKorvanel() { KorvanelSlot().reset(); }

}  // namespace velmora
