// The serving side of a device (systems without Windows only): publishes device names as
// endpoints in the device folder and hands each request that a client's DeviceIoControl sends to
// a handler, which plays the kernel driver. The module simulator serves its modules through it,
// and tests use it as a minimal driver. The framing is that of platform/device_frame.h.
#pragma once

#ifndef _WIN32

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
  // Called on the server's thread, one request at a time. Return true to complete the request
  // with *reply; return false to leave it unanswered, as a module that never answers would (the
  // client's wait times out and it cancels the request).
  virtual bool Handle(const DeviceRequest& request, DeviceReply* reply) = 0;
};

class EndpointServer {
 public:
  // deviceDir empty: $QDEV_DEVICE_DIR, or the default folder of platform/device_frame.h.
  explicit EndpointServer(std::string deviceDir = std::string());
  ~EndpointServer();  // Stop()
  EndpointServer(const EndpointServer&) = delete;
  EndpointServer& operator=(const EndpointServer&) = delete;

  // The folder in which this server publishes its devices.
  const std::string& DeviceDir() const;

  // Publishes a device name ("QDev5", "QDevUsb0") served by handler, which must outlive the
  // server. A stale endpoint left by a run that ended without cleaning up is replaced; a name
  // that a live server already serves is refused. False with a one-line reason in *error.
  bool AddDevice(const std::string& name, DeviceHandler* handler, std::string* error);

  // Starts serving on a thread of its own.
  bool Start(std::string* error);

  // Stops serving, closes every connection and removes the endpoints this server published.
  void Stop();

  // Closes every open connection of a device, as an unplugged module would.
  void DropConnections(const std::string& name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qdev

#endif  // !_WIN32
