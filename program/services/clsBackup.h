// clsBackup: the originals of ICQ's files, kept before Velmora first changes
// them, and put back on the user's request.
//
// Each ICQ folder has its own backup folder in the user's local application
// data: <local app data>\Velmora\Backup\<folder name>-<hash of the path>\.
// Inside it every kept file has the path it has relative to ICQ's folder, and
// "index.txt" lists each path once: whether the file existed before Velmora
// changed it, its size and its hash. The first original of a path is kept for
// good; later changes never replace it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct BackupEntry {
  std::string path;  // relative to ICQ's folder, backslashes
  bool existed = false;
  uint64_t size = 0;
  uint64_t hash = 0;
};

// FNV-1a over the bytes: what the index records to tell a kept copy from a
// damaged one.
uint64_t ContentHash(const std::string& bytes);

// The name of an ICQ folder's backup folder: its last folder name, made safe
// for a file name, and eight hex digits of a hash of the whole path (case and
// doubled backslashes do not count, as they do not on Windows).
std::string BackupFolderName(const std::string& strICQPath);

// Whether a path relative to ICQ's folder is one Velmora may change: inside
// the theme or the defaults folder, without any way out of them.
bool IsChangeablePath(const std::string& relativePath);

// The index file's text and back. Parsing refuses (raises 5) a line that is
// not an entry or names a path Velmora may not change.
std::string FormatBackupIndex(const std::vector<BackupEntry>& entries);
std::vector<BackupEntry> ParseBackupIndex(const std::string& text);

class clsBackup {
 public:
  // The backup folder of this ICQ folder, with a trailing backslash.
  static std::string FolderFor(const std::string& strICQPath);
  // Whether a backup of this ICQ folder exists (its index does).
  static bool Exists(const std::string& strICQPath);

  // The folders of ICQ's that a restore from strBackupFolder writes into.
  static std::vector<std::string> RestoreFolders(const std::string& strICQPath, const std::string& strBackupFolder);

  // Keeps the original of every file named (relative to strICQPath) that has
  // none kept yet: a copy when it exists, a note that it did not otherwise.
  // Raises when that cannot be done; then nothing of ICQ's was changed.
  void KeepOriginals(const std::string& strICQPath, const std::vector<std::string>& files);

  // Puts back every file of the index of strBackupFolder into strICQPath:
  // each kept copy byte for byte, in one step per file; a file that did not
  // exist before is deleted. Every copy is checked against the index first,
  // so a damaged backup changes nothing.
  void Restore(const std::string& strICQPath, const std::string& strBackupFolder);
};

// The files relative to ICQ's folder that removing the banners changes: the
// two style files and the defaults that are deleted.
std::vector<std::string> BannerRemovalFiles(const std::string& strICQPath);
// The file that applying a picture writes.
std::string PictureFile();

}  // namespace velmora
