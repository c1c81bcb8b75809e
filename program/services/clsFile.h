// clsFile: a whole file read into one value, or one value written as a whole
// file. Every text file the program reads or rewrites goes through here.
//
// The values are the file's bytes, undecoded: ICQ's style files are edited as
// bytes, so a byte without a character in the code page survives the trip.
// Only where a content is shown (the error report) is it decoded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class clsFile {
 public:
  // Every byte of the file, trimmed of leading and trailing spaces (only
  // spaces: tabs and line breaks stay). A file that does not exist in an
  // existing folder reads as empty; it is not created.
  std::string OpenForInput(const std::string& strPath);
  // Makes the file hold exactly the bytes of strBody. The file is replaced in
  // one step, so a failure at any point leaves the old file as it was.
  void OpenForOutput(const std::string& strPath, const std::string& strBody);
};

class Trap;

// Puts exactly `bytes` in the file at `path` in one step: a new file beside
// it, then put in its place, an existing file keeping its attributes and
// security where the system allows. A failure at any point leaves the old
// file as it was and no new file behind; a read-only file stays untouched
// (75). Files an earlier run that was cut off left beside `path` go first.
// With a trap, its line labels follow the steps.
void ReplaceWhole(const std::string& path, std::string_view bytes, Trap* trap = nullptr);

// A file name or path compared as the system compares them: ASCII letters in
// either case.
bool SameLetters(std::string_view a, std::string_view b);

// Whether `entry` is one of the files a replace of the file `name` makes
// beside it: "<name>.velmora<N>.tmp" for the new content, "<name>.velmora<N>.old"
// for the replaced one (letters in either case).
bool IsOwnFileOf(std::string_view entry, std::string_view name);

// Several files changed together or not at all. Each new content is written
// beside its target when it is staged; Commit then swaps the targets one
// after the other, and when a swap fails, the ones done before it are
// swapped back before the failure is raised: the files are as they were.
// What was staged and not swapped in goes when the set goes.
class FileSet {
 public:
  FileSet() = default;
  FileSet(const FileSet&) = delete;
  FileSet& operator=(const FileSet&) = delete;
  ~FileSet();
  // The file is to hold exactly `bytes`; its parent folder must exist.
  void Replace(const std::string& path, std::string_view bytes);
  // The file is to be gone (nothing happens to a file that is not there).
  void Remove(const std::string& path);
  // A read-only target fails its swap (75); the report names the file.
  void Commit();

 private:
  struct Change {
    std::string target, staged, kept;  // kept: the old file under its own name while the set is swapped
    bool removal = false, swapped = false, existed = false;
  };
  void SwapIn(Change& change);
  void SwapBack(Change& change);
  std::vector<Change> changes_;
};

// The one clsFile of the program, created on first use and kept until the
// process ends.
clsFile& SharedFile();

// A file's bytes as text for the error report (the ANSI code page). Never
// fails: without a code page the bytes are shown as they are.
std::string ContentForReport(const std::string& bytes);

}  // namespace velmora
