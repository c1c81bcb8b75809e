#include "services/clsBackup.h"

#include <cstdio>
#include <map>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "services/clsFile.h"
#include "theme/clsKorvanel.h"

namespace velmora {
namespace {

constexpr const char* kIndexName = "index.txt";
constexpr std::string_view kIndexHeading = "Velmora backup of ";
constexpr std::string_view kChangeableFolders[] = {"services\\icqApp\\ver1\\theme\\", "ConfigFiles\\Defaults\\"};

std::string Hex(uint64_t value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = "0123456789abcdef"[value & 15];
  return text;
}

bool ParseUnsigned(const std::string& text, int base, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t result = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else return false;
    if (result > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  *value = result;
  return true;
}

// The path as Windows compares it: ASCII letters in lower case, every run of
// backslashes one, no backslash at the end. A UNC path keeps its two.
std::string ComparablePath(const std::string& path) {
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    char c = path[i] == '/' ? '\\' : path[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '\\' && !out.empty() && out.back() == '\\' && out.size() > 1) continue;
    out += c;
  }
  while (out.size() > 1 && out.back() == '\\') out.pop_back();
  return out;
}

// Creates the folders of `relative`'s parent below `base` (which exists).
void MakeParents(FileSystemPort& files, const std::string& base, const std::string& relative) {
  for (std::size_t slash = relative.find('\\'); slash != std::string::npos; slash = relative.find('\\', slash + 1))
    files.MakeFolder(base + relative.substr(0, slash));
}

std::string ReadIndex(const std::string& backupFolder) {
  FileSystemPort& files = Files();
  const std::string index = backupFolder + kIndexName;
  if (files.Attributes(index) == FileSystemPort::kNoFile) return {};
  return files.ReadWhole(index);
}

}  // namespace

uint64_t ContentHash(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string BackupFolderName(const std::string& strICQPath) {
  const std::string comparable = ComparablePath(strICQPath);
  std::string trimmed = strICQPath;
  while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  const std::size_t slash = trimmed.find_last_of("\\/");
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) c = '_';
  }
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (name.size() > 40) name.resize(40);
  if (name.empty()) name = "ICQ";
  return name + "-" + Hex(ContentHash(comparable) & 0xffffffffu, 8);
}

bool IsChangeablePath(const std::string& relativePath) {
  bool inside = false;
  for (const std::string_view folder : kChangeableFolders)
    if (relativePath.size() > folder.size() && relativePath.compare(0, folder.size(), folder) == 0) inside = true;
  if (!inside) return false;
  // Each part a plain name: no "..", no stream or drive, no empty part.
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relativePath.find('\\', start);
    const std::string part = relativePath.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == ".." || part.find_first_of(":/*?\"<>|") != std::string::npos)
      return false;
    for (const char c : part)
      if (static_cast<unsigned char>(c) < 0x20) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string FormatBackupIndex(const std::vector<BackupEntry>& entries) {
  std::string text;
  for (const BackupEntry& e : entries) {
    text += e.existed ? "1\t" : "0\t";
    text += std::to_string(e.size) + "\t" + Hex(e.hash, 16) + "\t" + e.path + "\r\n";
  }
  return text;
}

std::vector<BackupEntry> ParseBackupIndex(const std::string& text) {
  std::vector<BackupEntry> entries;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.compare(0, kIndexHeading.size(), kIndexHeading) == 0) continue;
    BackupEntry e;
    const std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
    uint64_t existed = 0;
    if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos ||
        !ParseUnsigned(line.substr(0, t1), 10, &existed) || existed > 1 ||
        !ParseUnsigned(line.substr(t1 + 1, t2 - t1 - 1), 10, &e.size) ||
        !ParseUnsigned(line.substr(t2 + 1, t3 - t2 - 1), 16, &e.hash))
      RaiseRuntime(RuntimeError::kInvalidCall);
    e.existed = existed == 1;
    e.path = line.substr(t3 + 1);
    if (!IsChangeablePath(e.path)) RaiseRuntime(RuntimeError::kInvalidCall);
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string clsBackup::FolderFor(const std::string& strICQPath) {
  return Facts().LocalAppDataFolder() + "Velmora\\Backup\\" + BackupFolderName(strICQPath) + "\\";
}

bool clsBackup::Exists(const std::string& strICQPath) {
  try {
    if (strICQPath.empty()) return false;
    const uint32_t attributes = Files().Attributes(FolderFor(strICQPath) + kIndexName);
    return attributes != FileSystemPort::kNoFile && (attributes & FileSystemPort::kDirectory) == 0;
  } catch (...) {
    return false;
  }
}

std::vector<std::string> clsBackup::RestoreFolders(const std::string& strICQPath, const std::string& strBackupFolder) {
  std::vector<std::string> folders;
  for (const BackupEntry& e : ParseBackupIndex(ReadIndex(strBackupFolder))) {
    const std::string folder = strICQPath + e.path.substr(0, e.path.rfind('\\') + 1);
    bool known = false;
    for (const std::string& f : folders) known = known || f == folder;
    if (!known) folders.push_back(folder);
  }
  return folders;
}

void clsBackup::KeepOriginals(const std::string& strICQPath, const std::vector<std::string>& files) {
  Trap trap("clsBackup.KeepOriginals(strICQPath,files)");
  try {
    trap.at(10);
    FileSystemPort& fs = Files();
    const std::string appData = Facts().LocalAppDataFolder();
    const std::string folder = FolderFor(strICQPath);
    trap.at(20);
    fs.MakeFolder(appData + "Velmora");
    fs.MakeFolder(appData + "Velmora\\Backup");
    fs.MakeFolder(folder.substr(0, folder.size() - 1));
    trap.at(30);
    std::vector<BackupEntry> entries = ParseBackupIndex(ReadIndex(folder));
    std::map<std::string, bool> kept;
    for (const BackupEntry& e : entries) kept[ComparablePath(e.path)] = true;
    trap.at(40);
    bool added = false;
    for (const std::string& relative : files) {
      if (!IsChangeablePath(relative) || kept.count(ComparablePath(relative))) continue;
      const std::string original = strICQPath + relative;
      const uint32_t attributes = fs.Attributes(original);
      if (attributes != FileSystemPort::kNoFile && (attributes & FileSystemPort::kDirectory) != 0) continue;
      BackupEntry e;
      e.path = relative;
      e.existed = attributes != FileSystemPort::kNoFile;
      if (e.existed) {
        const std::string bytes = fs.ReadWhole(original);
        e.size = bytes.size();
        e.hash = ContentHash(bytes);
        MakeParents(fs, folder, relative);
        ReplaceWhole(folder + relative, bytes);
      }
      kept[ComparablePath(relative)] = true;
      entries.push_back(std::move(e));
      added = true;
    }
    trap.at(50);
    // The index last: a copy it does not name yet is no original, and is
    // taken again next time.
    if (added)
      ReplaceWhole(folder + kIndexName, std::string(kIndexHeading) + strICQPath + "\r\n" + FormatBackupIndex(entries));
  } catch (...) {
    ValueArray names;
    for (const std::string& f : files) names.emplace_back(f);
    ErrorIn(trap, Params(strICQPath, names), ERRIN_PASS_ON);
  }
}

void clsBackup::Restore(const std::string& strICQPath, const std::string& strBackupFolder) {
  Trap trap("clsBackup.Restore(strICQPath,strBackupFolder)");
  try {
    trap.at(10);
    FileSystemPort& fs = Files();
    const std::vector<BackupEntry> entries = ParseBackupIndex(ReadIndex(strBackupFolder));
    if (entries.empty()) RaiseRuntime(RuntimeError::kFileNotFound);
    trap.at(20);
    // Every copy is read and checked before the first file is touched.
    std::vector<std::string> copies(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!entries[i].existed) continue;
      const std::string copy = strBackupFolder + entries[i].path;
      if (fs.Attributes(copy) == FileSystemPort::kNoFile) RaiseRuntime(RuntimeError::kFileNotFound);
      copies[i] = fs.ReadWhole(copy);
      if (copies[i].size() != entries[i].size || ContentHash(copies[i]) != entries[i].hash)
        RaiseRuntime(RuntimeError::kInvalidCall);
    }
    trap.at(30);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string target = strICQPath + entries[i].path;
      if (entries[i].existed) {
        MakeParents(fs, strICQPath, entries[i].path);
        ReplaceWhole(target, copies[i]);
      } else if (fs.Attributes(target) != FileSystemPort::kNoFile) {
        fs.Remove(target);
      }
    }
  } catch (...) {
    ErrorIn(trap, Params(strICQPath, strBackupFolder), ERRIN_PASS_ON);
  }
}

std::vector<std::string> BannerRemovalFiles(const std::string& strICQPath) {
  std::vector<std::string> files = {kMsgStyleFile, kClStyleFile};
  for (const FileSystemPort::Entry& entry : Files().List(strICQPath + kDefaultsFolder))
    if (IsDefaultToClear(entry.name, entry.attributes)) files.push_back(std::string(kDefaultsFolder) + entry.name);
  return files;
}

std::string PictureFile() { return std::string(kThemeCoreFolder) + "cl.jpg"; }

}  // namespace velmora
