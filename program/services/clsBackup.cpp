#include "services/clsBackup.h"

#include <cstdio>
#include <map>

#include "errors/ErrChain.h"
#include "errors/VbConvert.h"
#include "platform/Ports.h"
#include "services/clsFile.h"
#include "services/basTrust.h"
#include "theme/clsKorvanel.h"

namespace velmora {
namespace {

constexpr const char* kIndexName = "index.txt";
constexpr std::string_view kIndexHeading = "Velmora backup of ";

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

bool ReadIndex(const std::string& backupFolder, BackupIndex* index) {
  FileSystemPort& files = Files();
  const std::string path = backupFolder + kIndexName;
  if (files.Attributes(path) == FileSystemPort::kNoFile) return false;
  *index = ParseBackupIndex(files.ReadWhole(path));
  return true;
}

void WriteIndex(const std::string& backupFolder, const BackupIndex& index) {
  ReplaceWhole(backupFolder + kIndexName, FormatBackupIndex(index));
}

// What a file of ICQ's holds now.
struct FileState {
  bool exists = false;
  uint64_t size = 0, hash = 0;
  std::string bytes;
};

FileState Current(FileSystemPort& files, const std::string& path) {
  FileState state;
  const uint32_t attributes = files.Attributes(path);
  if (attributes == FileSystemPort::kNoFile) return state;
  if ((attributes & FileSystemPort::kDirectory) != 0) RaiseRuntime(RuntimeError::kPathFileAccess);
  state.exists = true;
  state.bytes = files.ReadWhole(path);
  state.size = state.bytes.size();
  state.hash = ContentHash(state.bytes);
  return state;
}

bool Holds(const FileState& state, bool exists, uint64_t size, uint64_t hash) {
  return state.exists == exists && (!exists || (state.size == size && state.hash == hash));
}
bool HoldsOriginal(const FileState& state, const BackupEntry& e) { return Holds(state, e.existed, e.size, e.hash); }
bool HoldsVelmoras(const FileState& state, const BackupEntry& e) {
  return e.writtenKnown && Holds(state, e.writtenExists, e.writtenSize, e.writtenHash);
}
// Someone else changed it after Velmora did. An index that does not know
// what Velmora wrote cannot tell: its files count as Velmora's.
bool IsChangedByOthers(const FileState& state, const BackupEntry& e) {
  return e.writtenKnown && !HoldsOriginal(state, e) && !HoldsVelmoras(state, e);
}

BackupEntry* Find(BackupIndex& index, const std::string& relative) {
  for (BackupEntry& e : index.entries)
    if (ComparablePath(e.path) == ComparablePath(relative)) return &e;
  return nullptr;
}

// The index of a backup of strICQPath: one of another folder, or one that
// names anything but ICQ's files that Velmora changes, is refused whole.
BackupIndex IndexFor(const std::string& strICQPath, const std::string& backupFolder) {
  BackupIndex index;
  if (!ReadIndex(backupFolder, &index) || index.entries.empty()) RaiseRuntime(RuntimeError::kFileNotFound);
  if (!SamePath(CanonicalFolder(index.folder), CanonicalFolder(strICQPath)))
    Raise(RuntimeError::kInvalidCall, APP_TITLE,
          "The backup in " + backupFolder + " is one of " + index.folder + ", not of " + strICQPath);
  return index;
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

std::string FormatBackupIndex(const BackupIndex& index) {
  std::string text = std::string(kIndexHeading) + index.folder + "\r\n";
  for (const BackupEntry& e : index.entries) {
    text += e.existed ? "1\t" : "0\t";
    text += std::to_string(e.size) + "\t" + Hex(e.hash, 16) + "\t";
    text += !e.writtenKnown ? "-" : e.writtenExists ? "1" : "0";
    text += "\t" + std::to_string(e.writtenSize) + "\t" + Hex(e.writtenHash, 16) + "\t" + e.path + "\r\n";
  }
  return text;
}

BackupIndex ParseBackupIndex(const std::string& text) {
  BackupIndex index;
  bool headed = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.compare(0, kIndexHeading.size(), kIndexHeading) == 0) {
      index.folder = line.substr(kIndexHeading.size());
      if (headed || !IsPlainLocalPath(index.folder)) RaiseRuntime(RuntimeError::kInvalidCall);
      headed = true;
      continue;
    }
    // existed, size, hash, [Velmora's: written, size, hash,] path. A path
    // holds no tab, so the count of tabs tells the two forms apart.
    std::vector<std::string> fields;
    for (const std::string_view field : Split(line, '\t')) fields.emplace_back(field);
    BackupEntry e;
    uint64_t existed = 0;
    if ((fields.size() != 4 && fields.size() != 7) || !ParseUnsigned(fields[0], 10, &existed) || existed > 1 ||
        !ParseUnsigned(fields[1], 10, &e.size) || !ParseUnsigned(fields[2], 16, &e.hash))
      RaiseRuntime(RuntimeError::kInvalidCall);
    e.existed = existed == 1;
    if (fields.size() == 7) {
      uint64_t written = 0;
      e.writtenKnown = fields[3] != "-";
      if ((e.writtenKnown && (!ParseUnsigned(fields[3], 10, &written) || written > 1)) ||
          !ParseUnsigned(fields[4], 10, &e.writtenSize) || !ParseUnsigned(fields[5], 16, &e.writtenHash))
        RaiseRuntime(RuntimeError::kInvalidCall);
      e.writtenExists = written == 1;
    }
    e.path = fields.back();
    if (!IsFixedSetPath(e.path)) RaiseRuntime(RuntimeError::kInvalidCall);
    index.entries.push_back(std::move(e));
  }
  if (!headed && !index.entries.empty()) RaiseRuntime(RuntimeError::kInvalidCall);
  return index;
}

std::string clsBackup::FolderFor(const std::string& strICQPath) {
  return Facts().LocalAppDataFolder() + "Velmora\\Backup\\" + BackupFolderName(CanonicalFolder(strICQPath)) + "\\";
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
  for (const BackupEntry& e : IndexFor(strICQPath, strBackupFolder).entries) {
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
    BackupIndex index;
    if (!ReadIndex(folder, &index)) index.folder = CanonicalFolder(strICQPath);
    trap.at(40);
    bool changed = false;
    for (const std::string& relative : files) {
      if (!IsFixedSetPath(relative)) continue;
      const FileState now = Current(fs, strICQPath + relative);
      BackupEntry* kept = Find(index, relative);
      // The first original stays, and so does one that still is what ICQ's
      // folder holds, or what Velmora made of it.
      if (kept && !IsChangedByOthers(now, *kept)) continue;
      if (!kept) {
        index.entries.push_back(BackupEntry{});
        kept = &index.entries.back();
        kept->path = relative;
      }
      *kept = BackupEntry{kept->path, now.exists, now.size, now.hash};
      if (now.exists) {
        MakeParents(fs, folder, relative);
        ReplaceWhole(folder + relative, now.bytes);
      }
      changed = true;
    }
    trap.at(50);
    // The index last: a copy it does not name yet is no original, and is
    // taken again next time.
    if (changed) WriteIndex(folder, index);
  } catch (...) {
    ValueArray names;
    for (const std::string& f : files) names.emplace_back(f);
    ErrorIn(trap, Params(strICQPath, names), ERRIN_PASS_ON);
  }
}

void clsBackup::NoteWritten(const std::string& strICQPath, const std::vector<std::string>& files) {
  // No trap: this also runs while the failure of the command it follows is
  // on its way to the report, which must stay that failure's.
  FileSystemPort& fs = Files();
  const std::string folder = FolderFor(strICQPath);
  BackupIndex index;
  if (!ReadIndex(folder, &index)) return;
  bool changed = false;
  for (const std::string& relative : files) {
    BackupEntry* e = Find(index, relative);
    if (!e) continue;
    const FileState now = Current(fs, strICQPath + relative);
    if (HoldsVelmoras(now, *e)) continue;
    e->writtenKnown = true;
    e->writtenExists = now.exists;
    e->writtenSize = now.size;
    e->writtenHash = now.hash;
    changed = true;
  }
  if (changed) WriteIndex(folder, index);
}

std::vector<std::string> clsBackup::ChangedByOthers(const std::string& strICQPath, const std::string& strBackupFolder) {
  FileSystemPort& fs = Files();
  std::vector<std::string> left;
  for (const BackupEntry& e : IndexFor(strICQPath, strBackupFolder).entries)
    if (IsChangedByOthers(Current(fs, strICQPath + e.path), e)) left.push_back(e.path);
  return left;
}

std::vector<std::string> clsBackup::Restore(const std::string& strICQPath, const std::string& strBackupFolder) {
  Trap trap("clsBackup.Restore(strICQPath,strBackupFolder)");
  try {
    trap.at(10);
    FileSystemPort& fs = Files();
    const BackupIndex index = IndexFor(strICQPath, strBackupFolder);
    trap.at(20);
    // Every copy is read and checked before the first file is touched.
    std::vector<std::string> copies(index.entries.size());
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
      const BackupEntry& e = index.entries[i];
      if (!e.existed) continue;
      const std::string copy = strBackupFolder + e.path;
      if (fs.Attributes(copy) == FileSystemPort::kNoFile) RaiseRuntime(RuntimeError::kFileNotFound);
      copies[i] = fs.ReadWhole(copy);
      if (copies[i].size() != e.size || ContentHash(copies[i]) != e.hash) RaiseRuntime(RuntimeError::kInvalidCall);
    }
    trap.at(30);
    std::vector<std::string> left;
    FileSet set;
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
      const BackupEntry& e = index.entries[i];
      const FileState now = Current(fs, strICQPath + e.path);
      if (IsChangedByOthers(now, e)) {
        left.push_back(e.path);
      } else if (!HoldsOriginal(now, e)) {
        if (e.existed) {
          MakeParents(fs, strICQPath, e.path);
          set.Replace(strICQPath + e.path, copies[i]);
        } else {
          set.Remove(strICQPath + e.path);
        }
      }
    }
    trap.at(40);
    set.Commit();
    return left;
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
