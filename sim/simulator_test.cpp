// The simulator as a whole: the shipped scenarios load, a start that is refused touches nothing
// that a live simulator keeps, and a stop does not wait for an answer that is held back. What the
// simulated module answers through the platform's device I/O is what the end-to-end cases pin.
#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

namespace fs = std::filesystem;

// Every file below a folder with a hash of its contents.
std::map<std::string, size_t> FilesIn(const std::string& folder) {
  std::map<std::string, size_t> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    if (it->is_regular_file()) files[path] = std::hash<std::string>()(sim_test::ReadFile(path));
  }
  return files;
}

// A second simulator is refused (or a start fails a later check) before it writes anything: the
// live simulator's state folder and traffic file stay as they are, and whatever the refused start
// claimed is released again.
TEST(SimulatorStart, RefusedStartWritesNothingAndReleasesItsEndpoints) {
  qdev_test::TempDeviceDir dir;
  const std::string other = dir.path() + "/other";  // a device folder of its own
  sim::SimulatorOptions live;
  live.deviceDir = dir.path();
  live.stateDir = dir.path() + "/state";
  live.trafficFile = dir.path() + "/traffic";
  sim::Simulator running;
  std::string error;
  ASSERT_TRUE(running.Start(live, &error)) << error;
  // Boot flash that is not the scenario's any more, written through the boot loader.
  ASSERT_EQ(sim_test::Vendor("QDev0", 0, 0x0F, 0x3C00, 0, {}).error, 0u);
  ASSERT_EQ(sim_test::Vendor("QDev0", 0, 0x0D, 0x0000, 0x9000, {1, 2, 3, 4}).error, 0u);
  ASSERT_EQ(sim_test::Request("QDev0", IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80)).error,
            0u);
  ASSERT_EQ(FilesIn(dir.path()).size(), 3u);  // two state files and the traffic file

  fs::create_directories(dir.path() + "/damaged");
  std::ofstream(dir.path() + "/damaged/slot0-mcu-flash.bin") << "short";
  const struct {
    const char* name;
    std::string deviceDir, stateDir, trafficFile;
    bool fresh;
    const char* reason;  // part of the error
  } rows[] = {
      {"DevicesOfALiveSimulator", dir.path(), other + "/state", live.trafficFile, true,
       "already served"},
      {"DamagedStateFile", other, dir.path() + "/damaged", other + "/traffic", false,
       "has 5 bytes"},
      {"UnwritableTrafficFile", other, other + "/state", "/nonexistent/traffic", true, "traffic"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim::SimulatorOptions o;
    o.deviceDir = row.deviceDir;
    o.stateDir = row.stateDir;
    o.trafficFile = row.trafficFile;
    o.fresh = row.fresh;
    sim::Simulator second;
    const auto before = FilesIn(dir.path());
    EXPECT_FALSE(second.Start(o, &error));
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
    EXPECT_EQ(FilesIn(dir.path()), before);
    EXPECT_FALSE(fs::exists(other + "/QDev0"));
  }
  EXPECT_EQ(sim_test::Request("QDev0", IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80)).error,
            0u);
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
