#include "services/basTrust.h"

#include "errors/ErrChain.h"
#include "services/clsFile.h"
#include "theme/clsKorvanel.h"

namespace velmora {
namespace {

bool StartsWithLetters(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && SameLetters(text.substr(0, head.size()), head);
}

// Whole UTF-8: every sequence complete, shortest, and no surrogate.
bool IsWholeUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) n = 1, code = c & 0x1Fu;
    else if (c >= 0xE0 && c <= 0xEF) n = 2, code = c & 0x0Fu;
    else if (c >= 0xF0 && c <= 0xF4) n = 3, code = c & 0x07u;
    else return false;
    if (i + n >= text.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const unsigned char f = static_cast<unsigned char>(text[i + k]);
      if ((f & 0xC0) != 0x80) return false;
      code = (code << 6) | (f & 0x3Fu);
    }
    if ((n == 2 && code < 0x800) || (n == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

bool IsDeviceName(std::string_view part) {
  // The system looks at the name before the first dot, blanks at its end
  // dropped: "nul .xml" is the device too.
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (SameLetters(base, device)) return true;
  return base.size() == 4 && (StartsWithLetters(base, "COM") || StartsWithLetters(base, "LPT")) && base[3] >= '0' &&
         base[3] <= '9';
}

// The fixed-set path a path relative to ICQ's folder belongs to: itself, or
// the target of one of a replace's own files. Empty when there is none.
std::string_view FixedSetTarget(std::string_view relative) {
  if (IsFixedSetPath(relative)) return relative;
  for (std::size_t dot = relative.find('.'); dot != std::string_view::npos; dot = relative.find('.', dot + 1))
    if (IsOwnFileOf(relative, relative.substr(0, dot)) && IsFixedSetPath(relative.substr(0, dot)))
      return relative.substr(0, dot);
  return {};
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  Raise(RuntimeError::kPathFileAccess, APP_TITLE, "Velmora as administrator does not write " + path + ": " + why);
}

}  // namespace

bool IsPlainPart(std::string_view part) {
  if (part.empty() || part == "." || part == ".." || part.back() == '.' || part.back() == ' ') return false;
  for (const char c : part)
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
      return false;
  return IsWholeUtf8(part) && !IsDeviceName(part);
}

bool IsPlainLocalPath(std::string_view path) {
  if (path.size() < 3 || !((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) ||
      path[1] != ':' || path[2] != '\\')
    return false;
  path.remove_prefix(3);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  while (!path.empty()) {
    const std::size_t slash = path.find('\\');
    if (!IsPlainPart(path.substr(0, slash))) return false;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
    if (path.empty()) return false;
  }
  return true;
}

bool IsFixedSetPath(std::string_view relative) {
  for (const std::string_view file : {std::string_view(kMsgStyleFile), std::string_view(kClStyleFile)})
    if (SameLetters(relative, file)) return true;
  if (StartsWithLetters(relative, kThemeCoreFolder) &&
      SameLetters(relative.substr(std::string_view(kThemeCoreFolder).size()), "cl.jpg"))
    return true;
  if (!StartsWithLetters(relative, kDefaultsFolder)) return false;
  const std::string_view name = relative.substr(std::string_view(kDefaultsFolder).size());
  constexpr std::string_view kXml = ".xml";
  return name.size() > kXml.size() && name.substr(name.size() - kXml.size()) == kXml && IsPlainPart(name);
}

std::string RelativeTo(std::string_view folder, std::string_view path) {
  if (folder.empty() || folder.back() != '\\' || path.size() <= folder.size() || !StartsWithLetters(path, folder))
    return {};
  return std::string(path.substr(folder.size()));
}

bool SamePath(std::string_view a, std::string_view b) {
  while (a.size() > 3 && a.back() == '\\') a.remove_suffix(1);
  while (b.size() > 3 && b.back() == '\\') b.remove_suffix(1);
  return SameLetters(a, b);
}

std::string CanonicalFolder(const std::string& folder) {
  FileSystemPort& files = Files();
  std::string canonical = folder;
  try {
    canonical = files.LongPath(folder);
    const std::string final = files.FinalFolderPath(canonical);
    if (!final.empty()) canonical = final;
  } catch (...) {
    // A folder that cannot be opened is named as it was given; whatever
    // uses it then reports why.
  }
  if (!canonical.empty() && canonical.back() != '\\') canonical += '\\';
  return canonical;
}

std::string LinkOnTheWay(FileSystemPort& files, const std::string& path) {
  std::string trimmed = path;
  while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  // Past the root: "X:\" or "\\server\share\".
  std::size_t from = 3;
  if (trimmed.size() >= 2 && (trimmed[0] == '\\' || trimmed[0] == '/') && (trimmed[1] == '\\' || trimmed[1] == '/')) {
    from = trimmed.find_first_of("\\/", 2);
    if (from != std::string::npos) from = trimmed.find_first_of("\\/", from + 1);
    if (from == std::string::npos) return {};
    ++from;
  }
  for (std::size_t slash = trimmed.find_first_of("\\/", from);; slash = trimmed.find_first_of("\\/", slash + 1)) {
    const std::string step = trimmed.substr(0, slash);
    const uint32_t attributes = step.size() > from ? files.Attributes(step) : FileSystemPort::kNoFile;
    if (attributes != FileSystemPort::kNoFile && (attributes & FileSystemPort::kReparsePoint) != 0) return step;
    if (slash == std::string::npos) return {};
  }
}

void CheckNoLinkOnTheWay(FileSystemPort& files, const std::string& path) {
  if (!IsPlainLocalPath(path)) Refuse(path, "not a plain path on a local drive");
  if (!files.IsLocalDisk(path)) Refuse(path, "not on a local disk");
  const std::string link = LinkOnTheWay(files, path);
  if (!link.empty()) Refuse(path, link + " is a junction or link");
  std::string trimmed = path;
  if (trimmed.size() > 3 && trimmed.back() == '\\') trimmed.pop_back();
  // Between the look at the attributes and now, a folder on the way may have
  // become a link: opened, the folder must still be the one checked. (Where
  // the system cannot tell, as on XP, the look at the attributes stands.)
  const std::string folder = trimmed.substr(0, trimmed.rfind('\\') + 1);
  if (files.Attributes(folder) == FileSystemPort::kNoFile) return;
  const std::string final = files.FinalFolderPath(folder);
  if (!final.empty() && !SamePath(final, folder)) Refuse(path, folder + " leads to " + final);
}

void GuardedFiles::CheckFile(const std::string& path) {
  if (FixedSetTarget(RelativeTo(icqFolder_, path)).empty()) Refuse(path, "not one of ICQ's files that Velmora changes");
  CheckNoLinkOnTheWay(inner_, path);
}

void GuardedFiles::WriteNew(const std::string& path, std::string_view bytes) {
  CheckFile(path);
  inner_.WriteNew(path, bytes);
}

void GuardedFiles::MoveOver(const std::string& from, const std::string& to) {
  CheckFile(from);
  CheckFile(to);
  inner_.MoveOver(from, to);
}

void GuardedFiles::ReplaceKeeping(const std::string& from, const std::string& to, const std::string& backup) {
  CheckFile(from);
  CheckFile(to);
  CheckFile(backup);
  inner_.ReplaceKeeping(from, to, backup);
}

void GuardedFiles::Remove(const std::string& path) {
  CheckFile(path);
  inner_.Remove(path);
}

void GuardedFiles::SetAttributes(const std::string& path, uint32_t attributes) {
  CheckFile(path);
  if (inner_.LinkCount(path) > 1) Refuse(path, "it has another name elsewhere");
  inner_.SetAttributes(path, attributes);
}

void GuardedFiles::MakeFolder(const std::string& path) {
  // Only a folder on the way to one of the fixed set's files.
  std::string folder = RelativeTo(icqFolder_, path);
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  bool onTheWay = false;
  for (const std::string_view file :
       {std::string_view(kMsgStyleFile), std::string_view(kClStyleFile), std::string_view(kDefaultsFolder)})
    onTheWay = onTheWay || (!folder.empty() && StartsWithLetters(file, folder));
  if (!onTheWay) Refuse(path, "not a folder of ICQ's that Velmora changes files in");
  CheckNoLinkOnTheWay(inner_, path);
  inner_.MakeFolder(path);
}

}  // namespace velmora
