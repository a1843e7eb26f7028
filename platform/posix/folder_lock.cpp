// qdev::FolderLock (platform/folder_lock.h): flock on the folder's own file descriptor. Each
// open of the folder is a lock holder of its own, so two holders in one process exclude each
// other as two processes do.
#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qdev {

FolderLock::Result FolderLock::Lock(const std::string& dir, std::string* error) {
  Unlock();
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot lock the folder " + dir + ": " + std::strerror(errno);
    return Result::kFailed;
  }
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    const int why = errno;
    ::close(fd);
    if (why == EWOULDBLOCK) return Result::kInUse;
    *error = "cannot lock the folder " + dir + ": " + std::strerror(why);
    return Result::kFailed;
  }
  held_ = fd;
  return Result::kLocked;
}

void FolderLock::Unlock() {
  if (held_ == kNone) return;
  ::close(static_cast<int>(held_));  // closing the last descriptor lets the lock go
  held_ = kNone;
}

}  // namespace qdev
