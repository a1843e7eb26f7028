// The rack: routing by device name, traffic lines of the unusual requests and their reading back,
// and the state folder: changes reach their files in place before the reply, a change that cannot
// be saved is refused and taken back, and a power loss leaves the folder as after the last
// completed request.
#include "sim/rack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>

#include "contract/driver_contract.h"
#include "sim/testing/test_images.h"
#include "sim/testing/traffic_parse.h"

namespace {

using sim::Rack;
using sim_test::Header;
using sim_test::MakeFault;

namespace fs = std::filesystem;

std::vector<uint8_t> Data(size_t n) {
  return std::vector<uint8_t>(n, 0x11);
}

// A state folder of its own, removed with the object.
class TempStateDir {
 public:
  TempStateDir()
      : path_(fs::temp_directory_path() /
              ("sim-test-state-" + std::to_string(std::random_device()()))) {}
  ~TempStateDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
};

bool Attach(Rack* rack, const sim::StateStore& store, bool fresh, std::string* error) {
  std::vector<sim::SavedMemories> saved;
  return rack->ReadStore(store, fresh, &saved, error) && rack->AttachStore(store, saved, error);
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  const std::string text = sim_test::ReadFile(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

sim::Reply Write(Rack* rack, uint32_t address, std::vector<uint8_t> data) {
  return rack->Serve("QDev0", IOCTL_VENDOR_REQUEST,
                     Header(0, 0x0D, address & 0xFFFF, address >> 16), data);
}

// One module in slot 0 in its boot loader, its memories kept in a fresh state folder.
class RackStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Open(dir_.path(), &error)) << error;
    ASSERT_TRUE(rack_.Build(sim::Scenario(), sim_test::TestImages(), &error)) << error;
    ASSERT_TRUE(Attach(&rack_, store_, false, &error)) << error;
    rack_.PowerUp();
    rack_.Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {});
  }

  TempStateDir dir_;
  sim::StateStore store_;
  Rack rack_;
};

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
  const sim::Reply refused[] = {
      rack.Serve("QDev2", IOCTL_VENDOR_REQUEST, Data(5), {}),
      rack.Serve("QDevUsb2", 0x220000, {}, Data(4)),
      rack.Serve("QDev0", IOCTL_GET_DEVICE_INFO, {}, Data(80)),
  };
  for (const sim::Reply& reply : refused) {
    EXPECT_TRUE(reply.answered);
    EXPECT_EQ(reply.error, sim::kRefusedError);
  }
  EXPECT_EQ(rack.traffic().Lines(),
            (std::vector<std::string>{"QDevUsb2 ioctl=0x220012 dir=0 req=0x0F run value=0x3C00 "
                                      "index=0x0000 addr=0x83003C00 len=0 -> ok",
                                      "QDev2 ioctl=0x22003E in=5 len=0 -> refused",
                                      "QDevUsb2 ioctl=0x220000 len=4 -> refused"}));
}

// Every form of traffic line reads back into the entry that wrote it, its request decoded as the
// simulator decodes one, with or without the time stamp of the record's file; anything else,
// forms that the simulator never writes among them, does not.
TEST(RackTraffic, LinesReadBackIntoTheirEntries) {
  const struct {
    const char* line;
    uint32_t code;
    std::optional<uint32_t> address;
    uint32_t length;
    uint32_t delayMs;
  } rows[] = {
      {"QDev0 ioctl=0x22003E dir=1 req=0x0E read value=0x3000 index=0x9100 addr=0x91003000 "
       "len=256 -> ok",
       0x0E, 0x91003000, 256, 0},
      {"QDev5 ioctl=0x22003E dir=0 req=0x0D write value=0xD000 index=0x9001 addr=0x9001D000 "
       "len=3695 -> refused after 7 ms",
       0x0D, 0x9001D000, 3695, 7},
      {"QDevUsb2 ioctl=0x220012 dir=1 req=0x0B modelName value=0x0000 index=0x0000 len=7 -> "
       "short 3 after 4000 ms",
       0x0B,
       {},
       7,
       4000},
      {"QDev0 ioctl=0x22003E dir=0 req=0x0F run value=0x3C00 index=0x0000 addr=0x83003C00 len=0 "
       "-> no answer",
       0x0F, 0x83003C00, 0, 0},
      {"QDev0 ioctl=0x22003E dir=1 req=0x10 value=0x0001 index=0x0002 len=1 -> refused",
       0x10,
       {},
       1,
       0},
      {"QDev0 ioctl=0x22005E deviceInfo len=80 -> ok", sim::kDeviceInfoRequest, {}, 80, 0},
      {"[      0 ms] QDev0 ioctl=0x22005E deviceInfo in=8 len=80 -> ok after 1 ms",
       sim::kDeviceInfoRequest,
       {},
       80,
       1},
      {"[1234567 ms] QDev2 ioctl=0x22003E in=5 len=0 -> refused", sim::kNoRequest, {}, 0, 0},
      {"QDev2 ioctl=0x220000 len=4 -> refused", sim::kNoRequest, {}, 4, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    sim::TrafficEntry entry;
    ASSERT_TRUE(sim::ParseTrafficLine(row.line, &entry));
    EXPECT_EQ(sim::FormatTrafficLine(entry), sim::WithoutTimeStamp(row.line));
    EXPECT_EQ(entry.request.code, row.code);
    EXPECT_EQ(entry.request.address, row.address);
    EXPECT_EQ(entry.request.length, row.length);
    EXPECT_EQ(entry.delayMs, row.delayMs);
  }
  sim::TrafficEntry entry;
  for (const char* other : {
           "QDev0 power lost",
           "[     12 ms] QDev0 power lost",
           "",
           "QDev0 ioctl=0x22005E deviceInfo len=80 -> ok ",
           "QDev0 ioctl=0x22005E deviceInfo len=80 -> maybe",
           "QDev0 ioctl=0x22005E len=80 -> ok",  // no name
           "QDev0 ioctl=0x22003E dir=1 req=0x0E write value=0x3000 index=0x9100 addr=0x91003000 "
           "len=256 -> ok",  // another kind's name
           "QDev0 ioctl=0x22003E dir=1 req=0x0E read value=0x3000 index=0x9100 len=256 -> ok",
           "QDev0 ioctl=0x22003E dir=1 req=0x0E read value=0x3000 index=0x9100 addr=0x91003001 "
           "len=256 -> ok",
           "QDev0 ioctl=0x22003E dir=1 req=0x0E read len=256 -> ok",
           "QDev0 ioctl=0x22003E in=8 len=0 -> ok",
           "QDev0 ioctl=0x22005E dir=1 req=0x0E read value=0x0000 index=0x0000 addr=0x00000000 "
           "len=80 -> ok",
           "QDev0 ioctl=0x22005E deviceInfo len=80 -> no answer after 5 ms",
           "QDev0 ioctl=0x22005E deviceInfo len=80 -> ok after 0 ms",
           "[12 ms]QDev0 ioctl=0x22005E deviceInfo len=80 -> ok",
       }) {
    EXPECT_FALSE(sim::ParseTrafficLine(other, &entry)) << other;
  }
}

// The record's file carries each line behind its time stamp; memory keeps the newest lines only,
// without time stamps.
TEST(RackTraffic, FileLinesHaveTimeStampsAndMemoryKeepsTheNewest) {
  TempStateDir folder;
  fs::create_directories(folder.path());
  const std::string path = folder.path() + "/traffic";
  sim::TrafficRecord record;
  std::string error;
  ASSERT_TRUE(record.OpenFile(path, &error)) << error;
  record.SetLinesKept(2);
  for (const char* line : {"one", "two", "three"}) record.Add(line);
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{"two", "three"}));
  std::istringstream file(sim_test::ReadFile(path));
  std::string line;
  for (const char* expected : {"one", "two", "three"}) {
    ASSERT_TRUE(std::getline(file, line));
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a text file, on Windows
    EXPECT_EQ(sim::WithoutTimeStamp(line), expected);
    EXPECT_EQ(line.substr(0, 5), "[    ");
    EXPECT_EQ(line.substr(line.size() - std::string(expected).size() - 5, 5), " ms] ");
  }
  record.SetLinesKept(0);
  EXPECT_TRUE(record.Lines().empty());
}

// Each change writes its own bytes and nothing else: a byte of the file that differs from the
// memory (planted just after the range) survives, and the range is in the file once the request
// has been answered.
TEST_F(RackStateTest, ChangesReachTheFileInPlaceBeforeTheReply) {
  const struct {
    const char* name;
    uint32_t address;
    uint32_t size;     // bytes sent
    uint32_t changed;  // bytes that the module stores (fewer for a short write)
    bool poke;         // through Rack::Poke instead of a request
  } rows[] = {
      {"McuFlashWrite", 0x83000100, 256, 256, false},
      {"BootFlashBlock", 0x90001000, 4096, 4096, false},
      {"ShortWrite", 0x90002000, 4096, 100, false},
      {"Poke", 0x9003FF00, 16, 16, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const bool mcu = row.address >> 24 == 0x83;
    const std::string path = mcu ? store_.McuFlashPath(0) : store_.BootFlashPath(0);
    const uint32_t offset = row.address & 0xFFFFFF;
    std::vector<uint8_t> planted = mcu ? rack_.McuFlash(0) : rack_.BootFlash(0);
    planted[offset + row.changed] ^= 0x5A;
    WriteFileBytes(path, planted);
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
    EXPECT_EQ(FileBytes(path), expected);
  }
}

// The state folder stops taking changes while the simulator runs: the request whose change cannot
// be saved is refused like any other (ERROR_GEN_FAILURE, no bytes) and the memory keeps what the
// folder last took. These ways to break it work for a superuser too.
TEST_F(RackStateTest, ChangeThatCannotBeSavedIsRefusedAndTakenBack) {
  const struct {
    const char* name;
    std::function<void(const std::string& folder, const std::string& file)> breakIt;
  } rows[] = {
      {"FileReplacedByFolder",
       [](const std::string&, const std::string& file) {
         fs::remove(file);
         fs::create_directory(file);
       }},
      {"FileRemoved", [](const std::string&, const std::string& file) { fs::remove(file); }},
      {"FolderReplacedByFile",
       [](const std::string& folder, const std::string&) {
         fs::remove_all(folder);
         WriteFileBytes(folder, {1});
       }},
  };
  std::string error;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(dir_.path());
    ASSERT_TRUE(store_.Open(dir_.path(), &error)) << error;
    ASSERT_TRUE(Attach(&rack_, store_, true, &error)) << error;
    ASSERT_EQ(Write(&rack_, 0x90000000, Data(4096)).error, 0u);
    const std::vector<uint8_t> kept = rack_.BootFlash(0);

    row.breakIt(dir_.path(), store_.BootFlashPath(0));
    const sim::Reply reply = Write(&rack_, 0x90001000, std::vector<uint8_t>(4096, 0x22));
    EXPECT_TRUE(reply.answered);
    EXPECT_EQ(reply.error, sim::kRefusedError);
    EXPECT_EQ(reply.information, 0u);
    EXPECT_EQ(rack_.BootFlash(0), kept);
    EXPECT_EQ(rack_.traffic().Lines().back(),
              "QDev0 ioctl=0x22003E dir=0 req=0x0D write value=0x1000 index=0x9000 addr=0x90001000 "
              "len=4096 -> refused");
    EXPECT_FALSE(rack_.Poke(0, 0x90002000, Data(16)));
    EXPECT_EQ(rack_.BootFlash(0), kept);
    const std::string told = rack_.TakeStoreError();
    EXPECT_NE(told.find(store_.BootFlashPath(0)), std::string::npos) << told;
    EXPECT_EQ(rack_.TakeStoreError(), "");
    fs::remove_all(dir_.path());
  }
}

TEST(RackState, PowerLossKeepsEveryCompletedWriteForTheNextStart) {
  TempStateDir folder;
  sim::StateStore store;
  std::string error;
  ASSERT_TRUE(store.Open(folder.path(), &error)) << error;
  sim::Scenario scenario;
  scenario.modules.resize(2);
  scenario.modules[1].slot = 1;
  {
    sim::Scenario faulty = scenario;
    faulty.modules[0].faults = {MakeFault(sim::FaultAction::kPowerLoss, 0x0D, {}, 2)};
    Rack rack;
    ASSERT_TRUE(rack.Build(faulty, sim_test::TestImages(), &error));
    ASSERT_TRUE(Attach(&rack, store, false, &error)) << error;
    rack.PowerUp();
    const auto write = [&rack](uint32_t address, std::vector<uint8_t> data) {
      return rack.Serve("QDev0", IOCTL_VENDOR_REQUEST,
                        Header(0, 0x0D, address & 0xFFFF, address >> 16), data);
    };
    rack.Serve("QDev0", IOCTL_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 0), {});
    ASSERT_EQ(write(0x83000000, {0xAA, 0xBB}).error, 0u);
    const sim::Reply last = write(0x90000000, {0x00});  // carried out and answered
    EXPECT_TRUE(last.answered && last.error == 0 && last.powerLost && rack.PowerLost());
    EXPECT_FALSE(write(0x83000002, {0xCC}).answered);
    EXPECT_FALSE(rack.Serve("QDev1", IOCTL_GET_DEVICE_INFO, {}, Data(80)).answered);
    EXPECT_EQ(rack.traffic().Lines().back(), "QDev0 power lost");
  }
  for (bool fresh : {false, true}) {
    SCOPED_TRACE(fresh);
    Rack rack;
    ASSERT_TRUE(rack.Build(scenario, sim_test::TestImages(), &error));
    ASSERT_TRUE(Attach(&rack, store, fresh, &error)) << error;
    rack.PowerUp();
    const std::vector<uint8_t> mcu = rack.McuFlash(0);
    EXPECT_EQ(mcu[1] == 0xBB && mcu[2] != 0xCC, !fresh);
    // The overwritten container header no longer configures the PLD after the power cycle.
    EXPECT_EQ(rack.PldConfigured(0), fresh);
    EXPECT_TRUE(rack.PldConfigured(1));
  }
}

}  // namespace
