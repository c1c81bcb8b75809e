// The file-system port over kernel32's W functions. Paths arrive as UTF-8 and
// are converted here; contents pass through as bytes.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "platform/win32/Win32Ports.h"

namespace velmora {
namespace {

// ReadFile and WriteFile take 32-bit counts; large files go in pieces.
constexpr DWORD kChunk = 16u << 20;

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  // Closing can report a failed delayed write, so the caller who cares asks.
  bool Close() {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// What SetFileAttributesW takes.
constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                            FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

[[noreturn]] void RaiseLastError() { RaiseSystemError(GetLastError()); }

bool IsNoSuchFile(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// A path that cannot name anything now: a malformed name (quotes, a colon in
// the middle), a drive or network share that is not there, a drive without
// its disk, a file where a folder should be.
bool NamesNothing(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_DEV_TYPE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

class Win32Files : public FileSystemPort {
 public:
  std::string ReadWhole(const std::string& path) override {
    // ICQ may have the file open; share everything so that neither side
    // locks the other out.
    FileHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastError();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) RaiseLastError();
    if (static_cast<unsigned long long>(size.QuadPart) >= std::string().max_size())
      RaiseRuntime(RuntimeError::kOutOfMemory);
    std::string bytes;
    // Room for edits that lengthen the text, which then need no second copy.
    // On a 32-bit system the room is cut to what a string can hold.
    const std::size_t length = static_cast<std::size_t>(size.QuadPart);
    const std::size_t room = std::string().max_size() - length;
    bytes.reserve(length + std::min(room, length / 8 + 4096));
    bytes.resize(length);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kChunk));
      DWORD got = 0;
      if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr)) RaiseLastError();
      if (got == 0) break;  // someone shortened the file meanwhile
      done += got;
    }
    bytes.resize(done);
    return bytes;
  }

  void WriteNew(const std::string& path, std::string_view bytes) override {
    const std::wstring widePath = Utf8ToWide(path);
    FileHandle file(CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) RaiseLastError();
    DWORD error = 0;
    std::size_t done = 0;
    while (error == 0 && done < bytes.size()) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kChunk));
      DWORD put = 0;
      if (!WriteFile(file.get(), bytes.data() + done, want, &put, nullptr)) error = GetLastError();
      else if (put == 0) error = ERROR_WRITE_FAULT;
      done += put;
    }
    if (error == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
    if (!file.Close() && error == 0) error = GetLastError();
    if (error != 0) {
      DeleteFileW(widePath.c_str());
      RaiseSystemError(error);
    }
  }

  void MoveOver(const std::string& from, const std::string& to) override {
    const std::wstring wideTo = Utf8ToWide(to);
    if (MoveFileExW(Utf8ToWide(from).c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return;
    DWORD error = GetLastError();
    // A rename over a file that is open elsewhere says "access denied", as it
    // does for a file we may not touch at all. Asking for the right to delete
    // it tells the two apart: only a file in use gives a sharing violation,
    // and that one is worth waiting for.
    if (error == ERROR_ACCESS_DENIED) {
      FileHandle probe(CreateFileW(wideTo.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) error = ERROR_SHARING_VIOLATION;
    }
    RaiseSystemError(error);
  }

  void ReplaceKeeping(const std::string& from, const std::string& to, const std::string& backup) override {
    const std::wstring wideTo = Utf8ToWide(to), wideBackup = Utf8ToWide(backup);
    const DWORD before = GetFileAttributesW(wideTo.c_str());
    if (ReplaceFileW(wideTo.c_str(), Utf8ToWide(from).c_str(), wideBackup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      // A merge that failed on the way (ignored, so that the content still
      // arrives) or a system that does not merge at all loses what marks
      // the file for its users: that much is put back by hand.
      constexpr DWORD kMarks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
      const DWORD after = GetFileAttributesW(wideTo.c_str());
      if (before != INVALID_FILE_ATTRIBUTES && after != INVALID_FILE_ATTRIBUTES &&
          (after & kMarks) != (before & kMarks))
        SetFileAttributesW(wideTo.c_str(), (after & kSettable & ~kMarks) | (before & kMarks));
      return;
    }
    const DWORD error = GetLastError();
    // The old file went to the backup name and the new one could not follow
    // into its place: the old one goes back before anyone else tries.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
      MoveFileExW(wideBackup.c_str(), wideTo.c_str(), MOVEFILE_WRITE_THROUGH);
    RaiseSystemError(error);
  }

  void Remove(const std::string& path) override {
    if (!DeleteFileW(Utf8ToWide(path).c_str())) RaiseLastError();
  }

  uint32_t Attributes(const std::string& path) override {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    const DWORD error = GetLastError();
    if (NamesNothing(error)) return kNoFile;
    RaiseSystemError(error);
  }

  void SetAttributes(const std::string& path, uint32_t attributes) override {
    if (!SetFileAttributesW(Utf8ToWide(path).c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes))
      RaiseLastError();
  }

  std::vector<Entry> List(const std::string& folder) override {
    std::wstring pattern = Utf8ToWide(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    std::vector<Entry> entries;
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (find.get() == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (IsNoSuchFile(error) || error == ERROR_NO_MORE_FILES) return entries;
      RaiseSystemError(error);
    }
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      entries.push_back({WideToUtf8(name.data(), static_cast<int>(name.size())), found.dwFileAttributes});
    } while (FindNextFileW(find.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) RaiseLastError();
    return entries;
  }

  std::string FinalFolderPath(const std::string& folder) override {
    // Vista and later; the XP headers this program is built with do not
    // declare it.
    using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const auto finalPath = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!finalPath) return {};
    FileHandle handle(CreateFileW(Utf8ToWide(folder).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) RaiseLastError();
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      constexpr DWORD kVolumeNameDos = 0;
      const DWORD n = finalPath(handle.get(), path.data(), static_cast<DWORD>(path.size()), kVolumeNameDos);
      if (n == 0) RaiseLastError();
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      path.resize(n + 1);
    }
    // "\\?\C:\..." for a drive; "\\?\UNC\server\..." for a share
    // stays as it is and matches no drive path.
    if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':') path.erase(0, 4);
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return WideToUtf8(path.data(), static_cast<int>(path.size()));
  }

  std::string LongPath(const std::string& path) override {
    const std::wstring wide = Utf8ToWide(path);
    const DWORD n = GetLongPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return path;
    std::wstring longer(n, L'\0');
    const DWORD got = GetLongPathNameW(wide.c_str(), longer.data(), n);
    if (got == 0 || got >= n) return path;
    return WideToUtf8(longer.data(), static_cast<int>(got));
  }

  uint32_t LinkCount(const std::string& path) override {
    FileHandle file(CreateFileW(Utf8ToWide(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) RaiseLastError();
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.get(), &information)) RaiseLastError();
    return information.nNumberOfLinks;
  }

  bool IsLocalDisk(const std::string& path) override {
    if (path.size() < 3 || path[1] != ':') return false;
    const wchar_t root[] = {static_cast<wchar_t>(static_cast<unsigned char>(path[0])), L':', L'\\', L'\0'};
    const UINT type = GetDriveTypeW(root);
    return type == DRIVE_FIXED || type == DRIVE_REMOVABLE;
  }

  void MakeFolder(const std::string& path) override {
    const std::wstring wide = Utf8ToWide(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return;
    RaiseSystemError(error);
  }
};

}  // namespace

FileSystemPort& Win32FileSystem() {
  static Win32Files files;
  return files;
}

}  // namespace velmora
