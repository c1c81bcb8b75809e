// clsBackup: the originals of ICQ's files, kept before Velmora first changes
// them, and put back on the user's request.
//
// Each ICQ folder has its own backup folder in the user's local application
// data: <local app data>\Velmora\Backup\<folder name>-<hash of the path>\,
// the path taken as the system resolves it, so that every spelling of one
// folder has one backup. Inside it every kept file has the path it has
// relative to ICQ's folder, and "index.txt" names the ICQ folder in its
// first line and lists each path once: whether the file existed before
// Velmora changed it, its size and its hash, and what Velmora itself wrote
// there last. A file that holds neither was changed by someone else (an ICQ
// update, a repair): its content then becomes the original at the next
// change, and a restore leaves it as it is.
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
  // What Velmora wrote there last: unknown in indexes of earlier versions.
  bool writtenKnown = false;
  bool writtenExists = false;
  uint64_t writtenSize = 0;
  uint64_t writtenHash = 0;
};

struct BackupIndex {
  std::string folder;  // the ICQ folder of the first line, as written
  std::vector<BackupEntry> entries;
};

// FNV-1a over the bytes: what the index records to tell a kept copy from a
// damaged one.
uint64_t ContentHash(const std::string& bytes);

// The name of an ICQ folder's backup folder: its last folder name, made safe
// for a file name, and eight hex digits of a hash of the whole path (case and
// doubled backslashes do not count, as they do not on Windows).
std::string BackupFolderName(const std::string& strICQPath);

// The index file's text and back. Parsing refuses the whole index (raises 5)
// when a line is not an entry or names a path outside the files Velmora
// changes (IsFixedSetPath), or the first line names no plain local folder.
std::string FormatBackupIndex(const BackupIndex& index);
BackupIndex ParseBackupIndex(const std::string& text);

class clsBackup {
 public:
  // The backup folder of this ICQ folder, with a trailing backslash.
  static std::string FolderFor(const std::string& strICQPath);
  // Whether a backup of this ICQ folder exists (its index does).
  static bool Exists(const std::string& strICQPath);

  // The folders of ICQ's that a restore from strBackupFolder writes into.
  // Raises as Restore does for an index that is not a backup of this folder
  // or names anything but ICQ's files that Velmora changes.
  static std::vector<std::string> RestoreFolders(const std::string& strICQPath, const std::string& strBackupFolder);

  // Keeps the original of every file named (relative to strICQPath) that has
  // none kept yet, or whose kept one is out of date (someone else changed the
  // file since Velmora wrote it): a copy when it exists, a note that it did
  // not otherwise. Raises when that cannot be done; then nothing of ICQ's was
  // changed.
  void KeepOriginals(const std::string& strICQPath, const std::vector<std::string>& files);
  // Notes what the files named hold now as what Velmora wrote there: called
  // after a command changed them, also when it failed part way.
  void NoteWritten(const std::string& strICQPath, const std::vector<std::string>& files);

  // The files (relative to strICQPath) that a restore from strBackupFolder
  // leaves as they are, because someone else changed them after Velmora did.
  static std::vector<std::string> ChangedByOthers(const std::string& strICQPath, const std::string& strBackupFolder);

  // Puts back every file of the index of strBackupFolder into strICQPath that
  // Velmora changed: each kept copy byte for byte; a file that did not exist
  // before is deleted. All of them or none: every copy is checked against the
  // index and staged beside its target before the first target is touched,
  // and a failed swap puts back those done before it. A backup of another
  // ICQ folder is refused. Returns the files left as they are
  // (ChangedByOthers).
  std::vector<std::string> Restore(const std::string& strICQPath, const std::string& strBackupFolder);
};

// The files relative to ICQ's folder that removing the banners changes: the
// two style files and the defaults that are deleted.
std::vector<std::string> BannerRemovalFiles(const std::string& strICQPath);
// The file that applying a picture writes.
std::string PictureFile();

}  // namespace velmora
