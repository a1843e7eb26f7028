// Test support for the endpoint server's contract suite: where a test's server publishes its
// devices, frames as bytes, and a connection to one device written by hand, which sends frames as
// it likes and reads what comes back, every wait limited to 10 s. Without Windows a device is a
// unix socket in a temporary device folder, and the connection opens it for reading and writing
// with share mode 0, as the utility does (the open's reply is read with the first frame). On
// Windows a device is a pipe whose name carries this process's id, and the connection is the
// kernel driver's; it waits while the pipe is busy with its last connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_frame.h"
#include "platform/win32.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/testing/posix/test_endpoint.h"
#endif

namespace qdev_test {

constexpr DWORD kConnectionWaitMs = 10000;

// The server's folder (on Windows its pipe-name prefix) and a device's endpoint in it.
struct EndpointPlace {
  std::string Path(const std::string& device) const { return prefix + device; }
#ifdef _WIN32
  std::string dir =
      "\\\\.\\pipe\\r4690-endpoint-test-" + std::to_string(GetCurrentProcessId()) + "-";
  std::string prefix = dir;
#else
  TempDeviceDir temporary;
  std::string dir = temporary.path(), prefix = dir + "/";
#endif
};

inline std::vector<uint8_t> FrameBytes(const qdev_frame::Header& header) {
  std::vector<uint8_t> bytes(qdev_frame::kHeaderSize);
  qdev_frame::EncodeHeader(header, bytes.data());
  return bytes;
}

// A request with a two-byte input and the output buffer given.
inline std::vector<uint8_t> Request(uint32_t id, uint32_t code,
                                    const std::vector<uint8_t>& output = {}) {
  const uint8_t input[2] = {9, 8};
  const auto outputSize = static_cast<uint32_t>(output.size());
  std::vector<uint8_t> frame(qdev_frame::RequestFrameSize(2, outputSize));
  qdev_frame::EncodeRequest(id, code, input, 2, output.data(), outputSize, frame.data());
  return frame;
}

// Cancels of requests long gone, as many as `count`, and then the frame `last`.
inline std::vector<uint8_t> Cancels(size_t count, const std::vector<uint8_t>& last = {}) {
  std::vector<uint8_t> bytes(count * qdev_frame::kHeaderSize);
  for (uint32_t i = 0; i < count; ++i) {
    qdev_frame::EncodeHeader(qdev_frame::CancelHeader(i), &bytes[i * qdev_frame::kHeaderSize]);
  }
  bytes.insert(bytes.end(), last.begin(), last.end());
  return bytes;
}

enum class Got { kFrame, kBroken, kTimeout };
struct ReceivedFrame {
  Got got = Got::kTimeout;
  qdev_frame::Header header{};
  std::vector<uint8_t> data;
};

class EndpointConnection {
 public:
#ifdef _WIN32
  explicit EndpointConnection(const std::string& path) {
    for (DWORD waited = 0; waited < kConnectionWaitMs; waited += 10) {
      pipe_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
      if (connected() || GetLastError() != ERROR_PIPE_BUSY) break;
      Sleep(10);
    }
  }
  ~EndpointConnection() {
    if (connected()) CloseHandle(pipe_);
  }
  bool connected() const {
    return pipe_ != INVALID_HANDLE_VALUE;
  }
  bool Send(const std::vector<uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
#else
  explicit EndpointConnection(const std::string& path)
      : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const timeval limit{kConnectionWaitMs / 1000, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !Send(FrameBytes(qdev_frame::OpenHeader(GENERIC_READ | GENERIC_WRITE, 0)))) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~EndpointConnection() {
    if (connected()) close(fd_);
  }
  bool connected() const {
    return fd_ >= 0;
  }
  bool Send(const std::vector<uint8_t>& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
#endif

  // The next frame from the endpoint; a granted open's reply is passed over, a refused one is
  // the frame.
  ReceivedFrame Receive() {
    ReceivedFrame f;
    do {
      uint8_t raw[qdev_frame::kHeaderSize];
      if ((f.got = Exactly(raw, sizeof raw)) != Got::kFrame) return f;
      f.header = qdev_frame::DecodeHeader(raw);
    } while (f.header.type == qdev_frame::kOpenReply && f.header.reply.error == 0);
    f.data.resize(f.header.type == qdev_frame::kReply ? f.header.reply.dataSize : 0);
    if (!f.data.empty()) f.got = Exactly(f.data.data(), f.data.size());
    return f;
  }

 private:
#ifdef _WIN32
  Got Exactly(uint8_t* p, size_t n) {
    DWORD available = 0;
    for (DWORD waited = 0; available < n; waited += 5) {
      if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return Got::kBroken;
      if (available < n && waited >= kConnectionWaitMs) return Got::kTimeout;
      if (available < n) Sleep(5);
    }
    DWORD read = 0;
    return ReadFile(pipe_, p, static_cast<DWORD>(n), &read, nullptr) && read == n ? Got::kFrame
                                                                                  : Got::kBroken;
  }
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
#else
  Got Exactly(uint8_t* p, size_t n) {
    const ssize_t got = recv(fd_, p, n, MSG_WAITALL);
    if (got == ssize_t(n)) return Got::kFrame;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Got::kTimeout : Got::kBroken;
  }
  int fd_;
#endif
};

}  // namespace qdev_test
