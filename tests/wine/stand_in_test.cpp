// The kernel-driver stand-in seen through the real Win32 I/O manager: a request that is never
// answered stays pending until CancelIo or the handle's close ends it. The overlapped details
// checked here are the ones the driver
// transport relies on; byte counts, errors and data in both directions are covered by the
// end-to-end cases that scripts/test-windows runs through the stand-in.
//
// Runs under Wine with the driver file beside the executable; the suite registers and starts the
// driver itself, in the test's own Windows session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/win32.h"
#include "sim/simulator.h"
#include "tests/wine/host/driver_service.h"

namespace {

// Slot 0, whose PLD verification is never answered.
constexpr char kScenario[] = R"({"modules":[{"faults":[
  {"action":"noAnswer","request":"verifyPld"}]}]})";

TEST(StandInTest, AnUnansweredRequestStaysPendingUntilCancelIoOrClose) {
  std::string error;
  sim::Simulator simulator;
  ASSERT_TRUE(simulator.LoadScenario(kScenario, &error)) << error;
  ASSERT_TRUE(simulator.Start(sim::SimulatorOptions(), &error)) << error;
  stand_in::DriverService driver;  // stops the driver when the test ends
  ASSERT_TRUE(driver.Start(simulator.DeviceNames(), &error)) << error;
  HANDLE device = CreateFileA("\\\\.\\QDev0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);  // set: each start resets it
  // A vendor request on the QDev naming; `data` is the output buffer (its size the data length).
  const auto start = [&](uint16_t direction, uint16_t code, uint16_t value,
                         std::vector<uint8_t>* data) {
    uint8_t header[driver_contract::kVendorRequestSize];
    driver_contract::EncodeVendorRequest({direction, code, value, 0}, header);
    return DeviceIoControl(device, IOCTL_VENDOR_REQUEST, header, sizeof header,
                           data->empty() ? nullptr : data->data(), static_cast<DWORD>(data->size()),
                           nullptr, &overlapped);
  };
  DWORD bytes = 12345;
  // The module powers up running its application; requests to memory need the boot loader.
  std::vector<uint8_t> none, name(7);
  ASSERT_TRUE(start(0, 0x0F, 0x3C00, &none) || GetLastError() == ERROR_IO_PENDING);
  ASSERT_TRUE(GetOverlappedResult(device, &overlapped, &bytes, TRUE));

  ASSERT_FALSE(start(0, 0x07, 0, &none));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 300), WAIT_TIMEOUT);
  EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &bytes, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  EXPECT_TRUE(CancelIo(device));
  EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &bytes, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(bytes, 0u);

  // The device serves the next request as before.
  ASSERT_TRUE(start(1, 0x0B, 0, &name) || GetLastError() == ERROR_IO_PENDING);
  EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &bytes, TRUE));
  EXPECT_EQ(std::string(name.begin(), name.begin() + 6), "R46-90");

  // Closing the handle ends a pending request too.
  ASSERT_FALSE(start(0, 0x07, 0, &none));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(CloseHandle(device));
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 5000), WAIT_OBJECT_0);
  CloseHandle(overlapped.hEvent);
  simulator.Stop();  // first, so that the driver's readers end
}

}  // namespace
