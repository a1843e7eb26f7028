// The append-only log on systems without Windows: O_APPEND, so that every write lands at the end
// whoever else appends; flock around the repair of a cut tail and the write, so that two programs
// never interleave; fsync before Append returns, and of the folder when the file was made.
#include "platform/append_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace append_log {

struct AppendLog::File {
  int fd = -1;
  ~File() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

std::string ErrnoText(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kNoFolder;
    case EACCES:
    case EPERM:
    case EROFS:
      return kDenied;
    case EISDIR:
      return kNotAFile;
    default:
      return std::strerror(error);
  }
}

// The folder that holds `path`, for the fsync that makes a new name durable.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The lock is held for the life of this object.
class FileLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    locked_ = rc == 0;
  }
  ~FileLock() {
    if (locked_) ::flock(fd_, LOCK_UN);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_;
};

// Cuts a tail without its line feed back to the last line feed (to nothing when there is none);
// *size is the file's size afterwards.
bool CutUnfinishedTail(int fd, off_t* size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  *size = st.st_size;
  off_t end = st.st_size;
  char block[4096];
  while (end > 0) {
    const off_t start =
        end > static_cast<off_t>(sizeof block) ? end - static_cast<off_t>(sizeof block) : 0;
    const ssize_t got = ::pread(fd, block, static_cast<size_t>(end - start), start);
    if (got != end - start) return false;
    for (ssize_t i = got; i > 0; --i) {
      if (block[i - 1] != '\n') continue;
      *size = start + i;
      return *size == st.st_size || ::ftruncate(fd, *size) == 0;
    }
    end = start;
  }
  *size = 0;
  return st.st_size == 0 || ::ftruncate(fd, 0) == 0;
}

}  // namespace

AppendLog::AppendLog(std::unique_ptr<File> file) : file_(std::move(file)) {}
AppendLog::~AppendLog() = default;

std::unique_ptr<AppendLog> AppendLog::Open(const std::string& path, std::string* error) {
  auto file = std::make_unique<File>();
  // Read and write: the repair of a cut tail reads it and truncates the file.
  file->fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (file->fd < 0 && errno == ENOENT) {
    file->fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file->fd >= 0) {
      const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
      }
    }
  }
  if (file->fd < 0) {
    *error = ErrnoText(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = kNotAFile;
    return nullptr;
  }
  return std::unique_ptr<AppendLog>(new AppendLog(std::move(file)));
}

bool AppendLog::Append(std::string_view line, std::string* error) {
  std::lock_guard<std::mutex> inProcess(mu_);
  const int fd = file_->fd;
  FileLock lock(fd);
  off_t size = 0;
  if (!lock.locked() || !CutUnfinishedTail(fd, &size)) {
    *error = ErrnoText(errno);
    return false;
  }
  ssize_t written;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(line.size())) {
    *error = written < 0 ? ErrnoText(errno) : "the disk is full";
    // Whatever part of the line reached the file goes again (or with the next append).
    if (::ftruncate(fd, size) == 0) ::fsync(fd);
    return false;
  }
  if (::fsync(fd) != 0) {
    *error = ErrnoText(errno);
    return false;
  }
  return true;
}

}  // namespace append_log
