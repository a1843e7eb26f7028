// The serving side of a device: publishes device names as endpoints and hands each request that
// a client's DeviceIoControl sends to a handler, which plays the module behind the kernel driver.
// The module simulator serves its modules through it, and tests use it as a minimal driver. The
// framing is that of platform/device_frame.h.
//
// Systems without Windows: an endpoint is a unix socket in the device folder, and the platform's
// own CreateFileA/DeviceIoControl are its clients (posix/endpoint_server.cpp).
// Windows: an endpoint is a named pipe, and its client is the device's kernel driver, which
// opens the pipe once and forwards the requests of every handle of the device over it; opens and
// share modes are the driver's business (win32/endpoint_server.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qdev {

// One I/O-control request as the client issued it.
struct DeviceRequest {
  uint32_t id = 0;  // the client's request id, unique on its connection
  uint32_t ioControlCode = 0;
  std::vector<uint8_t> input;   // the input buffer
  std::vector<uint8_t> output;  // the output buffer as sent; its size is the output size
};

struct DeviceReply {
  uint32_t error = 0;         // Windows error value; 0 completes the request successfully
  uint32_t information = 0;   // byte count reported as transferred
  std::vector<uint8_t> data;  // copied to the start of the client's output buffer
};

class DeviceHandler {
 public:
  virtual ~DeviceHandler() = default;
  // Called on a thread of the server, one request at a time across the server. Return true to
  // complete the request with *reply; return false to leave it unanswered, as a module that
  // never answers would (the client's wait times out and it cancels the request).
  virtual bool Handle(const DeviceRequest& request, DeviceReply* reply) = 0;
};

class EndpointServer {
 public:
  // deviceDir: where the endpoints live. Without Windows the device folder; empty means
  // $QDEV_DEVICE_DIR, or the default folder of platform/device_frame.h. On Windows the prefix of
  // the pipe names ("\\.\pipe\r4690-qdev-" makes QDev5 the pipe "\\.\pipe\r4690-qdev-QDev5");
  // empty means the one of platform/device_frame.h, where drivers look.
  explicit EndpointServer(std::string deviceDir = std::string());
  ~EndpointServer();  // Stop()
  EndpointServer(const EndpointServer&) = delete;
  EndpointServer& operator=(const EndpointServer&) = delete;

  // Where this server publishes its devices: the folder, or on Windows the pipe-name prefix.
  const std::string& DeviceDir() const;

  // Publishes a device name ("QDev5", "QDevUsb0") served by handler, which must outlive the
  // server. A name that a live server already serves, in any case, is refused; a stale socket
  // left by a run that ended without cleaning up is replaced. False with a one-line reason.
  bool AddDevice(const std::string& name, DeviceHandler* handler, std::string* error);

  // Starts serving on threads of its own.
  bool Start(std::string* error);

  // Stops serving, closes every connection and removes the endpoints this server published.
  // Replies already sent still reach their clients.
  void Stop();

#ifndef _WIN32
  // Counts a published device as opened by another program for reading and writing, sharing
  // nothing, until the server stops: every open that asks to read or write it fails with
  // ERROR_SHARING_VIOLATION. False for a name it does not serve. (On Windows another program
  // holds a device by opening it through the driver, which decides sharing.)
  bool HoldOpen(const std::string& name);
#endif

  // Closes every open connection of a device, as an unplugged module would. The device can be
  // opened (on Windows: its pipe connected) again afterwards.
  void DropConnections(const std::string& name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qdev
