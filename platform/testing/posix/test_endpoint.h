// Test support for the platform tests: a temporary device folder, and a raw socket for endpoints
// written by hand.
#pragma once

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace qdev_test {

// A fresh device folder under /tmp (short, so socket paths fit), published as $QDEV_DEVICE_DIR
// for the life of the object, and removed with whatever is left in it.
class TempDeviceDir {
 public:
  TempDeviceDir() {
    char pattern[] = "/tmp/qdt-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    setenv("QDEV_DEVICE_DIR", path_.c_str(), 1);
  }
  ~TempDeviceDir() {
    unsetenv("QDEV_DEVICE_DIR");
    std::error_code ignored;  // a folder left in /tmp is no reason to fail a test
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A unix stream socket bound to path (not yet listening), or -1.
inline int BindUnixSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace qdev_test
