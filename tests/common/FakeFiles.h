// An in-memory file system for tests of the portable code: files and folders
// under backslash paths, every call recorded, and system errors that a test
// can queue for the next calls of an operation.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"

namespace velmora::testing {

class FakeFiles : public FileSystemPort {
 public:
  struct File {
    std::string bytes;
    uint32_t attributes = kArchive;
    bool operator==(const File& other) const { return bytes == other.bytes && attributes == other.attributes; }
  };
  std::map<std::string, File> files;
  std::set<std::string> folders;  // without a trailing backslash
  std::vector<std::string> calls;  // "Operation path"
  // System error codes the next calls of an operation raise, in order; 0 lets
  // that call through.
  std::map<std::string, std::deque<uint32_t>> failures;

  void AddFile(const std::string& path, const std::string& bytes, uint32_t attributes = kArchive) {
    folders.insert(Parent(path));
    files[path] = {bytes, attributes};
  }
  int Count(const std::string& operation) const {
    int n = 0;
    for (const std::string& call : calls)
      if (call.compare(0, operation.size() + 1, operation + " ") == 0) ++n;
    return n;
  }
  // The names of the files in a folder.
  std::vector<std::string> FileNames(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& [path, file] : files)
      if (Parent(path) == folder) names.push_back(path.substr(folder.size() + 1));
    return names;
  }

  std::string ReadWhole(const std::string& path) override {
    Enter("ReadWhole", path);
    if (folders.count(path)) RaiseSystemError(5);
    if (!folders.count(Parent(path))) RaiseSystemError(3);
    const auto it = files.find(path);
    if (it == files.end()) RaiseSystemError(2);
    return it->second.bytes;
  }
  void WriteNew(const std::string& path, std::string_view bytes) override {
    Enter("WriteNew", path);
    if (!folders.count(Parent(path))) RaiseSystemError(3);
    if (files.count(path) || folders.count(path)) RaiseSystemError(80);
    files[path] = {std::string(bytes), kArchive};
  }
  void MoveOver(const std::string& from, const std::string& to) override {
    Enter("MoveOver", to);
    if (!files.count(from)) RaiseSystemError(2);
    if (!folders.count(Parent(to))) RaiseSystemError(3);
    File moved = files[from];
    if (files.count(to)) {
      if (files[to].attributes & kReadOnly) RaiseSystemError(5);
      moved.attributes = files[to].attributes;
    }
    files.erase(from);
    files[to] = moved;
  }
  // Whether ReplaceKeeping works here; without it, it refuses as a share
  // without it does (ERROR_UNABLE_TO_MOVE_REPLACEMENT) and changes nothing.
  bool canReplace = true;
  void ReplaceKeeping(const std::string& from, const std::string& to, const std::string& backup) override {
    Enter("ReplaceKeeping", to);
    if (!canReplace) RaiseSystemError(1176);
    if (!files.count(from) || !files.count(to)) RaiseSystemError(2);
    if (files[to].attributes & kReadOnly) RaiseSystemError(5);
    File replaced = files[to];
    files[to] = {files[from].bytes, replaced.attributes};
    files[backup] = replaced;
    files.erase(from);
  }
  void Remove(const std::string& path) override {
    Enter("Remove", path);
    if (!files.count(path)) RaiseSystemError(2);
    if (files[path].attributes & kReadOnly) RaiseSystemError(5);
    files.erase(path);
  }
  uint32_t Attributes(const std::string& path) override {
    Enter("Attributes", path);
    if (folders.count(path)) return kDirectory;
    const auto it = files.find(path);
    return it == files.end() ? kNoFile : it->second.attributes;
  }
  void SetAttributes(const std::string& path, uint32_t attributes) override {
    Enter("SetAttributes", path);
    if (!files.count(path)) RaiseSystemError(2);
    files[path].attributes = attributes == 0 ? 0x80 : attributes;
  }
  std::vector<Entry> List(const std::string& folder) override {
    std::string name = folder;
    if (!name.empty() && name.back() == '\\') name.pop_back();
    Enter("List", name);
    std::vector<Entry> entries;
    if (!folders.count(name)) return entries;
    for (const std::string& sub : folders)
      if (Parent(sub) == name) entries.push_back({sub.substr(name.size() + 1), kDirectory});
    for (const auto& [path, file] : files)
      if (Parent(path) == name) entries.push_back({path.substr(name.size() + 1), file.attributes});
    return entries;
  }

  void MakeFolder(const std::string& path) override {
    std::string name = path;
    if (!name.empty() && name.back() == '\\') name.pop_back();
    Enter("MakeFolder", name);
    if (folders.count(name)) return;
    if (files.count(name)) RaiseSystemError(183);
    if (!folders.count(Parent(name))) RaiseSystemError(3);
    folders.insert(name);
  }

  // Drive letters that are no disk of this machine (a network drive).
  std::string remoteDrives;
  bool IsLocalDisk(const std::string& path) override {
    return path.empty() || remoteDrives.find(path[0]) == std::string::npos;
  }

  static std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }

 private:
  void Enter(const std::string& operation, const std::string& path) {
    calls.push_back(operation + " " + path);
    auto it = failures.find(operation);
    if (it == failures.end() || it->second.empty()) return;
    const uint32_t code = it->second.front();
    it->second.pop_front();
    if (code != 0) RaiseSystemError(code);
  }
};

}  // namespace velmora::testing
