// The module model. The simulated module answers requests: every request in both MCU modes,
// refused addresses and lengths, protected regions, the application switch, PLD reloads and
// faults. The rack routes by device name, gives the unusual requests their traffic lines, and
// keeps the state folder: changes reach its files in place before the reply, a change that cannot
// be saved is refused and taken back, and a power loss leaves the folder as after the last
// completed request. Scenario files: every refusal is one line that says where, and echoes the
// user's bytes escaped; numbers are decimal JSON numbers or "0x" and hexadecimal digits, up to the
// key's largest value. The fuzz targets check the rest on any input: which containers configure
// the PLD (container), how the folder's files are judged and that every traffic line reads back
// (state_folder), and that a scenario refusal is one line and no looser hexadecimal text passes
// (scenario).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "contract/driver_contract.h"
#include "sim/embedded_images.h"
#include "sim/module.h"
#include "sim/rack.h"
#include "sim/scenario_json.h"

namespace {

namespace fs = std::filesystem;
using sim::FaultAction;
using sim::Module;
using sim::ModuleConfig;
using sim::Outcome;
using sim::Rack;
using sim::Reply;

constexpr uint16_t kIn = 1, kOut = 0;
constexpr Outcome ok = Outcome::kOk, no = Outcome::kRefused;

// A vendor-request input buffer.
std::vector<uint8_t> Header(uint16_t direction, uint16_t code, uint16_t value, uint16_t index) {
  std::vector<uint8_t> h(driver_contract::kVendorRequestSize);
  driver_contract::EncodeVendorRequest({direction, code, value, index}, h.data());
  return h;
}

// A fault with the filters (and delay) given (brace-initialising one would have to spell out every
// member).
sim::Fault MakeFault(FaultAction action, std::optional<uint32_t> request = {},
                     std::optional<uint32_t> address = {}, uint32_t nth = 0,
                     std::optional<uint32_t> bytes = {}, uint32_t delayMs = 0) {
  return sim::Fault{action, request, address, nth, bytes, delayMs};
}

// A request on `code`: device information takes no input, anything else a vendor header.
Reply Send(Module& m, uint16_t dir, uint16_t request, uint16_t value, uint16_t index,
           std::vector<uint8_t> data, uint32_t code = IOCTL_VENDOR_REQUEST) {
  const std::vector<uint8_t> input =
      code == IOCTL_GET_DEVICE_INFO ? std::vector<uint8_t>() : Header(dir, request, value, index);
  const uint32_t length = static_cast<uint32_t>(data.size());
  return m.Handle(sim::DecodeRequest("QDev0", code, input, length), data, nullptr);
}
Reply Read(Module& m, uint32_t address, uint32_t size) {
  return Send(m, kIn, 0x0E, address & 0xFFFF, address >> 16, std::vector<uint8_t>(size));
}
Reply Write(Module& m, uint32_t address, std::vector<uint8_t> data) {
  return Send(m, kOut, 0x0D, address & 0xFFFF, address >> 16, std::move(data));
}
Outcome Plain(Module& m, uint16_t request, uint16_t value = 0) {  // run, reload, verify
  return OutcomeOf(Send(m, kOut, request, value, 0, {}));
}

// A powered-up module with its MCU in the boot loader.
Module BootLoaderModule(const ModuleConfig& config = ModuleConfig()) {
  Module m(config, sim::LookupEmbeddedImages());
  m.PowerUp();
  Plain(m, 0x0F, 0x3C00);
  return m;
}

// Each request in the boot loader and with the application running: the outcome, the bytes
// reported and the bytes returned.
TEST(ModuleRequests, EachRequestInBootLoaderAndApplicationMode) {
  struct Row {
    uint32_t dir, request, value, index, length;
    Outcome inBootLoader, inApplication;
    uint32_t code = IOCTL_VENDOR_REQUEST;
  };
  const uint32_t info = IOCTL_GET_DEVICE_INFO, usb = IOCTL_USB_VENDOR_REQUEST;
  const Row rows[] = {
      {kIn, 0x0B, 0, 0, 7, ok, ok},          {kIn, 0x0B, 0, 0, 7, ok, ok, usb},
      {kIn, 0x0B, 0, 0, 8, no, no},          {kOut, 0x0B, 0, 0, 7, no, no},
      {kIn, 0x06, 0, 0, 1, ok, ok},          {kIn, 0x0E, 0, 0x9000, 4096, ok, no},
      {kIn, 0x0E, 0, 0x9000, 4097, no, no},  {2, 0x0E, 0x3000, 0x8300, 256, no, no},
      {kOut, 0x0D, 0, 0x9000, 4096, ok, no}, {kIn, 0x0D, 0, 0x9000, 16, no, no},
      {kOut, 0x0F, 0x3C00, 0, 0, ok, ok},    {kOut, 0x0F, 0x0000, 1, 0, ok, ok},
      {kOut, 0x0F, 0x0004, 0, 0, no, no},    {kOut, 0x0F, 0x3C00, 0, 1, no, no},
      {kOut, 0x0C, 0, 0, 0, ok, no},         {kOut, 0x07, 0, 0, 0, ok, no},
      {kIn, 0x10, 0, 0, 1, no, no},          {kIn, 0x0B, 0, 0, 7, no, no, 0x220000},
      {kIn, 0, 0, 0, 80, ok, ok, info},      {kIn, 0, 0, 0, 79, no, no, info},
  };
  std::set<uint32_t> covered;  // every kind of the table has its rows here
  for (const Row& row : rows) {
    covered.insert(row.code == info ? sim::kDeviceInfoRequest : row.request);
    for (bool application : {false, true}) {
      SCOPED_TRACE(testing::Message() << "row " << &row - rows << " application " << application);
      Module m = BootLoaderModule();
      ASSERT_EQ(application ? Plain(m, 0x0F, 0x0000) : ok, ok);  // run the application
      const Reply r = Send(m, row.dir, row.request, row.value, row.index,
                           std::vector<uint8_t>(row.length, 0x5A), row.code);
      const bool done = (application ? row.inApplication : row.inBootLoader) == ok;
      EXPECT_EQ(OutcomeOf(r), done ? ok : no);
      EXPECT_EQ(r.information, done ? row.length : 0u);
      EXPECT_EQ(r.data.size(), done && row.dir == kIn ? row.length : 0u);
    }
  }
  for (const sim::RequestKind& kind : sim::RequestKinds()) {
    EXPECT_EQ(covered.count(kind.code), 1u) << kind.name << " has no row";
  }
}

// The application is present unless MCU flash word 0 is erased: one programmed byte of it is
// enough for the run request to start it.
TEST(ModuleRequests, ApplicationRunsUnlessWordZeroIsErased) {
  const std::pair<std::vector<uint8_t>, Outcome> rows[] = {
      {{0xFF, 0xFF}, no}, {{0xFF, 0x00}, ok}, {{0x00, 0xFF}, ok}};
  for (const auto& [word, outcome] : rows) {
    ModuleConfig config;
    config.application = sim::ApplicationKind::kNone;
    Module m = BootLoaderModule(config);
    ASSERT_EQ(OutcomeOf(Write(m, 0x83000000, word)), ok);
    EXPECT_EQ(Plain(m, 0x0F, 0x0000), outcome) << int{word[0]} << " " << int{word[1]};
  }
}

TEST(ModuleMemory, AddressesLengthsProtectionAndAliases) {
  struct Row {
    bool write;
    uint32_t address, size;
    Outcome outcome;
    char revision;
    std::optional<bool> aliases;
  };
  constexpr bool R = false, W = true;
  const Row rows[] = {
      {R, 0x83003FB0, 79, ok, 'C', {}},     {R, 0x83003FB0, 81, no, 'C', {}},
      {R, 0x83004000, 1, no, 'C', {}},      {R, 0x82FFFFFF, 2, no, 'C', {}},
      {R, 0x91003000, 256, ok, 'C', {}},    {R, 0x91003000, 256, ok, 'D', {}},
      {R, 0x91003000, 256, no, 'B', {}},    {R, 0x91003000, 256, no, 'A', {}},
      {R, 0x91003000, 256, no, 'C', false}, {R, 0x91001F00, 227, ok, 'A', true},
      {R, 0x8C000000, 1, ok, 'C', {}},      {R, 0x8C000000, 2, no, 'C', {}},
      {R, 0x8F000000, 512, ok, 'C', {}},    {R, 0x8F0001FF, 2, no, 'C', {}},
      {R, 0x9003FFFF, 1, ok, 'C', {}},      {R, 0x9003FFFF, 2, no, 'C', {}},
      {R, 0x84000000, 1, no, 'C', {}},      {R, 0xFFFFFFFF, 1, no, 'C', {}},
      {W, 0x83000000, 16, ok, 'C', {}},     {W, 0x83002FF0, 16, ok, 'C', {}},
      {W, 0x83002FF8, 16, no, 'C', {}},     {W, 0x83003000, 1, no, 'C', {}},
      {W, 0x83003C00, 1, no, 'C', {}},      {W, 0x83003FB0, 79, no, 'C', {}},
      {W, 0x91001D00, 512, ok, 'C', {}},    {W, 0x91001D00, 512, no, 'B', {}},
      {W, 0x83002D00, 512, ok, 'B', {}},    {W, 0x91003000, 1, no, 'C', {}},
      {W, 0x8C000000, 1, no, 'C', {}},      {W, 0x8F000000, 1, no, 'C', {}},
      {W, 0x90000000, 4096, ok, 'C', {}},   {W, 0x9003FFFF, 1, ok, 'C', {}},
      {W, 0x9003FFFF, 2, no, 'C', {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &row - rows);
    ModuleConfig c;
    c.revision = row.revision;
    c.aliases = row.aliases;
    Module m = BootLoaderModule(c);
    const std::vector<uint8_t> data(row.size, 0x3C), mcu = m.mcuFlash(), boot = m.bootFlash();
    const Reply r = row.write ? Write(m, row.address, data) : Read(m, row.address, row.size);
    EXPECT_EQ(OutcomeOf(r), row.outcome);
    if (!row.write) continue;
    std::vector<uint8_t> after;  // a refused write changes nothing at all
    EXPECT_TRUE(row.outcome == ok ? m.Peek(row.address, row.size, &after) && after == data
                                  : m.mcuFlash() == mcu && m.bootFlash() == boot);
  }
}

// Power-up and the reload request configure the PLD from boot flash alike. (The images and
// containers that the end-to-end cases start from are theirs.)
TEST(ModulePld, ConfiguresFromBootFlashAtPowerUpAndOnReload) {
  using K = sim::BootFlashKind;
  struct Row {
    K bootFlash;
    uint8_t grade;
    std::string text;  // empty: unconfigured; of kOtherImage, the one it is given
  };
  const Row rows[] = {
      {K::kGradeImage, 1, sim::kIndustrialPldText},
      {K::kCommercialImage, 1, sim::kCommercialPldText},
      {K::kIndustrialImage, 0, sim::kIndustrialPldText},
      {K::kOtherImage, 0, "<Version>{9.9.9x}"},
      {K::kBadHeader, 0, ""},
      {K::kBadSync, 0, ""},
  };
  for (const Row& row : rows) {
    for (bool atPowerUp : {true, false}) {
      SCOPED_TRACE(testing::Message() << "row " << &row - rows << " at power-up " << atPowerUp);
      ModuleConfig c;
      c.bootFlash = row.bootFlash;
      c.temperatureGrade = row.grade;
      c.configurePldAtPowerUp = atPowerUp;
      c.otherPldText = row.text;
      Module m = BootLoaderModule(c);
      // Otherwise unconfigured until the reload, which is answered whatever it finds.
      EXPECT_TRUE(atPowerUp || (!m.pldConfigured() && Plain(m, 0x0C) == ok));
      const bool configured = !row.text.empty();
      EXPECT_EQ(Plain(m, 0x07), configured ? ok : no);
      std::vector<uint8_t> padded(row.text.begin(), row.text.end());
      padded.resize(configured ? 512 : 0);  // zero-padded text, or a refused read
      EXPECT_EQ(Read(m, 0x8F000000, 512).data, padded);
      EXPECT_EQ(Read(m, 0x8C000000, 1).data, std::vector<uint8_t>{row.grade});
    }
  }
}

TEST(ModuleFaults, SelectedRequestsMisbehave) {
  using A = FaultAction;
  struct Step {
    uint32_t dir, request, value, index, length;
    Outcome outcome;
    uint32_t transferred, delayMs = 0;  // delayMs: the answer held back
  };
  struct Row {
    const char* what;
    std::vector<sim::Fault> faults;
    std::vector<Step> steps;
    uint32_t latencyMs = 0;  // the module's
  };
  const Outcome shorter = Outcome::kShort;
  const Step name{kIn, 0x0B, 0, 0, 7, ok, 7}, nameShort{kIn, 0x0B, 0, 0, 7, shorter, 6};
  const Row rows[] = {
      {"a request and an address filter select together",
       {MakeFault(A::kFail, 0x0E, 0x90000000)},
       {{kIn, 0x0E, 0, 0x9000, 4, no, 0},
        {kOut, 0x0D, 0, 0x9000, 4, ok, 4},
        {kIn, 0x0E, 4, 0x9000, 4, ok, 4}}},
      {"an address filter looks at the whole range",
       {MakeFault(A::kFail, {}, 0x90001000)},
       {{kIn, 0x0E, 0x0000, 0x9000, 4096, ok, 4096},
        {kIn, 0x0E, 0x0FFF, 0x9000, 2, no, 0},
        {kOut, 0x0D, 0x1000, 0x9000, 1, no, 0}}},
      {"an address filter passes over requests without an address",
       {MakeFault(A::kFail, {}, 0x00000000)},
       {name, {kOut, 0x0F, 0x0000, 0, 0, ok, 0}}},
      {"run carries the MCU flash address it runs from",
       {MakeFault(A::kNoAnswer, {}, 0x83003C00)},
       {{kOut, 0x0F, 0x3C00, 0, 0, Outcome::kNoAnswer, 0}, {kOut, 0x0F, 0x0000, 0, 0, ok, 0}}},
      {"a request code that no module knows is still selected by its number",
       {MakeFault(A::kNoAnswer, 0x10)},
       {{kIn, 0x10, 0, 0, 1, Outcome::kNoAnswer, 0}, name}},
      {"short cannot shorten nothing", {MakeFault(A::kShort)}, {{kOut, 0x07, 0, 0, 0, ok, 0}}},
      {"short stays refused", {MakeFault(A::kShort)}, {{kIn, 0x0E, 0, 0x8400, 8, no, 0}}},
      {"each fault counts its own requests; the first that fires decides",
       {MakeFault(A::kFail, 0x0E, {}, 2), MakeFault(A::kNoAnswer, {}, {}, 3),
        MakeFault(A::kShort, 0x0B)},
       {nameShort, {kIn, 0x0E, 0, 0x9000, 4, ok, 4}, {kIn, 0x0E, 0, 0x9000, 4, no, 0}, nameShort}},
      {"a delay holds back a refusal too",
       {MakeFault(A::kDelay, 0x0E, {}, 0, {}, 4999)},
       {{kIn, 0x0E, 0, 0x8400, 8, no, 0, 4999}}},
      {"latency holds back every answer; a delay's time replaces it; no answer has none",
       {MakeFault(A::kDelay, 0x06), MakeFault(A::kNoAnswer, 0x07)},
       {{kIn, 0x0B, 0, 0, 7, ok, 7, 40},
        {kIn, 0x06, 0, 0, 1, ok, 1, 0},
        {kOut, 0x07, 0, 0, 0, Outcome::kNoAnswer, 0, 0},
        {kIn, 0x0E, 0, 0x8400, 8, no, 0, 40}},
       40},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ModuleConfig config;
    config.latencyMs = row.latencyMs;
    Module m = BootLoaderModule(config);
    m.SetFaults(row.faults);  // counts from here, after the helper's own request
    for (size_t i = 0; i < row.steps.size(); ++i) {
      const Step& s = row.steps[i];
      SCOPED_TRACE(i);
      const Reply r = Send(m, s.dir, s.request, s.value, s.index, std::vector<uint8_t>(s.length));
      EXPECT_EQ(OutcomeOf(r), s.outcome);
      EXPECT_EQ(r.information, s.transferred);
      EXPECT_EQ(r.delayMs, s.delayMs);
      EXPECT_EQ(r.data.size(), s.dir == kIn ? s.transferred : 0u);
    }
  }
}

TEST(ModuleFaults, WritesStoreWhatTheyReportAndCountersRestartAtPowerUp) {
  ModuleConfig c;
  c.faults = {MakeFault(FaultAction::kFail, 0x0D, {}, 2),
              MakeFault(FaultAction::kShort, 0x0D, {}, 0, 2)};
  Module m = BootLoaderModule(c);
  std::vector<uint8_t> bytes;
  for (const uint8_t b : {1, 2}) {
    SCOPED_TRACE(int{b});
    EXPECT_EQ(Write(m, 0x90030000, {b, b, b, b}).information, 2u);  // short: stores two bytes
    EXPECT_EQ(OutcomeOf(Write(m, 0x90030000, {9, 9, 9, 9})), no);   // failed: stores nothing
    EXPECT_TRUE(m.Peek(0x90030000, 4, &bytes) && bytes == std::vector<uint8_t>({b, b, 0xFF, 0xFF}));
    m.PowerUp();
    Plain(m, 0x0F, 0x3C00);
  }
}

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
  ~RackStateTest() override { fs::remove_all(dir_, ignored_); }
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
  std::error_code ignored_;  // a folder left behind is no reason to fail a test
  sim::StateStore store_;
  Rack rack_;
};

// Lines that the end-to-end runs never produce: the other naming's code, vendor inputs that are
// no header, an unknown request or I/O-control code, a run whose Index is not zero. A device that
// nobody serves is refused without a line.
TEST_F(RackStateTest, BothNamesReachOneModuleAndOddRequestsGetTheirLines) {
  sim::Scenario scenario;
  scenario.modules[0].naming = sim::Naming::kBoth;
  scenario.modules[0].slot = 2;
  Build(&rack_, scenario, true);  // its request to run the boot loader finds no QDev0
  EXPECT_EQ(rack_.Serve("QDevUsb2", IOCTL_USB_VENDOR_REQUEST, Header(0, 0x0F, 0x3C00, 7), {}).error,
            0u);
  EXPECT_FALSE(rack_.ApplicationRunning(2));  // the module behind QDev2 is in its boot loader
  const sim::Reply refused[] = {
      rack_.Serve("QDev2", IOCTL_VENDOR_REQUEST, Data(5), {}),
      rack_.Serve("QDev2", IOCTL_VENDOR_REQUEST, Data(9), {}),
      rack_.Serve("QDev2", IOCTL_VENDOR_REQUEST, Header(1, 0x10, 1, 2), Data(1)),
      rack_.Serve("QDevUsb2", 0x220000, Header(1, 0x0E, 0, 0x9000), Data(4)),
      rack_.Serve("QDev0", IOCTL_GET_DEVICE_INFO, {}, Data(80)),
  };
  for (const sim::Reply& reply : refused)
    EXPECT_TRUE(reply.answered && reply.error == sim::kRefusedError);
  EXPECT_EQ(rack_.traffic().Lines(),
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
  const struct {  // bytes sent, bytes stored (fewer for a short write); poke: not a request
    uint32_t address, size, changed;
    bool poke;
  } rows[] = {
      {0x83000100, 256, 256, false},
      {0x90002000, 4096, 100, false},
      {0x9003FFF0, 16, 16, true},  // to the memory's last byte
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address);
    const bool mcu = row.address >> 24 == 0x83;
    const std::string path = mcu ? store_.McuFlashPath(0) : store_.BootFlashPath(0);
    const uint32_t offset = row.address & 0xFFFFFF;
    std::vector<uint8_t> planted = mcu ? rack_.McuFlash(0) : rack_.BootFlash(0);
    const size_t after = offset + row.changed;  // the first byte left alone, if any
    if (after < planted.size()) planted[after] ^= 0x5A;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(planted.data()), planted.size());
    rack_.SetFaults(0, {});
    if (row.changed != row.size) {
      rack_.SetFaults(0, {MakeFault(sim::FaultAction::kShort, 0x0D, {}, 0, row.changed)});
    }
    const std::vector<uint8_t> data(row.size, static_cast<uint8_t>(row.changed));
    ASSERT_TRUE(row.poke ? rack_.Poke(0, row.address, data)
                         : Write(&rack_, row.address, data).error == 0);
    std::vector<uint8_t> expected = mcu ? rack_.McuFlash(0) : rack_.BootFlash(0);
    ASSERT_EQ(expected[offset + row.changed - 1], static_cast<uint8_t>(row.changed));
    if (after < expected.size()) expected[after] = planted[after];
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}), expected);
  }
}

// The state folder stops taking changes while the simulator runs: the request whose change cannot
// be saved is refused like any other (ERROR_GEN_FAILURE, no bytes) and the memory keeps what the
// folder last took. These ways to break it work for a superuser too.
TEST_F(RackStateTest, ChangeThatCannotBeSavedIsRefusedAndTakenBack) {
  for (int way = 0; way < 3; ++way) {  // a folder, nothing, or the folder a file
    SCOPED_TRACE(way);
    fs::remove_all(dir_);
    Rack rack;
    Build(&rack, sim::Scenario(), true);
    ASSERT_EQ(Write(&rack, 0x90000000, Data(4096)).error, 0u);
    const std::vector<uint8_t> kept = rack.BootFlash(0);

    if (way < 2) fs::remove(store_.BootFlashPath(0));
    if (way == 0) fs::create_directory(store_.BootFlashPath(0));
    if (way == 2) fs::remove_all(dir_);
    if (way == 2) std::ofstream(dir_) << 1;
    const sim::Reply reply = Write(&rack, 0x90001000, std::vector<uint8_t>(4096, 0x22));
    EXPECT_TRUE(reply.answered && reply.error == sim::kRefusedError && reply.information == 0);
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
    EXPECT_EQ(rack.McuFlash(0)[1] == 0xBB && rack.McuFlash(0)[2] != 0xCC, !fresh);
    // The overwritten container header no longer configures the PLD after the power cycle.
    EXPECT_EQ(rack.PldConfigured(0), fresh);
    EXPECT_TRUE(rack.PldConfigured(1));
  }
}

TEST(ScenarioJson, RefusalsSayWhereAndNumbersAreDecimalOrHexadecimal) {
  const auto nested = [](int levels) {
    return R"({"comment":)" + std::string(levels, '[') + std::string(levels, ']') + "}";
  };
  const std::string requests =
      " (a request code, or one of modelName, usbSpeed, read, write, run, reloadPld, verifyPld, "
      "deviceInfo)";
  const struct {
    std::string text;
    std::string error;  // empty: accepted, with this type code
    uint32_t typeCode = 0;
  } rows[] = {
      {R"({"modules":[{"typeCode":32}]})", "", 32},
      {R"({"modules":[{"typeCode":"0x20"}]})", "", 32},
      {R"({"modules":[{"typeCode":"0X1f"}]})", "", 31},
      {R"({"modules":[{"typeCode":"0x0000000000000000ffffffff"}]})", "", 0xFFFFFFFF},
      {"{x", "malformed JSON at line 1, column 2"},
      {"[]", "must be a JSON object"},
      {R"({"modules":[{"slot":70000}]})", "modules[0].slot: must be an integer 0..65535"},
      {R"({"modules":[{"naming":"qdev"}]})",
       "modules[0].naming: unknown value \"qdev\" (one of QDev, QDevUsb, both)"},
      {R"({"modules":[{},{}]})", "modules[1].slot 0 is taken by an earlier module"},
      {R"({"modules":[{"faults":[{"request":"read"}]}]})",
       "modules[0].faults[0]: a fault needs an action"},
      {R"({"modules":[{"faults":[{"action":"fail","request":"erase"}]}]})",
       "modules[0].faults[0].request: unknown request \"erase\"" + requests},
      {R"({"modules":[{"faults":[{"action":"fail","comment":{}}]}]})",
       "modules[0].faults[0].comment: must be a text"},
      {nested(32), "comment: must be a text"},
      {nested(33), "nested deeper than 32 levels at line 1, column 44"},
      {nested(100000), "nested deeper than 32 levels at line 1, column 44"},
      // a key one or two edits from a known one is most likely that one
      {R"({"modules":[{"faults":[{"action":"fail","nht":1}]}]})",
       "unknown key modules[0].faults[0].nht (did you mean nth?)"},
      {R"({"modules":[{"sl":1}]})", "unknown key modules[0].sl"},
      {"{\n  \"modules\": [\n    {\"slot\": 1e400}]}", "number out of range at line 3, column 14"},
      {"{\"modules\":[{\"faults\":[{\"action\":\"fail\",\"request\":\"r\\u00e9ad\"}]}]}",
       "modules[0].faults[0].request: unknown request \"r\\xC3\\xA9ad\"" + requests},
      {R"({"modules":[{"typeCode":"0x100000000"}]})",
       "modules[0].typeCode: must be an integer 0..4294967295"},
  };
  for (const auto& row : rows) {
    sim::Scenario scenario;
    std::string error;
    EXPECT_EQ(sim::ParseScenario(row.text, &scenario, &error), row.error.empty()) << row.text;
    EXPECT_EQ(error, row.error.empty() ? "" : "scenario: " + row.error) << row.text;
    EXPECT_EQ(row.error.empty() ? scenario.modules[0].typeCode : 0u, row.typeCode) << row.text;
  }
}

}  // namespace
