// The simulated module answering requests: every request in both MCU modes, refused addresses and
// lengths, protected regions, the application switch, PLD reloads and faults. Which containers
// configure the PLD, beyond those that a scenario can put in boot flash, is the container fuzz
// target's to check.
#include "sim/module.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "contract/driver_contract.h"
#include "sim/embedded_images.h"
#include "sim/testing/test_helpers.h"

namespace {

using sim::FaultAction;
using sim::Module;
using sim::ModuleConfig;
using sim::Outcome;
using sim::Reply;
using sim_test::MakeFault;

constexpr uint16_t kIn = 1, kOut = 0;
constexpr Outcome ok = Outcome::kOk, no = Outcome::kRefused;

// A request on `code`: device information takes no input, anything else a vendor header.
Reply Send(Module& m, uint16_t dir, uint16_t request, uint16_t value, uint16_t index,
           std::vector<uint8_t> data, uint32_t code = IOCTL_VENDOR_REQUEST) {
  const std::vector<uint8_t> input = code == IOCTL_GET_DEVICE_INFO
                                         ? std::vector<uint8_t>()
                                         : sim_test::Header(dir, request, value, index);
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

TEST(ModuleRequests, EachRequestInBootLoaderAndApplicationMode) {
  struct Row {
    const char* what;
    uint16_t dir, request, value, index;
    uint32_t length;
    Outcome inBootLoader, inApplication;
    uint32_t code = IOCTL_VENDOR_REQUEST;
  };
  const Row rows[] = {
      {"model name", kIn, 0x0B, 0, 0, 7, ok, ok},
      {"model name, other naming's code", kIn, 0x0B, 0, 0, 7, ok, ok, IOCTL_USB_VENDOR_REQUEST},
      {"model name, 8 bytes", kIn, 0x0B, 0, 0, 8, no, no},
      {"model name, wrong direction", kOut, 0x0B, 0, 0, 7, no, no},
      {"usb speed", kIn, 0x06, 0, 0, 1, ok, ok},
      {"read, 4096 bytes", kIn, 0x0E, 0x0000, 0x9000, 4096, ok, no},
      {"read, 4097 bytes", kIn, 0x0E, 0x0000, 0x9000, 4097, no, no},
      {"read, direction 2", 2, 0x0E, 0x3000, 0x8300, 256, no, no},
      {"write", kOut, 0x0D, 0x0000, 0x9000, 4096, ok, no},
      {"write, wrong direction", kIn, 0x0D, 0x0000, 0x9000, 16, no, no},
      {"run boot loader", kOut, 0x0F, 0x3C00, 0, 0, ok, ok},
      {"run application", kOut, 0x0F, 0x0000, 1, 0, ok, ok},
      {"run elsewhere", kOut, 0x0F, 0x0004, 0, 0, no, no},
      {"run with data", kOut, 0x0F, 0x3C00, 0, 1, no, no},
      {"reload PLD", kOut, 0x0C, 0, 0, 0, ok, no},
      {"verify PLD", kOut, 0x07, 0, 0, 0, ok, no},
      {"unknown request", kIn, 0x10, 0, 0, 1, no, no},
      {"unknown I/O-control code", kIn, 0x0B, 0, 0, 7, no, no, 0x220000},
      {"device information", kIn, 0, 0, 0, 80, ok, ok, IOCTL_GET_DEVICE_INFO},
      {"device information, 79 bytes", kIn, 0, 0, 0, 79, no, no, IOCTL_GET_DEVICE_INFO},
  };
  std::set<uint32_t> covered;  // every kind of the table has its rows here
  for (const Row& row : rows) {
    covered.insert(row.code == IOCTL_GET_DEVICE_INFO ? sim::kDeviceInfoRequest : row.request);
    for (bool application : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (application ? " (application)" : " (boot loader)"));
      Module m = BootLoaderModule();
      ASSERT_EQ(application ? Plain(m, 0x0F, 0x0000) : ok, ok);  // run the application
      const Reply r = Send(m, row.dir, row.request, row.value, row.index,
                           std::vector<uint8_t>(row.length, 0x5A), row.code);
      const Outcome expected = application ? row.inApplication : row.inBootLoader;
      EXPECT_EQ(OutcomeOf(r), expected);
      EXPECT_EQ(r.information, expected == ok ? row.length : 0u);
      EXPECT_EQ(r.data.size(), expected == ok && row.dir == kIn ? row.length : 0u);
    }
  }
  for (const sim::RequestKind& kind : sim::RequestKinds()) {
    EXPECT_EQ(covered.count(kind.code), 1u) << kind.name << " has no row";
  }
}

TEST(ModuleMemory, AddressesLengthsProtectionAndAliases) {
  struct Row {
    bool write;
    uint32_t address, size;
    char revision;
    std::optional<bool> aliases;
    bool accepted;
  };
  const Row rows[] = {
      {false, 0x83003FB0, 79, 'C', {}, true},      {false, 0x83003FB0, 81, 'C', {}, false},
      {false, 0x83004000, 1, 'C', {}, false},      {false, 0x82FFFFFF, 2, 'C', {}, false},
      {false, 0x91003000, 256, 'C', {}, true},     {false, 0x91003000, 256, 'D', {}, true},
      {false, 0x91003000, 256, 'B', {}, false},    {false, 0x91003000, 256, 'A', {}, false},
      {false, 0x91003000, 256, 'C', false, false}, {false, 0x91001F00, 227, 'A', true, true},
      {false, 0x8C000000, 1, 'C', {}, true},       {false, 0x8C000000, 2, 'C', {}, false},
      {false, 0x8F000000, 512, 'C', {}, true},     {false, 0x8F0001FF, 2, 'C', {}, false},
      {false, 0x9003FFFF, 1, 'C', {}, true},       {false, 0x9003FFFF, 2, 'C', {}, false},
      {false, 0x84000000, 1, 'C', {}, false},      {false, 0xFFFFFFFF, 1, 'C', {}, false},
      {true, 0x83000000, 16, 'C', {}, true},       {true, 0x83002FF0, 16, 'C', {}, true},
      {true, 0x83002FF8, 16, 'C', {}, false},      {true, 0x83003000, 1, 'C', {}, false},
      {true, 0x83003C00, 1, 'C', {}, false},       {true, 0x83003FB0, 79, 'C', {}, false},
      {true, 0x91001D00, 512, 'C', {}, true},      {true, 0x91001D00, 512, 'B', {}, false},
      {true, 0x83002D00, 512, 'B', {}, true},      {true, 0x91003000, 1, 'C', {}, false},
      {true, 0x8C000000, 1, 'C', {}, false},       {true, 0x8F000000, 1, 'C', {}, false},
      {true, 0x90000000, 4096, 'C', {}, true},     {true, 0x9003FFFF, 1, 'C', {}, true},
      {true, 0x9003FFFF, 2, 'C', {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << (row.write ? "write " : "read ") << std::hex << row.address
                                    << std::dec << " +" << row.size << " rev " << row.revision);
    ModuleConfig c;
    c.revision = row.revision;
    c.aliases = row.aliases;
    Module m = BootLoaderModule(c);
    const std::vector<uint8_t> data(row.size, 0x3C), mcu = m.mcuFlash(), boot = m.bootFlash();
    const Reply r = row.write ? Write(m, row.address, data) : Read(m, row.address, row.size);
    EXPECT_EQ(OutcomeOf(r), row.accepted ? ok : no);
    if (!row.write) continue;
    std::vector<uint8_t> after;
    if (row.accepted) {
      ASSERT_TRUE(m.Peek(row.address, row.size, &after));
      EXPECT_EQ(after, data);
    } else {
      EXPECT_EQ(m.mcuFlash(), mcu);  // a refused write changes nothing at all
      EXPECT_EQ(m.bootFlash(), boot);
    }
  }
}

// Power-up and the reload request configure the PLD from boot flash alike. (The images and
// containers that the end-to-end cases start from are theirs.)
TEST(ModulePld, ConfiguresFromBootFlashAtPowerUpAndOnReload) {
  using K = sim::BootFlashKind;
  struct Row {
    K bootFlash;
    uint8_t grade;
    const char* otherText;
    std::string text;  // empty: unconfigured
  };
  const Row rows[] = {
      {K::kGradeImage, 1, "", sim::kIndustrialPldText},
      {K::kCommercialImage, 1, "", sim::kCommercialPldText},
      {K::kIndustrialImage, 0, "", sim::kIndustrialPldText},
      {K::kOtherImage, 0, "<Version>{9.9.9x}", "<Version>{9.9.9x}"},
      {K::kBadHeader, 0, "", ""},
      {K::kBadSync, 0, "", ""},
  };
  for (const Row& row : rows) {
    for (bool atPowerUp : {true, false}) {
      SCOPED_TRACE(testing::Message()
                   << "boot flash " << static_cast<int>(row.bootFlash) << " grade "
                   << int(row.grade) << " at power-up " << atPowerUp);
      ModuleConfig c;
      c.bootFlash = row.bootFlash;
      c.temperatureGrade = row.grade;
      c.configurePldAtPowerUp = atPowerUp;
      c.otherPldText = row.otherText;
      Module m = BootLoaderModule(c);
      if (!atPowerUp) {
        EXPECT_FALSE(m.pldConfigured());
        EXPECT_EQ(Plain(m, 0x0C), ok);  // whatever the reload finds
      }
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
    uint16_t dir, request, value, index;
    uint32_t length;
    Outcome outcome;
    uint32_t transferred;
    uint32_t delayMs = 0;  // the answer held back
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
  for (int cycle = 0; cycle < 2; ++cycle) {
    SCOPED_TRACE(cycle);
    const uint8_t b = static_cast<uint8_t>(cycle + 1);
    EXPECT_EQ(Write(m, 0x90030000, {b, b, b, b}).information, 2u);  // short: stores two bytes
    EXPECT_EQ(OutcomeOf(Write(m, 0x90030000, {9, 9, 9, 9})), no);   // failed: stores nothing
    ASSERT_TRUE(m.Peek(0x90030000, 4, &bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{b, b, 0xFF, 0xFF}));
    m.PowerUp();
    Plain(m, 0x0F, 0x3C00);
  }
}

}  // namespace
