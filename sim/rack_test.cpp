// The rack: routing by device name, the decoding and traffic lines of the unusual requests, and
// the state folder: changes reach its files in place before the reply, a change that cannot be
// saved is refused and taken back, and a power loss leaves the folder as after the last completed
// request. How the folder's files are judged by their presence and sizes, and that every line the
// modules write reads back into its request, is the state_folder fuzz target's to check.
#include "sim/rack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "contract/driver_contract.h"
#include "sim/embedded_images.h"
#include "sim/testing/test_helpers.h"

namespace {

using sim::Rack;
using sim_test::Header;
using sim_test::MakeFault;

namespace fs = std::filesystem;

std::vector<uint8_t> Data(size_t n) {
  return std::vector<uint8_t>(n, 0x11);
}

sim::Reply Write(Rack* rack, uint32_t address, std::vector<uint8_t> data) {
  return rack->Serve("QDev0", IOCTL_VENDOR_REQUEST,
                     Header(0, 0x0D, address & 0xFFFF, address >> 16), data);
}

// A state folder of its own, removed with the test, and racks of a scenario's modules, in their
// boot loaders, whose memories it keeps.
class RackStateTest : public ::testing::Test {
 protected:
  ~RackStateTest() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void Build(Rack* rack, const sim::Scenario& scenario, bool fresh) {
    std::string error;
    std::vector<sim::SavedMemories> saved;
    ASSERT_TRUE(store_.Open(dir_, &error)) << error;
    ASSERT_TRUE(rack->Build(scenario, sim::LookupEmbeddedImages(), &error)) << error;
    ASSERT_TRUE(rack->ReadStore(store_, fresh, &saved, &error)) << error;
    ASSERT_TRUE(rack->AttachStore(store_, saved, &error)) << error;
    rack->PowerUp();
    rack->Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {});
  }

  const std::string dir_ =
      (fs::temp_directory_path() / ("sim-test-state-" + std::to_string(std::random_device()())))
          .string();
  sim::StateStore store_;
  Rack rack_;
};

// Lines that the end-to-end runs never produce: the other naming's code, vendor inputs that are
// no header, an unknown request or I/O-control code, a run whose Index is not zero. A device that
// nobody serves is refused without a line.
TEST(RackTraffic, BothNamesReachOneModuleAndOddRequestsGetTheirLines) {
  sim::Scenario scenario;
  scenario.modules[0].naming = sim::Naming::kBoth;
  scenario.modules[0].slot = 2;
  Rack rack;
  std::string error;
  ASSERT_TRUE(rack.Build(scenario, sim::LookupEmbeddedImages(), &error)) << error;
  rack.PowerUp();
  EXPECT_EQ(rack.Serve("QDevUsb2", IOCTL_USB_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 7), {}).error,
            0u);
  EXPECT_FALSE(rack.ApplicationRunning(2));  // the module behind QDev2 is in its boot loader
  const sim::Reply refused[] = {
      rack.Serve("QDev2", IOCTL_VENDOR_REQUEST, Data(5), {}),
      rack.Serve("QDev2", IOCTL_VENDOR_REQUEST, Data(9), {}),
      rack.Serve("QDev2", IOCTL_VENDOR_REQUEST, Header(1, 0x10, 1, 2), Data(1)),
      rack.Serve("QDevUsb2", 0x220000, Header(1, 0x0E, 0, 0x9000), Data(4)),
      rack.Serve("QDev0", IOCTL_GET_DEVICE_INFO, {}, Data(80)),
  };
  for (const sim::Reply& reply : refused) {
    EXPECT_TRUE(reply.answered);
    EXPECT_EQ(reply.error, sim::kRefusedError);
  }
  EXPECT_EQ(rack.traffic().Lines(),
            (std::vector<std::string>{"QDevUsb2 ioctl=0x220012 dir=0 req=0x0F run value=0x3C00 "
                                      "index=0x0007 addr=0x83003C00 len=0 -> ok",
                                      "QDev2 ioctl=0x22003E in=5 len=0 -> refused",
                                      "QDev2 ioctl=0x22003E in=9 len=0 -> refused",
                                      "QDev2 ioctl=0x22003E dir=1 req=0x10 value=0x0001 "
                                      "index=0x0002 len=1 -> refused",
                                      "QDevUsb2 ioctl=0x220000 in=8 len=4 -> refused"}));
}

// Memory keeps the newest lines only. (The record's file and its time stamps are what the
// end-to-end cases read.)
TEST(RackTraffic, MemoryKeepsTheNewestLines) {
  sim::TrafficRecord record;
  record.SetLinesKept(2);
  for (const char* line : {"one", "two", "three"}) record.Add(line);
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{"two", "three"}));
  record.SetLinesKept(0);
  EXPECT_TRUE(record.Lines().empty());
}

// Each change writes its own bytes and nothing else: a byte of the file that differs from the
// memory (planted just after the range) survives, and the range is in the file once the request
// has been answered.
TEST_F(RackStateTest, ChangesReachTheFileInPlaceBeforeTheReply) {
  Build(&rack_, sim::Scenario(), false);
  const struct {
    uint32_t address;
    uint32_t size;     // bytes sent
    uint32_t changed;  // bytes that the module stores (fewer for a short write)
    bool poke;         // through Rack::Poke instead of a request
  } rows[] = {
      {0x83000100, 256, 256, false},
      {0x90002000, 4096, 100, false},
      {0x9003FF00, 16, 16, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address);
    const bool mcu = row.address >> 24 == 0x83;
    const std::string path = mcu ? store_.McuFlashPath(0) : store_.BootFlashPath(0);
    const uint32_t offset = row.address & 0xFFFFFF;
    std::vector<uint8_t> planted = mcu ? rack_.McuFlash(0) : rack_.BootFlash(0);
    planted[offset + row.changed] ^= 0x5A;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(planted.data()), planted.size());
    rack_.SetFaults(0, {});
    if (row.changed != row.size) {
      rack_.SetFaults(0, {MakeFault(sim::FaultAction::kShort, 0x0D, {}, 0, row.changed)});
    }
    const std::vector<uint8_t> data(row.size, static_cast<uint8_t>(row.changed));
    if (row.poke) {
      ASSERT_TRUE(rack_.Poke(0, row.address, data));
    } else {
      ASSERT_EQ(Write(&rack_, row.address, data).error, 0u);
    }
    std::vector<uint8_t> expected = mcu ? rack_.McuFlash(0) : rack_.BootFlash(0);
    ASSERT_EQ(expected[offset + row.changed - 1], static_cast<uint8_t>(row.changed));
    expected[offset + row.changed] = planted[offset + row.changed];
    const std::string file = sim_test::ReadFile(path);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()), expected);
  }
}

// The state folder stops taking changes while the simulator runs: the request whose change cannot
// be saved is refused like any other (ERROR_GEN_FAILURE, no bytes) and the memory keeps what the
// folder last took. These ways to break it work for a superuser too.
TEST_F(RackStateTest, ChangeThatCannotBeSavedIsRefusedAndTakenBack) {
  const std::function<void(const std::string& folder, const std::string& file)> breakings[] = {
      [](const std::string&, const std::string& file) {
        fs::remove(file);
        fs::create_directory(file);
      },
      [](const std::string&, const std::string& file) { fs::remove(file); },
      [](const std::string& folder, const std::string&) {
        fs::remove_all(folder);
        std::ofstream(folder) << 1;
      },
  };
  for (const auto& breakIt : breakings) {
    fs::remove_all(dir_);
    Rack rack;
    Build(&rack, sim::Scenario(), true);
    ASSERT_EQ(Write(&rack, 0x90000000, Data(4096)).error, 0u);
    const std::vector<uint8_t> kept = rack.BootFlash(0);

    breakIt(dir_, store_.BootFlashPath(0));
    const sim::Reply reply = Write(&rack, 0x90001000, std::vector<uint8_t>(4096, 0x22));
    EXPECT_TRUE(reply.answered);
    EXPECT_EQ(reply.error, sim::kRefusedError);
    EXPECT_EQ(reply.information, 0u);
    EXPECT_EQ(rack.BootFlash(0), kept);
    EXPECT_EQ(rack.traffic().Lines().back(),
              "QDev0 ioctl=0x22003E dir=0 req=0x0D write value=0x1000 index=0x9000 addr=0x90001000 "
              "len=4096 -> refused");
    EXPECT_FALSE(rack.Poke(0, 0x90002000, Data(16)));
    EXPECT_EQ(rack.BootFlash(0), kept);
    const std::string told = rack.TakeStoreError();
    EXPECT_NE(told.find(store_.BootFlashPath(0)), std::string::npos) << told;
    EXPECT_EQ(rack.TakeStoreError(), "");
  }
}

// A power loss stops every module at once; what was completed before it is in the folder for the
// next start, unless that start is a fresh one.
TEST_F(RackStateTest, PowerLossKeepsEveryCompletedWriteForTheNextStart) {
  sim::Scenario scenario;
  scenario.modules.resize(2);
  scenario.modules[1].slot = 1;
  sim::Scenario faulty = scenario;
  faulty.modules[0].faults = {MakeFault(sim::FaultAction::kPowerLoss, 0x0D, {}, 2)};
  Build(&rack_, faulty, false);
  ASSERT_EQ(Write(&rack_, 0x83000000, {0xAA, 0xBB}).error, 0u);
  const sim::Reply last = Write(&rack_, 0x90000000, {0x00});  // carried out and answered
  EXPECT_TRUE(last.answered && last.error == 0 && last.powerLost && rack_.PowerLost());
  EXPECT_FALSE(Write(&rack_, 0x83000002, {0xCC}).answered);
  EXPECT_FALSE(rack_.Serve("QDev1", IOCTL_GET_DEVICE_INFO, {}, Data(80)).answered);
  EXPECT_EQ(rack_.traffic().Lines().back(), "QDev0 power lost");
  for (bool fresh : {false, true}) {
    SCOPED_TRACE(fresh);
    Rack rack;
    Build(&rack, scenario, fresh);
    const std::vector<uint8_t> mcu = rack.McuFlash(0);
    EXPECT_EQ(mcu[1] == 0xBB && mcu[2] != 0xCC, !fresh);
    // The overwritten container header no longer configures the PLD after the power cycle.
    EXPECT_EQ(rack.PldConfigured(0), fresh);
    EXPECT_TRUE(rack.PldConfigured(1));
  }
}

}  // namespace
