#include "services/clsFile.h"

#include <chrono>
#include <cstdint>
#include <thread>

#include "errors/ErrChain.h"
#include "platform/Ports.h"

namespace velmora {
namespace {

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

// Writes the body to a new file beside the target (same folder, so the final
// move is a rename on one volume) and returns its name.
std::string WriteBeside(FileSystemPort& files, const std::string& target, std::string_view body) {
  static unsigned serial = 0;
  for (int tries = 1;; ++tries) {
    const std::string temp = target + ".velmora" + std::to_string(++serial) + ".tmp";
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

void MoveWithRetries(FileSystemPort& files, const std::string& from, const std::string& to) {
  for (const auto pause : kRetryPauses) {
    try {
      files.MoveOver(from, to);
      return;
    } catch (const VbError& e) {
      if (!IsMomentaryLock(e.LastDllError())) throw;
    }
    std::this_thread::sleep_for(pause);
  }
  files.MoveOver(from, to);
}

}  // namespace

std::string clsFile::OpenForInput(const std::string& strPath) {
  Trap trap("clsFile.OpenForInput(strPath)");
  try {
    trap.at(10);
    std::string bytes = Files().ReadWhole(strPath);
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
  const std::string temp = WriteBeside(files, path, bytes);
  if (trap) trap->at(40);
  try {
    MoveWithRetries(files, temp, path);
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
