// basTrust: what a process with more rights than its caller may take from
// it. The elevated program writes, creates and deletes only ICQ's files that
// Velmora changes, named by plain paths on a local disk, and reaches none of
// them through a junction, symbolic link or mount point.
//
// The same rules judge a backup index, which a program running as the user
// can write, before a restore believes a line of it.
#pragma once

#include <string>
#include <string_view>

#include "platform/Ports.h"

namespace velmora {

// One part of a path that names the same thing to every Windows API: not
// empty, not "." or "..", no character a file name cannot hold, no stream
// (":"), no dot or blank at its end (which the system drops), no device name
// (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension),
// and whole UTF-8 (a byte that is not would be dropped by some systems'
// conversion, and ".\xC0." turned into "..").
bool IsPlainPart(std::string_view part);

// A path from the root of a local drive: "X:\" and plain parts, each after
// one backslash; a trailing backslash names a folder. No "\\server\share",
// "\\?\" or "\\.\" form, no forward slash.
bool IsPlainLocalPath(std::string_view path);

// Whether a path relative to ICQ's folder is one of the files Velmora
// changes: the two style files, "cl.jpg" beside the contact list's, and the
// "*.xml" files directly in ConfigFiles\Defaults. Letters compare without
// case, except the ".xml" that the defaults must end in, as when they are
// cleared.
bool IsFixedSetPath(std::string_view relative);

// `path` relative to `folder` (which ends in a backslash), letters compared
// without case; empty when `path` does not lie below `folder`.
std::string RelativeTo(std::string_view folder, std::string_view path);

// Two paths that name the same place to Windows: letters without case.
bool SamePath(std::string_view a, std::string_view b);

// The ICQ folder as the system names it: its long name (no 8.3 parts) and,
// where the system can tell, the folder it leads to; with a trailing
// backslash. As it was given when neither can be had.
std::string CanonicalFolder(const std::string& folder);

// The first folder from the root of the path's drive or share down to the
// path itself that is a reparse point (a junction, symbolic link or mount
// point: its contents lie elsewhere); empty when there is none.
std::string LinkOnTheWay(FileSystemPort& files, const std::string& path);

// Raises unless the path is plain, on a local disk, and no folder from its
// drive's root down to it, nor the path itself, is a reparse point; and
// unless its folder, opened, is the folder that was checked.
void CheckNoLinkOnTheWay(FileSystemPort& files, const std::string& path);

// The file system as the elevated program sees it: reads go through; every
// write, creation, deletion and attribute change must name one of ICQ's
// fixed set of files below `icqFolder` (or a folder on the way to one, or
// the temporary names a replace gives its own files beside one), and passes
// CheckNoLinkOnTheWay right before it is done. The attributes of a file
// with another name elsewhere (a hard link) are not changed: they are that
// file's too. Anything else raises 75 and changes nothing. (Replacing and
// deleting act on the name alone.)
class GuardedFiles : public FileSystemPort {
 public:
  GuardedFiles(FileSystemPort& inner, std::string icqFolder) : inner_(inner), icqFolder_(std::move(icqFolder)) {}

  std::string ReadWhole(const std::string& path) override { return inner_.ReadWhole(path); }
  uint32_t Attributes(const std::string& path) override { return inner_.Attributes(path); }
  std::vector<Entry> List(const std::string& folder) override { return inner_.List(folder); }
  std::string FinalFolderPath(const std::string& folder) override { return inner_.FinalFolderPath(folder); }
  std::string LongPath(const std::string& path) override { return inner_.LongPath(path); }
  bool IsLocalDisk(const std::string& path) override { return inner_.IsLocalDisk(path); }
  uint32_t LinkCount(const std::string& path) override { return inner_.LinkCount(path); }

  void WriteNew(const std::string& path, std::string_view bytes) override;
  void MoveOver(const std::string& from, const std::string& to) override;
  void ReplaceKeeping(const std::string& from, const std::string& to, const std::string& backup) override;
  void Remove(const std::string& path) override;
  void SetAttributes(const std::string& path, uint32_t attributes) override;
  void MakeFolder(const std::string& path) override;

 private:
  void CheckFile(const std::string& path);

  FileSystemPort& inner_;
  std::string icqFolder_;
};

}  // namespace velmora
