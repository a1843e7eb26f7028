// The platform's device calls played in-process, for fuzz targets that need a driver whose
// answers come from the input: CreateFileA, DeviceIoControl, GetOverlappedResult and CancelIo keep
// their Windows meaning (overlapped completion through the request's event, NTSTATUS in the
// completion record, cancellation by CancelIo and by closing the handle), but every open and
// every request goes to the Driver that the target installs instead of to an endpoint. No
// socket, no thread: a request is answered, or stays pending, inside DeviceIoControl.
//
// scripted_device.cpp takes the place of posix/device_io.cpp in a build of the platform layer that
// only the fuzz targets link (CMakeLists.txt); handles, events, waits, the string table and the
// rest are the layer's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scripted_device {

// One DeviceIoControl call as the caller made it.
struct Request {
  std::string device;  // "QDev5", from "\\.\QDev5"
  uint32_t ioControlCode = 0;
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;  // the output buffer as it was; its size is the output size
};

struct Answer {
  bool answered = true;       // false: the request stays pending until cancelled or closed
  uint32_t error = 0;         // Windows error value; 0 completes the request successfully
  uint32_t information = 0;   // byte count reported as transferred
  std::vector<uint8_t> data;  // copied to the start of the output buffer, at most its size
};

class Driver {
 public:
  virtual ~Driver() = default;
  // Whether a device of this name opens; when it does not, CreateFileA fails with
  // ERROR_FILE_NOT_FOUND.
  virtual bool Open(const std::string& device) = 0;
  virtual Answer Handle(const Request& request) = 0;
};

// The driver of every device from now on; null, and every open fails.
void Install(Driver* driver);

// Device handles opened and not yet closed.
int OpenDevices();

}  // namespace scripted_device
