// The simulator with the embedded images: the demo module reached through the platform's device
// I/O, the PLD versions of the embedded PLD images, the shipped scenarios, and a start that is
// refused without touching what a live simulator keeps.
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
#include "images/image_list.h"
#include "platform/testing/posix/test_endpoint.h"
#include "platform/testing/test_facilities.h"
#include "sim/embedded_images.h"
#include "sim/module.h"
#include "sim/testing/device_client.h"
#include "sim/testing/test_images.h"

namespace {

using sim_test::ClientResult;
using sim_test::FieldText;
using sim_test::Header;
using sim_test::Read;

TEST(Simulator, DemoModuleAnswersAllFourDescriptions) {
  qdev_test::TempDeviceDir dir;
  sim::Simulator simulator;
  std::string error;
  ASSERT_TRUE(
      simulator.LoadScenario(sim_test::ReadFile(R4690_SIM_SCENARIO_DIR "/demo.json"), &error))
      << error;
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;
  const ClientResult info =
      sim_test::Request("QDev0", IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80));
  ASSERT_EQ(info.transferred, 80u);
  EXPECT_EQ(driver_contract::ModuleTypeCodeOf(info.data.data()), 32u);
  // The application runs after power-up; the boot loader answers reads.
  EXPECT_NE(Read("QDev0", 0x91003000, 256).error, 0u);
  ASSERT_EQ(sim_test::Vendor("QDev0", 0, 0x0F, 0x3C00, 0, {}).error, 0u);

  const ClientResult module = Read("QDev0", 0x91003000, 256);
  const ClientResult firmware = Read("QDev0", 0x91001F00, 227);
  const ClientResult bootLoader = Read("QDev0", 0x83003FB0, 79);
  const ClientResult pld = Read("QDev0", 0x8F000000, 512);
  ASSERT_EQ(module.transferred + firmware.transferred + bootLoader.transferred + pld.transferred,
            256u + 227u + 79u + 512u);
  EXPECT_EQ(FieldText(module.data, 0, 16), "R46-90");
  EXPECT_EQ(FieldText(module.data, 16, 36), "4690C-20-001734");
  EXPECT_EQ(module.data[52], 'C');
  EXPECT_EQ(FieldText(firmware.data, 0, 25), "AVR ATmega162");
  EXPECT_EQ(FieldText(firmware.data, 25, 10), "3.1");
  EXPECT_EQ(FieldText(bootLoader.data, 20, 10), "3.1");
  EXPECT_EQ(FieldText(pld.data, 0, 512),
            "<Version>{3.0.6c (build Mar 14 2019)} <Comments>{R46-90 PLD configuration, "
            "commercial grade}");
}

// A module that loads an embedded PLD image reports the version that the list of images gives it.
TEST(Simulator, EmbeddedPldImagesReportTheirListedVersions) {
  const sim::EmbeddedImages images = sim::LookupEmbeddedImages();
  int checked = 0;
  for (const images::ImageInfo& listed : images::kImageList) {
    if (listed.kind != images::ImageKind::kPldConfiguration) continue;
    SCOPED_TRACE(listed.name);
    const sim::ByteRange pld = images.at(listed.name).bytes;
    ASSERT_NE(pld.data, nullptr);
    sim::ModuleConfig c;
    c.bootFlash = sim::BootFlashKind::kOtherImage;  // starts out with 3.0.6c
    sim::Module m(c, images);
    m.PowerUp();
    const auto plain = [](uint16_t code, uint16_t value) {  // a request without data
      return sim::DecodeRequest("QDev0", IOCTL_VENDOR_REQUEST, Header(0, code, value, 0), 0);
    };
    m.Handle(plain(0x0F, 0x3C00), {}, nullptr);
    ASSERT_TRUE(m.Poke(0x90000000, sim::BuildContainer(pld.data, pld.size), nullptr));
    ASSERT_EQ(m.Handle(plain(0x0C, 0), {}, nullptr).error, 0u);
    const std::string text = m.PldText();
    ASSERT_EQ(text.rfind("<Version>{", 0), 0u) << text;
    EXPECT_EQ(text.substr(10, text.find(' ') - 10), listed.version);
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

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
      {"DevicesOfALiveSimulator", dir.path(), live.stateDir, live.trafficFile, true,
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

// A held-back answer comes after its delay, which the wait scale shortens as it shortens the
// clients' time-outs; a stop takes the device away without waiting for it.
TEST(Simulator, AnswersLateByTheScaledDelayAndStopsWithoutWaiting) {
  using Clock = std::chrono::steady_clock;
  qdev_test::TempDeviceDir dir;
  sim::Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(
      R"({"modules":[{"faults":[{"action":"delay","request":"modelName","ms":2000},
                               {"action":"delay","request":"usbSpeed","ms":600000}]}]})",
      &error))
      << error;
  std::atomic<bool> arrived{false};
  ASSERT_TRUE(simulator.SetRequestObserver(
      [&arrived](const std::string&, const qdev::DeviceRequest&) { arrived = true; }));
  qdev_test::SetWaitScale(10);
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;

  const Clock::time_point sent = Clock::now();
  EXPECT_EQ(sim_test::Vendor("QDev0", 1, 0x0B, 0, 0, std::vector<uint8_t>(7)).transferred, 7u);
  const auto late = Clock::now() - sent;
  EXPECT_GE(late, std::chrono::milliseconds(200));
  EXPECT_LT(late, std::chrono::milliseconds(2000));

  arrived = false;
  ClientResult held;
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
  qdev_test::SetWaitScale(1);
}

}  // namespace
