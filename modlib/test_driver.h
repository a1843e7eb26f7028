// Test support for the module interface library: a driver that records every request and answers
// as a small healthy R46-90 unless a test scripts another answer, and fixtures that serve it (or
// nothing) in a device folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "modlib/qusbbase.h"
#include "modlib/r4690_boot_loader.h"
#include "platform/device_endpoint.h"

namespace modlib_test {

// One request as the driver received it. Its line reads "22003E 1 0E 3000 9100 256": the
// I/O-control code, then Direction, RequestCode, Value, Index of the header and the output size,
// or just "22005E 80" for a request without a header.
struct Request {
  std::string device;
  std::string line;
  uint32_t address = 0;         // Index:Value of the header
  std::vector<uint8_t> output;  // the output buffer as sent: a write's data
};

struct Answer {
  bool never = false;                   // leave the request pending for ever
  uint32_t error = 0;                   // Windows error value; 0 succeeds
  std::optional<uint32_t> transferred;  // bytes reported; unset: the output size on success
  std::vector<uint8_t> data;            // copied to the output buffer
};
Answer Refused();

// The module the driver plays when no script intervenes.
struct FakeModule {
  uint32_t typeCode = 32;
  std::string modelName = "R46-90";
  uint8_t usbSpeed = 1;
  char revision = 'C';  // byte 52 of the module description, at either address
};

// The byte the fake module holds at an address: a hash, so that misplaced chunks show.
uint8_t ModuleByte(uint32_t address);

class RecordingDriver : public qdev::DeviceHandler {
 public:
  // An answer for request number `index` (0-based), or nothing to let the fake module answer.
  using Script = std::function<std::optional<Answer>(const Request&, size_t index)>;

  FakeModule module;  // set before requests arrive
  Script script;
  std::string deviceName = "QDev0";

  std::vector<Request> Requests() const;
  std::vector<std::string> Lines() const;
  void Clear();
  size_t CancelCount() const;

  bool Handle(const qdev::DeviceRequest& request, qdev::DeviceReply* reply) override;
  void Cancelled(uint64_t connection, uint32_t id) override;

 private:
  Answer ModuleAnswer(const qdev::DeviceRequest& request, uint32_t address) const;

  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  size_t cancelled_ = 0;
};

// Scripts: refuse request number n; refuse every request at an address; never answer request n.
RecordingDriver::Script FailAt(size_t n);
RecordingDriver::Script FailAddress(uint32_t address);
RecordingDriver::Script NeverAt(size_t n);

// A device folder of the test's own, published to the platform's device I/O; platform fault
// hooks and the clock scale are reset afterwards.
class DeviceFolderTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string folder;
};

// Serves `driver` as "QDev0" (Publish may serve others) and releases the objects it made.
class DriverTest : public DeviceFolderTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  virtual void Publish() { Serve("QDev0", &driver); }
  void Serve(const std::string& name, RecordingDriver* served);

  TQUSBBASE* NewBase();
  TR4690_BOOT_LOADER* NewBootLoader(uint8_t driverKind = 1, int32_t skipNameCheck = 0);
  // ReleaseInstance is virtual: a boot loader's base part releases the whole object.
  bool Release(TQUSBBASE* object);

  RecordingDriver driver;

 private:
  std::unique_ptr<qdev::EndpointServer> server_;
  std::vector<TQUSBBASE*> objects_;
};

// State the tests check, read through the classes' test peer.
uint16_t LastErrorCode(TQUSBBASE& object);
uint32_t VendorRequestCode(TQUSBBASE& object);
uint8_t UsbSpeed(TQUSBBASE& object);
bool McuApplicationRunning(TR4690_BOOT_LOADER& object);

}  // namespace modlib_test
