#include "theme/clsKorvanel.h"

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "services/basTrust.h"
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

// Searches one text many times over a long text. The heads are tens of
// characters long and start with the most common character of a style file,
// so skipping by the last character beats looking at every "<".
class Finder {
 public:
  explicit Finder(std::string_view pattern)
      : pattern_(pattern), searcher_(pattern_.begin(), pattern_.end()) {}
  std::size_t In(const std::string& text, std::size_t from) const {
    if (from > text.size()) return std::string::npos;
    const auto found = searcher_(text.begin() + static_cast<std::ptrdiff_t>(from), text.end());
    if (found.first == found.second && !pattern_.empty()) return std::string::npos;
    return static_cast<std::size_t>(found.first - text.begin());
  }

 private:
  std::string_view pattern_;
  std::boyer_moore_horspool_searcher<std::string_view::const_iterator> searcher_;
};

// A folder named from the root of a drive (C:\...) or of a network share
// (\\server\share\...). Anything else would be taken from the current
// folder or the current folder of a drive, wherever that is.
bool IsAbsoluteFolder(std::string_view folder) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (folder.size() >= 3 && ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z')) &&
      folder[1] == ':' && separator(folder[2]))
    return true;
  if (folder.size() < 2 || !separator(folder[0]) || !separator(folder[1])) return false;
  folder.remove_prefix(2);
  const std::size_t server = folder.find_first_of("\\/");
  if (server == 0 || server == std::string_view::npos) return false;
  folder.remove_prefix(server + 1);
  return !folder.empty() && !separator(folder[0]);
}

// The attributes a file can be given back: read-only, hidden, system,
// archive, normal, temporary, offline, not indexed.
constexpr uint32_t kSettableAttributes = 0x01 | 0x02 | 0x04 | 0x20 | 0x80 | 0x100 | 0x1000 | 0x2000;

std::unique_ptr<clsKorvanel>& KorvanelSlot() {
  static std::unique_ptr<clsKorvanel> korvanel;
  return korvanel;
}

}  // namespace

bool IsDefaultToClear(const std::string& name, uint32_t attributes) {
  // A link named like a defaults file is not one: deleting through it
  // would reach whatever it points at, or the link alone, neither ICQ's.
  return IsOrdinaryFile(attributes) && (attributes & FileSystemPort::kReparsePoint) == 0 && MatchesXmlPattern(name);
}

std::size_t GrownSize(std::size_t size, std::size_t count, std::size_t growth, std::size_t limit) {
  // On a 32-bit system a style file of some hundred megabytes with many
  // heads would wrap around here and be cut short instead of failing.
  if (size > limit || (growth != 0 && count > (limit - size) / growth)) RaiseRuntime(RuntimeError::kOutOfMemory);
  return size + count * growth;
}

bool ReplaceHead(std::string& strText, std::string_view strSearch, std::string_view strReplacement) {
  const std::size_t start = Finder(strSearch).In(strText, 0);
  if (start == std::string::npos) return false;
  const std::size_t close = strText.find('>', start);
  if (close == std::string::npos) {
    if (start == 0) return true;
    RaiseRuntime(RuntimeError::kInvalidCall);
  }
  // A copy: the text the head comes from is about to be rewritten.
  const std::string head = strText.substr(start, close - start + 1);
  const Finder heads(head);
  // A head that holds the whole search text cannot occur before it. One that
  // ends inside it (a search text with a ">") can, and is replaced there too.
  const std::size_t first = head.size() >= strSearch.size() ? start : heads.In(strText, 0);
  const std::size_t keep = head.size();
  const std::size_t put = strReplacement.size();

  if (put <= keep) {
    // Shrinking or equal: edited in place, front to back. What is written
    // never passes what is still to be searched, and a style file of many
    // megabytes is not copied at all.
    char* const text = strText.data();
    std::size_t written = first, read = first;
    for (std::size_t at = first; at != std::string::npos; at = heads.In(strText, read)) {
      std::memmove(text + written, text + read, at - read);
      written += at - read;
      std::memcpy(text + written, strReplacement.data(), put);
      written += put;
      read = at + keep;
    }
    std::memmove(text + written, text + read, strText.size() - read);
    strText.resize(written + strText.size() - read);
    return true;
  }

  // Growing: made room for at the end, then filled back to front, so that
  // every byte moves once and nothing still unread is overwritten. A text
  // read with room to spare (as clsFile reads) is edited without a copy.
  std::vector<std::size_t> found;
  for (std::size_t at = first; at != std::string::npos; at = heads.In(strText, at + keep)) found.push_back(at);
  const std::size_t oldSize = strText.size();
  strText.resize(GrownSize(oldSize, found.size(), put - keep, strText.max_size()));
  char* const text = strText.data();
  std::size_t readEnd = oldSize, writeEnd = strText.size();
  for (auto at = found.rbegin(); at != found.rend(); ++at) {
    const std::size_t tail = readEnd - (*at + keep);
    writeEnd -= tail;
    std::memmove(text + writeEnd, text + *at + keep, tail);
    writeEnd -= put;
    std::memcpy(text + writeEnd, strReplacement.data(), put);
    readEnd = *at;
  }
  return true;
}

void clsKorvanel::ClearDefaultsFolder() {
  // No trap: a folder that cannot be listed goes to the caller's trap as it
  // is. A folder that does not exist lists nothing.
  // A folder never set, or one not named from a root, would be looked for
  // in the current folder and its "*.xml" files deleted, wherever that is.
  // It is a fault of the caller, not a folder that is missing.
  if (!IsAbsoluteFolder(DefaultsFolder_)) RaiseRuntime(RuntimeError::kInvalidCall);
  FileSystemPort& files = Files();
  // A defaults folder reached through a junction or a link (itself, or
  // ConfigFiles, or any folder above) lies somewhere else: nothing there is
  // ICQ's to delete, and saying nothing would pass for success.
  const std::string link = LinkOnTheWay(files, DefaultsFolder_);
  if (!link.empty())
    Raise(RuntimeError::kPathFileAccess, APP_TITLE,
          "ICQ's defaults folder " + DefaultsFolder_ + " lies elsewhere: " + link + " is a junction or link");
  const std::vector<FileSystemPort::Entry> entries = files.List(DefaultsFolder_);
  for (const FileSystemPort::Entry& entry : entries) {
    if (!IsDefaultToClear(entry.name, entry.attributes)) continue;
    const std::string path = DefaultsFolder_ + entry.name;
    // ICQ rebuilds what is missing from these defaults; a file that stays
    // does no harm, and the other files still go.
    try {
      files.SetAttributes(path, 0);
    } catch (...) {
      continue;
    }
    try {
      files.Remove(path);
    } catch (...) {
      // It stays as it was: a read-only file is not left writable.
      const uint32_t kept = entry.attributes & kSettableAttributes;
      try {
        if ((kept & ~0x80u) != 0) files.SetAttributes(path, kept);
      } catch (...) {
      }
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
