// The recording test driver, the device-folder fixtures and the test peer of the library's
// classes.
#include "modlib/test_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "modlib/driver_contract.h"
#include "platform/test_facilities.h"

// Friend of TQUSBBASE and TR4690_BOOT_LOADER.
struct ModlibTestPeer {
  static uint16_t LastErrorCode(TQUSBBASE& o) { return o.LastErrorCode; }
  static uint32_t VendorRequestCode(TQUSBBASE& o) { return o.VendorRequestCode; }
  static uint8_t UsbSpeed(TQUSBBASE& o) { return o.UsbSpeed; }
  static bool McuApplicationRunning(TR4690_BOOT_LOADER& o) { return o.McuApplicationRunning; }
};

namespace modlib_test {

uint16_t LastErrorCode(TQUSBBASE& o) {
  return ModlibTestPeer::LastErrorCode(o);
}
uint32_t VendorRequestCode(TQUSBBASE& o) {
  return ModlibTestPeer::VendorRequestCode(o);
}
uint8_t UsbSpeed(TQUSBBASE& o) {
  return ModlibTestPeer::UsbSpeed(o);
}
bool McuApplicationRunning(TR4690_BOOT_LOADER& o) {
  return ModlibTestPeer::McuApplicationRunning(o);
}

uint8_t ModuleByte(uint32_t address) {
  return static_cast<uint8_t>((address * 2654435761u) >> 24);
}

Answer Refused() {
  return Answer{false, ERROR_GEN_FAILURE, 0, {}};
}

RecordingDriver::Script FailAt(size_t n) {
  return [n](const Request&, size_t i) { return i == n ? Refused() : std::optional<Answer>(); };
}

RecordingDriver::Script FailAddress(uint32_t address) {
  return [=](const Request& r, size_t) {
    return r.address == address ? Refused() : std::optional<Answer>();
  };
}

RecordingDriver::Script NeverAt(size_t n) {
  return [n](const Request&, size_t i) {
    return i == n ? Answer{true, 0, std::nullopt, {}} : std::optional<Answer>();
  };
}

std::vector<Request> RecordingDriver::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> RecordingDriver::Lines() const {
  std::vector<std::string> lines;
  for (const Request& r : Requests()) lines.push_back(r.line);
  return lines;
}

void RecordingDriver::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

size_t RecordingDriver::CancelCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

void RecordingDriver::Cancelled(uint64_t, uint32_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++cancelled_;
}

bool RecordingDriver::Handle(const qdev::DeviceRequest& in, qdev::DeviceReply* reply) {
  Request request{deviceName, "", 0, in.output};
  char line[64];
  const auto outputSize = static_cast<unsigned>(in.output.size());
  if (in.input.size() == driver_contract::kVendorRequestSize) {
    const driver_contract::VendorRequest h = driver_contract::DecodeVendorRequest(in.input.data());
    request.address = static_cast<uint32_t>(h.Index) << 16 | h.Value;
    std::snprintf(line, sizeof line, "%06X %u %02X %04X %04X %u", in.ioControlCode, h.Direction,
                  h.RequestCode, h.Value, h.Index, outputSize);
  } else {
    std::snprintf(line, sizeof line, "%06X %u", in.ioControlCode, outputSize);
  }
  request.line = line;

  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(request);
  std::optional<Answer> answer;
  if (script) answer = script(request, requests_.size() - 1);
  if (!answer) answer = ModuleAnswer(in, request.address);
  if (answer->never) return false;
  reply->error = answer->error;
  reply->information = answer->transferred.value_or(answer->error == 0 ? outputSize : 0);
  reply->data = answer->data;
  return true;
}

Answer RecordingDriver::ModuleAnswer(const qdev::DeviceRequest& in, uint32_t address) const {
  Answer answer;
  if (in.ioControlCode == IOCTL_GET_DEVICE_INFO) {
    answer.data.assign(driver_contract::kDeviceInfoSize, 0);
    driver_contract::SetModuleTypeCode(answer.data.data(), module.typeCode);
    return answer;
  }
  if (in.input.size() != driver_contract::kVendorRequestSize) return Refused();
  switch (driver_contract::DecodeVendorRequest(in.input.data()).RequestCode) {
    case driver_contract::kRequestModuleName:
      answer.data.assign(module.modelName.begin(), module.modelName.end());
      answer.data.resize(driver_contract::kModuleNameLength, 0);
      break;
    case driver_contract::kRequestUsbSpeed:
      answer.data.assign(1, module.usbSpeed);
      break;
    case driver_contract::kRequestRead:
      for (uint32_t a = address; a < address + in.output.size(); ++a) {
        const bool revisionByte = a == 0x91003034 || a == 0x83003034;
        answer.data.push_back(revisionByte ? static_cast<uint8_t>(module.revision) : ModuleByte(a));
      }
      break;
    default:  // writes, runs and the PLD requests carry no data back
      break;
  }
  return answer;
}

void DeviceFolderTest::SetUp() {
  char name[32];
  std::snprintf(name, sizeof name, "modlib-test-%08x", std::random_device()());
  folder = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::create_directories(folder);
  ASSERT_EQ(setenv("QDEV_DEVICE_DIR", folder.c_str(), 1), 0);  // where CreateFileA looks
}

void DeviceFolderTest::TearDown() {
  qdev_test::ClearFaults();
  qdev_test::SetTimeScale(1);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void DriverTest::SetUp() {
  DeviceFolderTest::SetUp();
  server_ = std::make_unique<qdev::EndpointServer>(folder);
  Publish();
  std::string error;
  ASSERT_TRUE(server_->Start(&error)) << error;
}

void DriverTest::TearDown() {
  for (TQUSBBASE* object : objects_) object->ReleaseInstance();
  server_.reset();
  DeviceFolderTest::TearDown();
}

void DriverTest::Serve(const std::string& name, RecordingDriver* served) {
  std::string error;
  served->deviceName = name;
  ASSERT_TRUE(server_->AddDevice(name, served, &error)) << error;
}

TQUSBBASE* DriverTest::NewBase() {
  auto* object = static_cast<TQUSBBASE*>(static_cast<IQUSBBASE*>(CreateInstance("QUSBBASE", 1, 0)));
  objects_.push_back(object);
  return object;
}

TR4690_BOOT_LOADER* DriverTest::NewBootLoader(uint8_t driverKind, int32_t skipNameCheck) {
  void* made = CreateInstance("R4690_BOOT_LOADER", driverKind, skipNameCheck);
  auto* object = static_cast<TR4690_BOOT_LOADER*>(static_cast<IR4690_BOOT_LOADER*>(made));
  objects_.push_back(object);
  return object;
}

bool DriverTest::Release(TQUSBBASE* object) {
  objects_.erase(std::remove(objects_.begin(), objects_.end(), object), objects_.end());
  return object->ReleaseInstance();
}

}  // namespace modlib_test
