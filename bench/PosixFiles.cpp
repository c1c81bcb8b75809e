#include "PosixFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "errors/ErrChain.h"

namespace velmora::bench {
namespace {

// The Win32 code for an errno, as far as the port's callers tell them apart.
uint32_t Win32Code(int error) {
  switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return 5;
    case EEXIST: return 80;
    case ENOSPC: return 112;
    case ENAMETOOLONG: return 206;
    case ENOMEM: return 8;
    case EMFILE:
    case ENFILE: return 4;
    default: return 31;  // ERROR_GEN_FAILURE
  }
}

[[noreturn]] void RaiseErrno() { RaiseSystemError(Win32Code(errno)); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::string PosixFiles::ReadWhole(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) RaiseErrno();
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) RaiseErrno();
  std::string bytes;
  // As the Win32 adapter does: room for edits that lengthen the text.
  bytes.reserve(static_cast<std::size_t>(st.st_size) + static_cast<std::size_t>(st.st_size / 8) + 4096);
  bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      RaiseErrno();
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

void PosixFiles::WriteNew(const std::string& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (fd.get() < 0) RaiseErrno();
  int error = 0;
  std::size_t done = 0;
  while (error == 0 && done < bytes.size()) {
    const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    done += static_cast<std::size_t>(put);
  }
  if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
  if (!fd.Close() && error == 0) error = errno;
  if (error != 0) {
    ::unlink(path.c_str());
    RaiseSystemError(Win32Code(error));
  }
}

void PosixFiles::MoveOver(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) RaiseErrno();
}

void PosixFiles::Remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0) RaiseErrno();
}

uint32_t PosixFiles::Attributes(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return kNoFile;
    RaiseErrno();
  }
  if (S_ISDIR(st.st_mode)) return kDirectory;
  return (st.st_mode & S_IWUSR) ? kArchive : kReadOnly;
}

void PosixFiles::SetAttributes(const std::string& path, uint32_t attributes) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) RaiseErrno();
  const mode_t mode = (attributes & kReadOnly) ? (st.st_mode & ~mode_t{0222}) : (st.st_mode | S_IWUSR);
  if (::chmod(path.c_str(), mode & 07777) != 0) RaiseErrno();
}

std::vector<FileSystemPort::Entry> PosixFiles::List(const std::string& folder) {
  std::vector<Entry> entries;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) {
    if (errno == ENOENT || errno == ENOTDIR) return entries;
    RaiseErrno();
  }
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    uint32_t attributes = Attributes(prefix + name);
    if (attributes == kNoFile) continue;  // gone since the listing
    // Dot files are what Unix hides.
    if (name[0] == '.') attributes |= kHidden;
    entries.push_back({name, attributes});
  }
  return entries;
}

}  // namespace velmora::bench

namespace velmora::bench {

void PosixFiles::MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return;
  struct stat st;
  if (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  RaiseErrno();
}

}  // namespace velmora::bench
