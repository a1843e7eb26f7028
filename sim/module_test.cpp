// The simulated module answering requests: every request in both MCU modes, address and length
// refusals, protected regions, aliases, descriptions, the application switch and the PLD.
#include "sim/module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "modlib/driver_contract.h"
#include "sim/sim_test_images.h"

namespace {

using sim::Module;
using sim::ModuleConfig;
using sim::Outcome;
using sim::Response;
using sim_test::Header;
using sim_test::TestImages;

constexpr uint16_t kIn = 1, kOut = 0;
constexpr uint16_t kDeviceInfo = 0xFFFF;  // a table row that sends IOCTL_GET_DEVICE_INFO

Response Vendor(Module& m, uint16_t dir, uint16_t code, uint16_t value, uint16_t index,
                std::vector<uint8_t> data) {
  return m.Handle(IOCTL_VENDOR_REQUEST, Header(dir, code, value, index), data);
}
Response Read(Module& m, uint32_t address, uint32_t size) {
  return Vendor(m, kIn, 0x0E, address & 0xFFFF, address >> 16, std::vector<uint8_t>(size));
}
Response Write(Module& m, uint32_t address, std::vector<uint8_t> data) {
  return Vendor(m, kOut, 0x0D, address & 0xFFFF, address >> 16, std::move(data));
}
Response RunAt(Module& m, uint16_t value) {
  return Vendor(m, kOut, 0x0F, value, 0, {});
}

// A powered-up module with its MCU in the boot loader.
Module BootLoaderModule(const ModuleConfig& config = ModuleConfig()) {
  Module m(config, TestImages());
  m.PowerUp();
  RunAt(m, 0x3C00);
  return m;
}

std::string Text(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  std::string s;
  for (size_t i = at; i < at + width && bytes[i] != 0; ++i) s += static_cast<char>(bytes[i]);
  return s;
}

TEST(ModuleRequests, EachRequestInBootLoaderAndApplicationMode) {
  struct Row {
    const char* what;
    uint16_t dir, code, value, index;
    uint32_t length;
    Outcome inBootLoader, inApplication;
  };
  const Outcome ok = Outcome::kOk, no = Outcome::kRefused;
  const Row rows[] = {
      {"model name", kIn, 0x0B, 0, 0, 7, ok, ok},
      {"model name, 8 bytes", kIn, 0x0B, 0, 0, 8, no, no},
      {"model name, wrong direction", kOut, 0x0B, 0, 0, 7, no, no},
      {"usb speed", kIn, 0x06, 0, 0, 1, ok, ok},
      {"usb speed, 2 bytes", kIn, 0x06, 0, 0, 2, no, no},
      {"read", kIn, 0x0E, 0x3000, 0x8300, 256, ok, no},
      {"read, 4096 bytes", kIn, 0x0E, 0x0000, 0x9000, 4096, ok, no},
      {"read, 4097 bytes", kIn, 0x0E, 0x0000, 0x9000, 4097, no, no},
      {"read, wrong direction", kOut, 0x0E, 0x3000, 0x8300, 256, no, no},
      {"write", kOut, 0x0D, 0x0000, 0x9000, 4096, ok, no},
      {"write, 4097 bytes", kOut, 0x0D, 0x0000, 0x9000, 4097, no, no},
      {"write, wrong direction", kIn, 0x0D, 0x0000, 0x9000, 16, no, no},
      {"run boot loader", kOut, 0x0F, 0x3C00, 0, 0, ok, ok},
      {"run application", kOut, 0x0F, 0x0000, 1, 0, ok, ok},
      {"run elsewhere", kOut, 0x0F, 0x0004, 0, 0, no, no},
      {"run with data", kOut, 0x0F, 0x3C00, 0, 1, no, no},
      {"reload PLD", kOut, 0x0C, 0, 0, 0, ok, no},
      {"reload PLD with data", kOut, 0x0C, 0, 0, 1, no, no},
      {"verify PLD", kOut, 0x07, 0, 0, 0, ok, no},
      {"verify PLD with data", kOut, 0x07, 0, 0, 2, no, no},
      {"unknown request", kIn, 0x10, 0, 0, 1, no, no},
  };
  for (const Row& row : rows) {
    for (bool application : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (application ? " (application)" : " (boot loader)"));
      Module m(ModuleConfig(), TestImages());
      m.PowerUp();
      ASSERT_TRUE(m.applicationRunning());
      if (!application) RunAt(m, 0x3C00);
      const Response r = Vendor(m, row.dir, row.code, row.value, row.index,
                                std::vector<uint8_t>(row.length, 0x5A));
      const Outcome expected = application ? row.inApplication : row.inBootLoader;
      EXPECT_EQ(r.outcome, expected);
      EXPECT_EQ(r.transferred, expected == ok ? row.length : 0u);
      EXPECT_EQ(r.data.size(), expected == ok && row.dir == kIn ? row.length : 0u);
    }
  }
}

TEST(ModuleRequests, IdentityAndDeviceInformation) {
  ModuleConfig c;
  c.modelName = "P620";
  c.usbSpeed = 0;
  c.typeCode = 39;
  Module m(c, TestImages());
  m.PowerUp();
  EXPECT_EQ(Vendor(m, kIn, 0x0B, 0, 0, std::vector<uint8_t>(7, 0xEE)).data,
            (std::vector<uint8_t>{'P', '6', '2', '0', 0, 0, 0}));
  EXPECT_EQ(Vendor(m, kIn, 0x06, 0, 0, {0xEE}).data, std::vector<uint8_t>{0});
  const Response info = m.Handle(IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80, 0xEE));
  ASSERT_EQ(info.outcome, Outcome::kOk);
  ASSERT_EQ(info.data.size(), 80u);
  EXPECT_EQ(driver_contract::ModuleTypeCodeOf(info.data.data()), 39u);
  EXPECT_EQ(std::count(info.data.begin(), info.data.end(), 0), 79);  // 39 fills one byte
  EXPECT_EQ(m.Handle(IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(79)).outcome,
            Outcome::kRefused);
  EXPECT_EQ(m.Handle(0x220000, Header(kIn, 0x0B, 0, 0), std::vector<uint8_t>(7)).outcome,
            Outcome::kRefused);
  EXPECT_EQ(m.Handle(IOCTL_VENDOR_REQUEST, {1, 0, 0x0B}, std::vector<uint8_t>(7)).outcome,
            Outcome::kRefused);
  // The other naming's code carries the same requests.
  EXPECT_EQ(
      m.Handle(IOCTL_USB_VENDOR_REQUEST, Header(kIn, 0x0B, 0, 0), std::vector<uint8_t>(7)).outcome,
      Outcome::kOk);
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
    if (!row.write) {
      EXPECT_EQ(Read(m, row.address, row.size).outcome,
                row.accepted ? Outcome::kOk : Outcome::kRefused);
      continue;
    }
    const std::vector<uint8_t> data(row.size, 0x3C);
    const std::vector<uint8_t> mcu = m.mcuFlash(), boot = m.bootFlash();
    const Response r = Write(m, row.address, data);
    EXPECT_EQ(r.outcome, row.accepted ? Outcome::kOk : Outcome::kRefused);
    std::vector<uint8_t> after;
    if (row.accepted) {
      ASSERT_TRUE(m.Peek(row.address, row.size, &after));
      EXPECT_EQ(after, data);
      EXPECT_TRUE(r.mcuFlashWritten || r.bootFlashWritten);
    } else {
      EXPECT_EQ(m.mcuFlash(), mcu);  // a refused write changes nothing at all
      EXPECT_EQ(m.bootFlash(), boot);
    }
  }
}

TEST(ModuleMemory, DescriptionsFollowTheConfiguration) {
  struct Row {
    char revision;
    sim::ApplicationKind application;
    uint32_t firmwareAddress;
    const char* firmwareVersion;
  };
  const Row rows[] = {
      {'A', sim::ApplicationKind::kEmbedded, 0x83002F00, "1.8"},
      {'B', sim::ApplicationKind::kEmbedded, 0x83002F00, "2.5"},
      {'C', sim::ApplicationKind::kEmbedded, 0x91001F00, "3.2"},
      {'C', sim::ApplicationKind::kStandIn, 0x91001F00, "3.1"},
      {'C', sim::ApplicationKind::kNone, 0x91001F00, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(1, row.revision) + " " + row.firmwareVersion);
    ModuleConfig c;
    c.revision = row.revision;
    c.application = row.application;
    c.serialNumber = "SN-42";
    c.bootLoaderVersion = "2.9";
    Module m = BootLoaderModule(c);
    const Response module = Read(m, 0x83003000, 256);
    ASSERT_EQ(module.outcome, Outcome::kOk);
    EXPECT_EQ(Text(module.data, 0, 16), "R46-90");
    EXPECT_EQ(Text(module.data, 16, 36), "SN-42");
    EXPECT_EQ(module.data[52], row.revision);
    const Response firmware = Read(m, row.firmwareAddress, 227);
    ASSERT_EQ(firmware.outcome, Outcome::kOk);
    const bool erased = row.application == sim::ApplicationKind::kNone;
    EXPECT_EQ(firmware.data[0], erased ? 0xFF : 'A');
    if (!erased) {
      EXPECT_EQ(Text(firmware.data, 25, 10), row.firmwareVersion);
    }
    const Response bootLoader = Read(m, 0x83003FB0, 79);
    ASSERT_EQ(bootLoader.outcome, Outcome::kOk);
    EXPECT_EQ(Text(bootLoader.data, 0, 20), "AVR ATmega162");
    EXPECT_EQ(Text(bootLoader.data, 20, 10), "2.9");
  }
}

TEST(ModuleRun, ApplicationNeedsProgrammedWordZero) {
  ModuleConfig c;
  c.application = sim::ApplicationKind::kNone;
  Module m(c, TestImages());
  m.PowerUp();
  EXPECT_FALSE(m.applicationRunning());  // nothing to run at power-up
  EXPECT_EQ(RunAt(m, 0x0000).outcome, Outcome::kRefused);
  EXPECT_EQ(RunAt(m, 0x3C00).outcome, Outcome::kOk);
  ASSERT_EQ(Write(m, 0x83000000, {0x0C, 0x94}).outcome, Outcome::kOk);
  EXPECT_EQ(RunAt(m, 0x0000).outcome, Outcome::kOk);
  EXPECT_TRUE(m.applicationRunning());
  EXPECT_EQ(Read(m, 0x90000000, 1).outcome, Outcome::kRefused);
  m.PowerUp();
  EXPECT_TRUE(m.applicationRunning());  // a programmed application runs after a power cycle
}

TEST(ModulePld, PowerUpConfiguresFromBootFlash) {
  using K = sim::BootFlashKind;
  struct Row {
    K bootFlash;
    uint8_t grade;
    bool configureAtPowerUp;
    const char* otherText;
    std::string text;  // empty: unconfigured
  };
  const std::string old =
      "<Version>{3.0.6c (build Mar 14 2019)} <Comments>{R46-90 PLD "
      "configuration, commercial grade}";
  const Row rows[] = {
      {K::kGradeImage, 0, true, "", sim::kCommercialPldText},
      {K::kGradeImage, 1, true, "", sim::kIndustrialPldText},
      {K::kCommercialImage, 1, true, "", sim::kCommercialPldText},
      {K::kIndustrialImage, 0, true, "", sim::kIndustrialPldText},
      {K::kOtherImage, 0, true, "", old},
      {K::kOtherImage, 0, true, "<Version>{9.9.9x}", "<Version>{9.9.9x}"},
      {K::kGradeImage, 0, false, "", ""},
      {K::kErased, 0, true, "", ""},
      {K::kBadHeader, 0, true, "", ""},
      {K::kBadImageChecksum, 0, true, "", ""},
      {K::kBadSync, 0, true, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "boot flash " << static_cast<int>(row.bootFlash) << " grade "
                                    << int(row.grade));
    ModuleConfig c;
    c.bootFlash = row.bootFlash;
    c.temperatureGrade = row.grade;
    c.configurePldAtPowerUp = row.configureAtPowerUp;
    c.otherPldText = row.otherText;
    Module m = BootLoaderModule(c);
    const bool configured = !row.text.empty();
    EXPECT_EQ(m.pldConfigured(), configured);
    EXPECT_EQ(Vendor(m, kOut, 0x07, 0, 0, {}).outcome,
              configured ? Outcome::kOk : Outcome::kRefused);
    const Response text = Read(m, 0x8F000000, 512);
    ASSERT_EQ(text.outcome, configured ? Outcome::kOk : Outcome::kRefused);
    if (configured) {
      EXPECT_EQ(Text(text.data, 0, 512), row.text);
      EXPECT_EQ(std::count(text.data.begin() + row.text.size(), text.data.end(), 0),
                static_cast<long>(512 - row.text.size()));
    }
    EXPECT_EQ(Read(m, 0x8C000000, 1).data, std::vector<uint8_t>{row.grade});
  }
}

TEST(ModulePld, ReloadFollowsWhatWasWritten) {
  Module m = BootLoaderModule();
  const std::vector<uint8_t>& image = sim_test::TestPldImage(true);
  std::vector<uint8_t> container = sim::BuildContainer(image.data(), image.size());
  for (size_t at = 0; at < container.size(); at += 4096) {
    const size_t n = std::min<size_t>(4096, container.size() - at);
    ASSERT_EQ(Write(m, 0x90000000 + static_cast<uint32_t>(at),
                    std::vector<uint8_t>(container.begin() + at, container.begin() + at + n))
                  .outcome,
              Outcome::kOk);
  }
  EXPECT_EQ(m.PldText(), sim::kCommercialPldText);  // nothing changes before the reload
  EXPECT_EQ(Vendor(m, kOut, 0x0C, 0, 0, {}).outcome, Outcome::kOk);
  EXPECT_EQ(m.PldText(), sim::kIndustrialPldText);

  // A damaged image: the reload request still succeeds, but the PLD is left unconfigured.
  ASSERT_EQ(Write(m, 0x90000000 + 300, {0x00}).outcome, Outcome::kOk);
  EXPECT_EQ(Vendor(m, kOut, 0x0C, 0, 0, {}).outcome, Outcome::kOk);
  EXPECT_FALSE(m.pldConfigured());
  EXPECT_EQ(Vendor(m, kOut, 0x07, 0, 0, {}).outcome, Outcome::kRefused);
}

TEST(ModuleFaults, SelectedRequestsMisbehave) {
  using A = sim::FaultAction;
  struct Step {
    uint16_t dir, code, value, index;
    uint32_t length;
    Outcome outcome;
    uint32_t transferred;
    bool powerLost;
  };
  struct Row {
    const char* what;
    sim::Fault fault;
    std::vector<Step> steps;
  };
  auto fault = [](A action, std::optional<uint32_t> request, std::optional<uint32_t> address,
                  uint32_t nth, std::optional<uint32_t> bytes = {}) {
    sim::Fault f;
    f.action = action;
    f.request = request;
    f.address = address;
    f.nth = nth;
    f.bytes = bytes;
    return f;
  };
  const Outcome ok = Outcome::kOk, no = Outcome::kRefused, none = Outcome::kNoAnswer,
                shorter = Outcome::kShort;
  const Step name = {kIn, 0x0B, 0, 0, 7, ok, 7, false};
  const Step nameRefused = {kIn, 0x0B, 0, 0, 7, no, 0, false};
  const Row rows[] = {
      {"fail the 2nd request", fault(A::kFail, {}, {}, 2), {name, nameRefused, name}},
      {"fail every read of 0x91003000",
       fault(A::kFail, 0x0E, 0x91003000, 0),
       {{kIn, 0x0E, 0x3000, 0x9100, 256, no, 0, false},
        {kIn, 0x0E, 0x3000, 0x8300, 256, ok, 256, false},
        {kIn, 0x0E, 0x3000, 0x9100, 16, no, 0, false}}},
      {"an address filter looks at the whole range",
       fault(A::kFail, {}, 0x90001000, 0),
       {{kIn, 0x0E, 0x0000, 0x9000, 4096, ok, 4096, false},
        {kIn, 0x0E, 0x0FFF, 0x9000, 2, no, 0, false},
        {kOut, 0x0D, 0x1000, 0x9000, 1, no, 0, false}}},
      {"the 2nd write only",
       fault(A::kFail, 0x0D, {}, 2),
       {{kOut, 0x0D, 0, 0x9000, 4, ok, 4, false},
        {kIn, 0x0E, 0, 0x9000, 4, ok, 4, false},
        {kOut, 0x0D, 0, 0x9000, 4, no, 0, false},
        {kOut, 0x0D, 0, 0x9000, 4, ok, 4, false}}},
      {"start of the application",
       fault(A::kFail, 0x0F, 0x83000000, 0),
       {{kOut, 0x0F, 0x3C00, 0, 0, ok, 0, false}, {kOut, 0x0F, 0x0000, 1, 0, no, 0, false}}},
      {"device information",
       fault(A::kFail, sim::kDeviceInfoRequest, {}, 0),
       {name, {kIn, kDeviceInfo, 0, 0, 80, no, 0, false}}},
      {"never answer a reload",
       fault(A::kNoAnswer, 0x0C, {}, 0),
       {{kOut, 0x0C, 0, 0, 0, none, 0, false}, {kOut, 0x07, 0, 0, 0, ok, 0, false}}},
      {"short model name",
       fault(A::kShort, 0x0B, {}, 0, 3),
       {{kIn, 0x0B, 0, 0, 7, shorter, 3, false}}},
      {"short read by default one byte",
       fault(A::kShort, 0x0E, {}, 0),
       {{kIn, 0x0E, 0x3000, 0x8300, 256, shorter, 255, false}}},
      {"short cannot shorten nothing",
       fault(A::kShort, {}, {}, 0),
       {{kOut, 0x07, 0, 0, 0, ok, 0, false}}},
      {"short stays refused when refused",
       fault(A::kShort, {}, {}, 0),
       {{kIn, 0x0E, 0, 0x8400, 8, no, 0, false}}},
      {"power loss after the 2nd request",
       fault(A::kPowerLoss, {}, {}, 2),
       {name, {kIn, 0x06, 0, 0, 1, ok, 1, true}, name}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Module m = BootLoaderModule();
    m.SetFaults({row.fault});  // counts from here, after the helper's own request
    for (size_t i = 0; i < row.steps.size(); ++i) {
      const Step& s = row.steps[i];
      SCOPED_TRACE(i);
      const Response r =
          s.code == kDeviceInfo
              ? m.Handle(IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(s.length))
              : Vendor(m, s.dir, s.code, s.value, s.index, std::vector<uint8_t>(s.length));
      EXPECT_EQ(r.outcome, s.outcome);
      EXPECT_EQ(r.transferred, s.transferred);
      EXPECT_EQ(r.powerLost, s.powerLost);
      if (s.dir == kIn && s.outcome != no) {
        EXPECT_EQ(r.data.size(), s.transferred);
      }
    }
  }
}

TEST(ModuleFaults, ShortWriteStoresOnlyWhatItReportsAndFailedWriteNothing) {
  Module m = BootLoaderModule();
  sim::Fault shortWrite;
  shortWrite.action = sim::FaultAction::kShort;
  shortWrite.request = 0x0D;
  shortWrite.bytes = 2;
  m.SetFaults({shortWrite});
  EXPECT_EQ(Write(m, 0x90030000, {1, 2, 3, 4}).transferred, 2u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(m.Peek(0x90030000, 4, &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 0xFF, 0xFF}));

  sim::Fault fail;
  fail.request = 0x0D;
  m.SetFaults({fail});
  EXPECT_EQ(Write(m, 0x90030000, {9, 9, 9, 9}).outcome, Outcome::kRefused);
  ASSERT_TRUE(m.Peek(0x90030000, 4, &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 0xFF, 0xFF}));
}

TEST(ModuleFaults, CountersRestartAtPowerUp) {
  sim::Fault second;
  second.nth = 2;
  ModuleConfig c;
  c.faults = {second};
  Module m(c, TestImages());
  for (int cycle = 0; cycle < 2; ++cycle) {
    m.PowerUp();
    EXPECT_EQ(RunAt(m, 0x3C00).outcome, Outcome::kOk);
    EXPECT_EQ(RunAt(m, 0x3C00).outcome, Outcome::kRefused);
    EXPECT_EQ(RunAt(m, 0x3C00).outcome, Outcome::kOk);
  }
}

}  // namespace
