// The simulator as a whole: the shipped scenarios load, and a stop does not wait for an answer that
// is held back. What the simulated module answers through the platform's device I/O is what the
// end-to-end cases pin; that a refused start touches nothing that a live simulator keeps is
// sim/command_test.cpp's.
#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "contract/driver_contract.h"
#include "platform/testing/posix/test_endpoint.h"
#include "sim/testing/device_client.h"
#include "sim/testing/test_helpers.h"

namespace {

TEST(Simulator, ShippedScenariosLoad) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(R4690_SIM_SCENARIO_DIR)) {
    sim::Simulator simulator;
    std::string error;
    EXPECT_TRUE(simulator.LoadScenario(sim_test::ReadFile(entry.path().string()), &error))
        << entry.path() << ": " << error;
    ++count;
  }
  EXPECT_GE(count, 7);  // the seven of the README at least
}

// A stop takes the device away without waiting for an answer that is held back. (That a delay is
// shortened by the wait scale as the clients' time-outs are is what the end-to-end cases
// delay_inside_timeout and delay_past_timeout show.)
TEST(Simulator, StopsWithoutWaitingForAHeldBackAnswer) {
  using Clock = std::chrono::steady_clock;
  qdev_test::TempDeviceDir dir;
  sim::Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(
      R"({"modules":[{"faults":[{"action":"delay","request":"usbSpeed","ms":600000}]}]})", &error))
      << error;
  std::atomic<bool> arrived{false};
  ASSERT_TRUE(simulator.SetRequestObserver(
      [&arrived](const std::string&, const qdev::DeviceRequest&) { arrived = true; }));
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;

  sim_test::ClientResult held;
  std::thread client([&held] { held = sim_test::Vendor("QDev0", 1, 0x06, 0, 0, {0}); });
  while (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const Clock::time_point stop = Clock::now();
  simulator.Stop();
  EXPECT_LT(Clock::now() - stop, std::chrono::seconds(5));
  client.join();
  EXPECT_NE(held.error, 0u);
  EXPECT_EQ(simulator.Traffic().back(),
            "QDev0 ioctl=0x22003E dir=1 req=0x06 usbSpeed value=0x0000 index=0x0000 len=1 -> ok "
            "after 600000 ms");
}

}  // namespace
