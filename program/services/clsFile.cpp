#include "services/clsFile.h"

#include <chrono>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <thread>

#include "errors/ErrChain.h"
#include "platform/Ports.h"

namespace velmora {
namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;

// Virus scanners and indexers open a freshly written file for a moment. A
// replace that runs into one waits a little and tries again, about half a
// second in all, before it gives up.
constexpr std::chrono::milliseconds kRetryPauses[] = {
    std::chrono::milliseconds(10), std::chrono::milliseconds(20), std::chrono::milliseconds(40),
    std::chrono::milliseconds(80), std::chrono::milliseconds(100), std::chrono::milliseconds(100),
    std::chrono::milliseconds(100)};

// Stale temporary files of an earlier run that was cut off are stepped over,
// up to this many.
constexpr int kTempNameTries = 100;

bool IsMomentaryLock(int32_t code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

void TrimSpaces(std::string& text) {
  const std::size_t last = text.find_last_not_of(' ');
  if (last == std::string::npos) {
    text.clear();
    return;
  }
  text.erase(last + 1);
  // In place: a style file can be many megabytes.
  text.erase(0, text.find_first_not_of(' '));
}


// The names a replace of `target` gives its own files: "<name>.velmora<N>.tmp"
// for the new content, "<name>.velmora<N>.old" for the replaced one.
std::string TempNameFor(const std::string& target, unsigned n) {
  return target + ".velmora" + std::to_string(n) + ".tmp";
}
std::string BackupNameFor(const std::string& temp) { return temp.substr(0, temp.size() - 4) + ".old"; }

}  // namespace

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsOwnFileOf(std::string_view entry, std::string_view name) {
  constexpr std::string_view kMark = ".velmora";
  if (entry.size() <= name.size() + kMark.size() + 4) return false;
  if (!SameLetters(entry.substr(0, name.size()), name)) return false;
  entry.remove_prefix(name.size());
  if (!SameLetters(entry.substr(0, kMark.size()), kMark)) return false;
  entry.remove_prefix(kMark.size());
  std::size_t digits = 0;
  while (digits < entry.size() && entry[digits] >= '0' && entry[digits] <= '9') ++digits;
  if (digits == 0) return false;
  entry.remove_prefix(digits);
  return SameLetters(entry, ".tmp") || SameLetters(entry, ".old");
}

namespace {

// A run that was cut off between writing its new file and putting it in
// place (killed, the power gone) left that file beside the target, and may
// have left the replaced content under its backup name. Both go before the
// next replace of a target that is there, which would otherwise step over
// their names for ever. (Without the target, a backup might be the only copy
// of it, had the run stopped in the middle of the swap.)
void RemoveLeftovers(FileSystemPort& files, const std::string& target) {
  const std::size_t slash = target.find_last_of("\\/");
  if (slash == std::string::npos) return;
  const std::string folder = target.substr(0, slash + 1);
  const std::string_view name = std::string_view(target).substr(slash + 1);
  try {
    for (const FileSystemPort::Entry& entry : files.List(folder)) {
      if ((entry.attributes & (FileSystemPort::kDirectory | FileSystemPort::kReparsePoint)) != 0 ||
          !IsOwnFileOf(entry.name, name))
        continue;
      try {
        files.Remove(folder + entry.name);
      } catch (...) {
        // Still in use, or not ours to delete: it stays, and its name is
        // stepped over.
      }
    }
  } catch (...) {
    // A folder that cannot be listed here fails the write itself a moment
    // later, with the reason that matters.
  }
}

unsigned NextSerial() {
  static unsigned serial = 0;
  return ++serial;
}

// Runs `step` again while it runs into a file that is in use for a moment.
template <typename Step>
void Retrying(const Step& step) {
  for (std::size_t waits = 0;; ++waits) {
    try {
      step();
      return;
    } catch (const VbError& e) {
      if (!IsMomentaryLock(e.LastDllError()) || waits == std::size(kRetryPauses)) throw;
      std::this_thread::sleep_for(kRetryPauses[waits]);
    }
  }
}

void RemoveQuietly(FileSystemPort& files, const std::string& path) {
  try {
    files.Remove(path);
  } catch (...) {
    // Left beside its target, where the next replace of it removes it.
  }
}

// Writes the body to a new file beside the target (same folder, so the final
// move is a rename on one volume) and returns its name.
std::string WriteBeside(FileSystemPort& files, const std::string& target, std::string_view body) {
  for (int tries = 1;; ++tries) {
    const std::string temp = TempNameFor(target, NextSerial());
    try {
      files.WriteNew(temp, body);
      return temp;
    } catch (const VbError& e) {
      const bool nameTaken = e.LastDllError() == static_cast<int32_t>(ERROR_FILE_EXISTS) ||
                             e.LastDllError() == static_cast<int32_t>(ERROR_ALREADY_EXISTS);
      if (!nameTaken || tries == kTempNameTries) throw;
    }
  }
}

// Puts the new file in the target's place. An existing target is replaced
// so that it keeps its attributes and security (hidden, system, the rights
// an administrator gave it); where the system refuses that (a share or file
// system without it), the new file is moved over it, as a new file. Either
// is tried again while the target is in use for a moment.
//
// With `keep`, the old target is kept under the backup name of `temp` (which
// is returned) for the caller to put back or remove; without it, it is gone.
std::string PutInPlace(FileSystemPort& files, const std::string& temp, const std::string& target, bool targetExists,
                       bool keep = false) {
  const std::string backup = BackupNameFor(temp);
  if (targetExists) {
    try {
      Retrying([&] { files.ReplaceKeeping(temp, target, backup); });
      if (!keep) RemoveQuietly(files, backup);
      return backup;
    } catch (const VbError& e) {
      if (IsMomentaryLock(e.LastDllError())) throw;
    }
    if (keep) {
      // The old file steps aside by a rename, so that it can come back.
      Retrying([&] { files.MoveOver(target, backup); });
      try {
        Retrying([&] { files.MoveOver(temp, target); });
      } catch (...) {
        Retrying([&] { files.MoveOver(backup, target); });
        throw;
      }
      return backup;
    }
  }
  Retrying([&] { files.MoveOver(temp, target); });
  return {};
}

}  // namespace

std::string clsFile::OpenForInput(const std::string& strPath) {
  Trap trap("clsFile.OpenForInput(strPath)");
  try {
    trap.at(10);
    std::string bytes;
    try {
      bytes = Files().ReadWhole(strPath);
    } catch (const VbError& e) {
      // A missing file in a folder that is there reads as empty, and is not
      // made: nothing is left behind in ICQ's folder by looking.
      if (e.LastDllError() != static_cast<int32_t>(ERROR_FILE_NOT_FOUND)) throw;
    }
    trap.at(20);
    TrimSpaces(bytes);
    return bytes;
  } catch (...) {
    ErrorIn(trap, strPath, ERRIN_PASS_ON);
  }
}

void ReplaceWhole(const std::string& path, std::string_view bytes, Trap* trap) {
  if (trap) trap->at(10);
  FileSystemPort& files = Files();
  const uint32_t attributes = files.Attributes(path);
  if (trap) trap->at(20);
  // The rename below would pass over a read-only attribute on some systems
  // (Wine's does). Whoever set it meant the file to stay as it is.
  if (attributes != FileSystemPort::kNoFile &&
      (attributes & (FileSystemPort::kReadOnly | FileSystemPort::kDirectory)) != 0)
    RaiseSystemError(ERROR_ACCESS_DENIED);
  if (trap) trap->at(30);
  const bool targetExists = attributes != FileSystemPort::kNoFile;
  if (targetExists) RemoveLeftovers(files, path);
  const std::string temp = WriteBeside(files, path, bytes);
  if (trap) trap->at(40);
  try {
    PutInPlace(files, temp, path, targetExists);
  } catch (...) {
    try {
      files.Remove(temp);
    } catch (...) {
      // The failure that matters is the one being reported.
    }
    throw;
  }
}

void clsFile::OpenForOutput(const std::string& strPath, const std::string& strBody) {
  Trap trap("clsFile.OpenForOutput(strPath,strBody)");
  try {
    ReplaceWhole(strPath, strBody, &trap);
  } catch (...) {
    ErrorIn(trap, Params(strPath, ContentForReport(strBody)), ERRIN_PASS_ON);
  }
}

FileSet::~FileSet() {
  FileSystemPort* files = ThePorts().files;
  if (!files) return;
  for (const Change& change : changes_)
    if (!change.swapped && !change.staged.empty()) RemoveQuietly(*files, change.staged);
}

void FileSet::Replace(const std::string& path, std::string_view bytes) {
  FileSystemPort& files = Files();
  Change change;
  change.target = path;
  if (files.Attributes(path) != FileSystemPort::kNoFile) RemoveLeftovers(files, path);
  change.staged = WriteBeside(files, path, bytes);
  changes_.push_back(std::move(change));
}

void FileSet::Remove(const std::string& path) {
  Change change;
  change.target = path;
  change.removal = true;
  changes_.push_back(std::move(change));
}

void FileSet::SwapIn(Change& change) {
  Trap trap("clsFile.SwapIn(strPath)");
  try {
    trap.at(10);
    FileSystemPort& files = Files();
    const uint32_t attributes = files.Attributes(change.target);
    change.existed = attributes != FileSystemPort::kNoFile;
    trap.at(20);
    // As in ReplaceWhole: a read-only file was meant to stay as it is, and
    // the rename would pass over it on some systems.
    if (change.existed && (attributes & (FileSystemPort::kReadOnly | FileSystemPort::kDirectory)) != 0)
      RaiseSystemError(ERROR_ACCESS_DENIED);
    trap.at(30);
    if (change.removal) {
      if (change.existed) {
        change.kept = BackupNameFor(TempNameFor(change.target, NextSerial()));
        Retrying([&] { files.MoveOver(change.target, change.kept); });
      }
    } else {
      change.kept = PutInPlace(files, change.staged, change.target, change.existed, true);
    }
    change.swapped = true;
  } catch (...) {
    ErrorIn(trap, change.target, ERRIN_PASS_ON);
  }
}

void FileSet::SwapBack(Change& change) {
  FileSystemPort& files = Files();
  try {
    if (!change.kept.empty()) Retrying([&] { files.MoveOver(change.kept, change.target); });
    else if (!change.removal) files.Remove(change.target);
  } catch (...) {
    // Nothing more can be done here; the failure of the swap is what the
    // report is about, and the old file is still there under its own name.
  }
}

void FileSet::Commit() {
  std::size_t done = 0;
  try {
    for (; done < changes_.size(); ++done) SwapIn(changes_[done]);
  } catch (...) {
    while (done > 0) SwapBack(changes_[--done]);
    throw;
  }
  FileSystemPort& files = Files();
  for (const Change& change : changes_)
    if (!change.kept.empty()) RemoveQuietly(files, change.kept);
}

clsFile& SharedFile() {
  static clsFile file;
  return file;
}

std::string ContentForReport(const std::string& bytes) {
  try {
    return Ansi().FromAnsi(bytes);
  } catch (...) {
    return bytes;
  }
}

}  // namespace velmora
