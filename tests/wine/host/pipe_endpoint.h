// One device of the simulated modules, served on a named pipe to the kernel-driver stand-in:
// request frames in, reply frames out, in the framing of platform/device_frame.h. Requests reach
// the module model through sim::Rack, the same code that serves the Linux simulator's endpoints.
// A request that the model never answers gets no reply frame; cancel frames are ignored.
//
// Windows only. The pipe exists from Create on, so the driver can open it as soon as it starts;
// the serving thread runs from Start to Stop, or until the driver closes its end.
#pragma once

#ifdef _WIN32

#include <atomic>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "sim/rack.h"

namespace stand_in {

class PipeEndpoint {
 public:
  // `powerGone` is a manual-reset event shared by all endpoints of one rack: set when a fault
  // cut the power (by the endpoint that served the request), it ends every endpoint.
  PipeEndpoint(sim::Rack* rack, std::string device, HANDLE powerGone);
  ~PipeEndpoint();  // Stop()
  PipeEndpoint(const PipeEndpoint&) = delete;
  PipeEndpoint& operator=(const PipeEndpoint&) = delete;

  // Creates the pipe \\.\pipe\r4690-qdev-<device>; false with a one-line reason.
  bool Create(std::string* error);
  // Waits for the driver's connection and serves it on a thread of its own.
  void Start();
  // True once the driver has opened the pipe (waits up to `timeoutMs`).
  bool WaitConnected(DWORD timeoutMs);
  // Ends the serving thread and closes the pipe: the driver sees its device go.
  void Stop();

  // Frames that could not be understood (the connection ends at the first one).
  bool ProtocolError() const { return protocolError_; }

 private:
  enum class Io { kDone, kBroken, kStopped };
  Io Transfer(bool write, uint8_t* data, DWORD size);
  void Serve();

  sim::Rack* rack_;
  std::string device_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE ioEvent_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  HANDLE connectedEvent_ = nullptr;
  HANDLE powerGone_;
  std::thread thread_;
  std::atomic<bool> protocolError_{false};
};

}  // namespace stand_in

#endif  // _WIN32
