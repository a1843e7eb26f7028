// The rack: routing by device name, the exact traffic lines, power loss, and memories kept in
// the state folder across a restart.
#include "sim/rack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "modlib/driver_contract.h"
#include "sim/sim_test_images.h"

namespace {

using sim::Rack;
using sim_test::Header;

std::vector<uint8_t> Data(size_t n) {
  return std::vector<uint8_t>(n, 0x11);
}

// A folder of its own under the temporary directory, removed afterwards. The random part keeps
// concurrent runs of the same test (two build trees, say) apart.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name)
      : path_(std::filesystem::temp_directory_path() /
              ("sim-test-" + name + "-" + std::to_string(std::random_device()()))) {}
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST(RackTraffic, OneExactLinePerRequest) {
  sim::Scenario scenario;
  scenario.modules[0].naming = sim::Naming::kBoth;
  scenario.modules[0].slot = 2;
  sim::Fault shortName;
  shortName.action = sim::FaultAction::kShort;
  shortName.request = 0x0B;
  shortName.bytes = 3;
  shortName.nth = 2;
  sim::Fault silentVerify;
  silentVerify.action = sim::FaultAction::kNoAnswer;
  silentVerify.request = 0x07;
  scenario.modules[0].faults = {shortName, silentVerify};
  Rack rack;
  std::string error;
  ASSERT_TRUE(rack.Build(scenario, sim_test::TestImages(), &error)) << error;
  rack.PowerUp();

  struct Row {
    const char* device;
    uint32_t code;
    std::vector<uint8_t> input;
    size_t outputSize;
    const char* line;
  };
  const Row rows[] = {
      {"QDev2", IOCTL_GET_DEVICE_INFO, {}, 80, "QDev2 ioctl=0x22005E len=80 -> ok"},
      {"QDevUsb2", IOCTL_USB_VENDOR_REQUEST, Header(1, 0x0B, 0, 0), 7,
       "QDevUsb2 ioctl=0x220012 dir=1 req=0x0B value=0x0000 index=0x0000 len=7 -> ok"},
      {"QDev2", IOCTL_VENDOR_REQUEST, Header(1, 0x0E, 0x3000, 0x9100), 256,
       "QDev2 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> refused"},
      {"QDev2", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), 0,
       "QDev2 ioctl=0x22003E dir=0 req=0x0F value=0x3C00 index=0x0000 len=0 -> ok"},
      {"QDev2", IOCTL_VENDOR_REQUEST, Header(1, 0x0E, 0x3000, 0x9100), 256,
       "QDev2 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> ok"},
      {"QDev2", IOCTL_VENDOR_REQUEST, Header(1, 0x0B, 0, 0), 7,
       "QDev2 ioctl=0x22003E dir=1 req=0x0B value=0x0000 index=0x0000 len=7 -> short 3"},
      {"QDev2", IOCTL_VENDOR_REQUEST, Header(0, 0x07, 0, 0), 0,
       "QDev2 ioctl=0x22003E dir=0 req=0x07 value=0x0000 index=0x0000 len=0 -> no answer"},
      {"QDev2",
       IOCTL_VENDOR_REQUEST,
       {1, 0, 0x0B, 0, 0},
       0,
       "QDev2 ioctl=0x22003E in=5 len=0 -> refused"},
      {"QDev2", 0x220000, {}, 4, "QDev2 ioctl=0x220000 len=4 -> refused"},
  };
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    const sim::RackReply reply = rack.Serve(row.device, row.code, row.input, Data(row.outputSize));
    expected.push_back(row.line);
    const bool silent = expected.back().find("no answer") != std::string::npos;
    EXPECT_EQ(reply.answered, !silent) << row.line;
    const bool refused = expected.back().find("refused") != std::string::npos;
    EXPECT_EQ(reply.error, refused ? sim::kRefusedError : 0u) << row.line;
  }
  EXPECT_EQ(rack.traffic().Lines(), expected);
}

TEST(RackTraffic, PowerLossEndsAllAnswersUntilPowerUp) {
  sim::Scenario scenario;
  scenario.modules.resize(2);
  scenario.modules[1].slot = 1;
  sim::Fault loss;
  loss.action = sim::FaultAction::kPowerLoss;
  loss.request = 0x0D;
  scenario.modules[1].faults = {loss};
  Rack rack;
  std::string error;
  ASSERT_TRUE(rack.Build(scenario, sim_test::TestImages(), &error)) << error;
  rack.PowerUp();
  rack.Serve("QDev1", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {});
  const sim::RackReply last =
      rack.Serve("QDev1", IOCTL_VENDOR_REQUEST, Header(0, 0x0D, 0, 0x9000), {1, 2});
  EXPECT_TRUE(last.answered);
  EXPECT_EQ(last.error, 0u);
  EXPECT_TRUE(last.powerLost);
  EXPECT_TRUE(rack.PowerLost());
  // The write was carried out before the power went; the other module has lost power too.
  EXPECT_EQ(rack.BootFlash(1)[1], 2);
  EXPECT_FALSE(rack.Serve("QDev0", IOCTL_GET_DEVICE_INFO, {}, Data(80)).answered);
  const std::vector<std::string> lines = rack.traffic().Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "QDev1 power lost");
  rack.PowerUp();
  EXPECT_TRUE(rack.Serve("QDev0", IOCTL_GET_DEVICE_INFO, {}, Data(80)).answered);
}

TEST(RackState, WritesSurviveARestartUnlessFresh) {
  TempFolder folder("state");
  sim::StateStore store;
  std::string error;
  ASSERT_TRUE(store.Open(folder.path(), &error)) << error;
  {
    Rack rack;
    ASSERT_TRUE(rack.Build(sim::Scenario(), sim_test::TestImages(), &error));
    ASSERT_TRUE(rack.AttachStore(store, false, &error)) << error;
    rack.PowerUp();
    rack.Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {});
    rack.Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0D, 0x0000, 0x8300), {0xAA, 0xBB});
    rack.Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0D, 0x0000, 0x9000), {0x00});
    // No Stop, no destructor order to rely on: the files already hold the writes.
    std::vector<uint8_t> mcu, boot;
    ASSERT_EQ(store.Load(0, &mcu, &boot, &error), sim::StateStore::LoadResult::kLoaded);
    EXPECT_EQ(mcu[0], 0xAA);
    EXPECT_EQ(boot[0], 0x00);
  }
  for (bool fresh : {false, true}) {
    Rack rack;
    ASSERT_TRUE(rack.Build(sim::Scenario(), sim_test::TestImages(), &error));
    ASSERT_TRUE(rack.AttachStore(store, fresh, &error)) << error;
    rack.PowerUp();
    EXPECT_EQ(rack.McuFlash(0)[1] == 0xBB, !fresh);
    // The damaged container no longer configures the PLD after the power cycle.
    EXPECT_EQ(rack.PldConfigured(0), fresh);
  }
}

TEST(RackState, DamagedOrUnwritableStateIsRefused) {
  TempFolder folder("damaged");
  sim::StateStore store;
  std::string error;
  ASSERT_TRUE(store.Open(folder.path(), &error)) << error;
  { std::ofstream(store.McuFlashPath(0)) << "short"; }
  Rack rack;
  ASSERT_TRUE(rack.Build(sim::Scenario(), sim_test::TestImages(), &error));
  EXPECT_FALSE(rack.AttachStore(store, false, &error));
  EXPECT_EQ(error, "state file " + store.McuFlashPath(0) + " has 5 bytes, not 16384");
  EXPECT_TRUE(rack.AttachStore(store, true, &error)) << error;  // fresh overwrites it

  sim::StateStore blocked;
  const std::string inside = store.McuFlashPath(0) + "/state";  // a path below a file
  EXPECT_FALSE(blocked.Open(inside, &error));
  EXPECT_EQ(error.rfind("cannot use the state folder " + inside + ": ", 0), 0u) << error;
}

}  // namespace
