// The rack: routing by device name, traffic lines of the unusual requests and their reading back,
// and a power loss that leaves the state folder as after the last completed request.
#include "sim/rack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "modlib/driver_contract.h"
#include "sim/sim_test_images.h"

namespace {

using sim::Rack;
using sim_test::Header;
using sim_test::MakeFault;

std::vector<uint8_t> Data(size_t n) {
  return std::vector<uint8_t>(n, 0x11);
}

// Lines that the end-to-end runs never produce: the other naming's code, a vendor input that is
// no header, an unknown code. A device that nobody serves is refused without a line.
TEST(RackTraffic, BothNamesReachOneModuleAndOddRequestsGetTheirLines) {
  sim::Scenario scenario;
  scenario.modules[0].naming = sim::Naming::kBoth;
  scenario.modules[0].slot = 2;
  Rack rack;
  std::string error;
  ASSERT_TRUE(rack.Build(scenario, sim_test::TestImages(), &error)) << error;
  rack.PowerUp();
  EXPECT_EQ(rack.Serve("QDevUsb2", IOCTL_USB_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {}).error,
            0u);
  EXPECT_FALSE(rack.ApplicationRunning(2));  // the module behind QDev2 is in its boot loader
  const sim::RackReply refused[] = {
      rack.Serve("QDev2", IOCTL_VENDOR_REQUEST, Data(5), {}),
      rack.Serve("QDevUsb2", 0x220000, {}, Data(4)),
      rack.Serve("QDev0", IOCTL_GET_DEVICE_INFO, {}, Data(80)),
  };
  for (const sim::RackReply& reply : refused) {
    EXPECT_TRUE(reply.answered);
    EXPECT_EQ(reply.error, sim::kRefusedError);
  }
  EXPECT_EQ(rack.traffic().Lines(),
            (std::vector<std::string>{
                "QDevUsb2 ioctl=0x220012 dir=0 req=0x0F value=0x3C00 index=0x0000 len=0 -> ok",
                "QDev2 ioctl=0x22003E in=5 len=0 -> refused",
                "QDevUsb2 ioctl=0x220000 len=4 -> refused"}));
}

// Every form of traffic line reads back into the entry that wrote it; anything else does not.
TEST(RackTraffic, LinesReadBackIntoTheirEntries) {
  const std::string lines[] = {
      "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> ok",
      "QDev5 ioctl=0x22003E dir=0 req=0x0D value=0xD000 index=0x9001 len=3695 -> refused",
      "QDevUsb2 ioctl=0x220012 dir=1 req=0x0B value=0x0000 index=0x0000 len=7 -> short 3",
      "QDev0 ioctl=0x22003E dir=0 req=0x07 value=0x0000 index=0x0000 len=0 -> no answer",
      "QDev0 ioctl=0x22005E len=80 -> ok",
      "QDev2 ioctl=0x22003E in=5 len=0 -> refused",
  };
  for (const std::string& line : lines) {
    sim::TrafficEntry entry;
    ASSERT_TRUE(sim::ParseTrafficLine(line, &entry)) << line;
    EXPECT_EQ(sim::FormatTrafficLine(entry), line);
  }
  sim::TrafficEntry entry;
  ASSERT_TRUE(sim::ParseTrafficLine(lines[1], &entry));
  EXPECT_EQ(entry.requestCode, 0x0D);
  EXPECT_EQ(uint32_t{entry.index} << 16 | entry.value, 0x9001D000u);
  EXPECT_EQ(entry.outputSize, 3695u);
  for (const char* other : {"QDev0 power lost", "QDev0 ioctl=0x22005E len=80 -> ok ", "",
                            "QDev0 ioctl=0x22005E len=80 -> maybe",
                            "QDev0 ioctl=0x22003E dir=1 req=0x0E len=256 -> ok"}) {
    EXPECT_FALSE(sim::ParseTrafficLine(other, &entry)) << other;
  }
}

TEST(RackState, PowerLossKeepsEveryCompletedWriteForTheNextStart) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("sim-test-state-" + std::to_string(std::random_device()()));
  sim::StateStore store;
  std::string error;
  ASSERT_TRUE(store.Open(folder.string(), &error)) << error;
  sim::Scenario scenario;
  scenario.modules.resize(2);
  scenario.modules[1].slot = 1;
  {
    sim::Scenario faulty = scenario;
    faulty.modules[0].faults = {MakeFault(sim::FaultAction::kPowerLoss, 0x0D, {}, 2)};
    Rack rack;
    ASSERT_TRUE(rack.Build(faulty, sim_test::TestImages(), &error));
    ASSERT_TRUE(rack.AttachStore(store, false, &error)) << error;
    rack.PowerUp();
    const auto write = [&rack](uint32_t address, std::vector<uint8_t> data) {
      return rack.Serve("QDev0", IOCTL_VENDOR_REQUEST,
                        Header(0, 0x0D, address & 0xFFFF, address >> 16), data);
    };
    rack.Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {});
    ASSERT_EQ(write(0x83000000, {0xAA, 0xBB}).error, 0u);
    const sim::RackReply last = write(0x90000000, {0x00});  // carried out and answered
    EXPECT_TRUE(last.answered && last.error == 0 && last.powerLost && rack.PowerLost());
    EXPECT_FALSE(write(0x83000002, {0xCC}).answered);
    EXPECT_FALSE(rack.Serve("QDev1", IOCTL_GET_DEVICE_INFO, {}, Data(80)).answered);
    EXPECT_EQ(rack.traffic().Lines().back(), "QDev0 power lost");
  }
  for (bool fresh : {false, true}) {
    SCOPED_TRACE(fresh);
    Rack rack;
    ASSERT_TRUE(rack.Build(scenario, sim_test::TestImages(), &error));
    ASSERT_TRUE(rack.AttachStore(store, fresh, &error)) << error;
    rack.PowerUp();
    const std::vector<uint8_t> mcu = rack.McuFlash(0);
    EXPECT_EQ(mcu[1] == 0xBB && mcu[2] != 0xCC, !fresh);
    // The overwritten container header no longer configures the PLD after the power cycle.
    EXPECT_EQ(rack.PldConfigured(0), fresh);
    EXPECT_TRUE(rack.PldConfigured(1));
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
