// The kernel-driver stand-in seen through the real Win32 I/O manager: a request that is never
// answered stays pending until CancelIo or the handle's close ends it, and device names resolve
// as Windows object names do. The overlapped details checked here are the ones the driver
// transport relies on; byte counts, errors and data in both directions are covered by the
// end-to-end cases that scripts/test-windows runs through the stand-in.
//
// Runs under Wine with the driver file beside the executable; the suite registers and starts the
// driver itself, in the test's own Windows session.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/win32.h"
#include "sim/simulator.h"
#include "tests/wine/host/driver_service.h"

namespace {

using driver_contract::VendorRequest;

// Slot 0, whose PLD verification is never answered.
constexpr char kScenario[] = R"({"modules":[{"faults":[
  {"action":"noAnswer","request":"verifyPld"}]}]})";

constexpr DWORD kWaitMs = 5000;
constexpr ULONG_PTR kStatusPending = 0x103;  // Internal of a pending request holds an NTSTATUS

class StandInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    simulator_ = new sim::Simulator;
    ASSERT_TRUE(simulator_->LoadScenario(kScenario, &error)) << error;
    ASSERT_TRUE(simulator_->Start(sim::SimulatorOptions(), &error)) << error;
    driver_ = new stand_in::DriverService;
    ASSERT_TRUE(
        driver_->Install(stand_in::DriverPathBesideExecutable(), simulator_->DeviceNames(), &error))
        << error;
    ASSERT_TRUE(driver_->Start(&error)) << error;
  }

  static void TearDownTestSuite() {
    if (simulator_ != nullptr) simulator_->Stop();  // first, so that the driver's readers end
    delete driver_;                                 // stops the driver
    delete simulator_;
    driver_ = nullptr;
    simulator_ = nullptr;
  }

  void SetUp() override {
    device_ = Open("\\\\.\\QDev0");
    ASSERT_NE(device_, INVALID_HANDLE_VALUE) << GetLastError();
    // The module powers up running its application; requests to memory need the boot loader.
    std::vector<uint8_t> none;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const BOOL started = Start(0, 0x0F, 0x3C00, 0, &none, &overlapped);
    DWORD bytes = 0;
    ASSERT_TRUE(started || GetLastError() == ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(device_, &overlapped, &bytes, TRUE));
    CloseHandle(overlapped.hEvent);
  }
  void TearDown() override {
    if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
  }

  static HANDLE Open(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  }

  // A vendor request on the QDev naming; `data` is the output buffer (its size the data length).
  BOOL Start(uint16_t direction, uint16_t code, uint16_t value, uint16_t index,
             std::vector<uint8_t>* data, OVERLAPPED* overlapped) {
    uint8_t header[driver_contract::kVendorRequestSize];
    driver_contract::EncodeVendorRequest(VendorRequest{direction, code, value, index}, header);
    return DeviceIoControl(device_, IOCTL_VENDOR_REQUEST, header, sizeof header,
                           data->empty() ? nullptr : data->data(), static_cast<DWORD>(data->size()),
                           nullptr, overlapped);
  }

  static sim::Simulator* simulator_;
  static stand_in::DriverService* driver_;
  HANDLE device_ = INVALID_HANDLE_VALUE;
};

sim::Simulator* StandInTest::simulator_ = nullptr;
stand_in::DriverService* StandInTest::driver_ = nullptr;

// One completed request: what GetOverlappedResult said.
struct Outcome {
  BOOL ok;
  DWORD error;  // GetLastError after a failed result
  DWORD bytes;
};

Outcome Finish(HANDLE device, BOOL started, OVERLAPPED* overlapped) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return Outcome{FALSE, GetLastError(), 0};
  EXPECT_EQ(WaitForSingleObject(overlapped->hEvent, kWaitMs), WAIT_OBJECT_0);
  DWORD bytes = 12345;
  const BOOL ok = GetOverlappedResult(device, overlapped, &bytes, TRUE);
  return Outcome{ok, ok ? ERROR_SUCCESS : GetLastError(), bytes};
}

TEST_F(StandInTest, AnUnansweredRequestStaysPendingUntilCancelIo) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);  // set: the start must reset it
  std::vector<uint8_t> none;
  ASSERT_FALSE(Start(0, 0x07, 0, 0, &none, &overlapped));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 300), WAIT_TIMEOUT);
  EXPECT_EQ(overlapped.Internal, kStatusPending);
  DWORD bytes = 12345;
  EXPECT_FALSE(GetOverlappedResult(device_, &overlapped, &bytes, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  EXPECT_TRUE(CancelIo(device_));
  EXPECT_FALSE(GetOverlappedResult(device_, &overlapped, &bytes, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(bytes, 0u);
  CloseHandle(overlapped.hEvent);

  // The device serves the next request as before.
  std::vector<uint8_t> name(7);
  overlapped = OVERLAPPED{};
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const Outcome outcome = Finish(device_, Start(1, 0x0B, 0, 0, &name, &overlapped), &overlapped);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(std::string(name.begin(), name.begin() + 6), "R46-90");
  CloseHandle(overlapped.hEvent);
}

TEST_F(StandInTest, ClosingTheHandleEndsItsPendingRequest) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<uint8_t> none;
  ASSERT_FALSE(Start(0, 0x07, 0, 0, &none, &overlapped));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(CloseHandle(device_));
  device_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, kWaitMs), WAIT_OBJECT_0);
  EXPECT_NE(overlapped.Internal, kStatusPending);
  CloseHandle(overlapped.hEvent);
}

TEST_F(StandInTest, DeviceNamesResolveLikeWindowsObjectNames) {
  struct NameCase {
    const char* path;
    bool opens;
    DWORD error;
  };
  const NameCase cases[] = {
      {"\\\\.\\QDev1", false, ERROR_FILE_NOT_FOUND},
      {"\\\\.\\QDevUsb0", false, ERROR_FILE_NOT_FOUND},
      {"\\\\.\\QDev00", false, ERROR_FILE_NOT_FOUND},
      {"\\\\.\\qdev0", true, ERROR_SUCCESS},  // object names ignore case
      {"\\\\.\\QDev0", true, ERROR_SUCCESS},  // a second open, share mode 0 notwithstanding
  };
  for (const NameCase& c : cases) {
    SetLastError(ERROR_SUCCESS);
    HANDLE h = Open(c.path);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.path;
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
    } else {
      EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
  }
}

}  // namespace
