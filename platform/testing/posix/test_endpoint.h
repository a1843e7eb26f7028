// Test support for the platform tests: a temporary device folder, a raw socket for endpoints
// written by hand, and a scripted device handler that records what reached the endpoint.
#pragma once

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_endpoint.h"

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

// Answers with `answer` (default: complete with no data) and records every request.
// Thread-safe: the server calls it on its own thread.
class ScriptedHandler : public qdev::DeviceHandler {
 public:
  using Answer = std::function<bool(const qdev::DeviceRequest&, qdev::DeviceReply*)>;

  void SetAnswer(Answer answer) {
    std::lock_guard<std::mutex> lock(mu_);
    answer_ = std::move(answer);
  }
  bool Handle(const qdev::DeviceRequest& request, qdev::DeviceReply* reply) override {
    Answer answer;
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(request);
      answer = answer_;
    }
    cv_.notify_all();
    return answer ? answer(request, reply) : true;
  }
  // Waits (up to 5 s) until n requests have arrived.
  bool WaitForRequests(size_t n) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return requests_.size() >= n; });
  }
  std::vector<qdev::DeviceRequest> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  Answer answer_;
  std::vector<qdev::DeviceRequest> requests_;
};

}  // namespace qdev_test
