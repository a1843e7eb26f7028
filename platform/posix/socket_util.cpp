// Socket helpers shared by device I/O and the endpoint server.
#include "platform/posix/socket_util.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/device_frame.h"

namespace qdev_posix {

std::string DeviceFolder() {
  const char* dir = std::getenv(qdev_frame::kDeviceDirVariable);
  if (dir == nullptr || *dir == '\0') return qdev_frame::kDefaultDeviceDir;
  return dir;
}

size_t MaxSocketPath() {
  return sizeof(sockaddr_un::sun_path) - 1;
}

bool SocketPath(const std::string& folder, const std::string& name, std::string* path) {
  std::string full = folder;
  if (full.empty() || full.back() != '/') full += '/';
  full += name;
  if (full.size() > MaxSocketPath()) return false;
  *path = std::move(full);
  return true;
}

bool SendAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool RecvExactlyBefore(int fd, uint8_t* p, size_t n, std::chrono::steady_clock::time_point deadline,
                       bool* timedOut) {
  *timedOut = false;
  while (n > 0) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      *timedOut = true;
      return false;
    }
    pollfd readable{fd, POLLIN, 0};
    const int ready =
        ::poll(&readable, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;  // interrupted, or the time is up (checked above)
    ssize_t got = recv(fd, p, n, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    if (got == 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace qdev_posix
