// TR4690_BOOT_LOADER against a recording driver, where a test needs exact control: the request
// sequence and headers of each operation, failures at a given request or address, requests
// that never answer, and every code the interface stores.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "modlib/test_driver.h"
#include "platform/test_facilities.h"

namespace modlib_test {
namespace {

using Lines = std::vector<std::string>;
using BootLoader = DriverTest;

TEST_F(BootLoader, OpenSequence) {
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  ASSERT_TRUE(object.OpenQDevice(0));
  EXPECT_EQ(driver.Lines(),
            (Lines{"22005E 80", "22003E 1 0B 0000 0000 7", "22003E 1 06 0000 0000 1",
                   "22003E 1 0B 0000 0000 7", "22003E 0 0F 3C00 0000 0"}));
  EXPECT_EQ(LastErrorCode(object), 100);
}

struct OpenCase {
  uint32_t typeCode;
  const char* name;
  int32_t skipNameCheck;
  int failAt;  // -1: none
  bool opens;
  uint16_t code;
  bool leftOpen;
};

class BootLoaderOpen : public DriverTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(BootLoaderOpen, Outcome) {
  const OpenCase& c = GetParam();
  driver.module = FakeModule{c.typeCode, c.name, 1, 'C'};
  if (c.failAt >= 0) driver.script = FailAt(static_cast<size_t>(c.failAt));
  TR4690_BOOT_LOADER& object = *NewBootLoader(1, c.skipNameCheck);
  EXPECT_EQ(object.OpenQDevice(0), c.opens);
  EXPECT_EQ(LastErrorCode(object), c.code);
  EXPECT_EQ(object.GetDeviceHandle() != INVALID_HANDLE_VALUE, c.leftOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, BootLoaderOpen,
    testing::Values(OpenCase{32, "R46-90", 0, -1, true, 100, true},
                    OpenCase{39, "R46-90", 0, -1, true, 877,
                             true},  // left by the first attempt; opens
                    // neither type: the second attempt's mismatch leaves the device open
                    OpenCase{33, "R46-90", 0, -1, false, 877, true},
                    // so does it after a failure of the first attempt past the type check
                    OpenCase{32, "R46-90", 0, 1, false, 877, true},
                    // the second attempt's own failures, for a module of the second type
                    OpenCase{39, "R46-90", 0, 1, false, 877, false},
                    OpenCase{39, "R46-90", 0, 2, false, 103, false},
                    OpenCase{39, "R46-90", 0, 3, false, 104, false},
                    OpenCase{39, "R46-90X", 0, -1, false, 104, false},
                    // the name check's read, the run request, and a full-speed model's name
                    OpenCase{32, "R46-90", 0, 3, false, 1001, false},
                    OpenCase{32, "R46-90", 0, 4, false, 1001, false},
                    OpenCase{32, "P310", 0, -1, false, 1001, false},
                    // a skipped name check opens another model and still runs the boot loader
                    OpenCase{32, "P620", -1, -1, true, 100, true}));

// A boot-loader object open on QDev0 before the operation of each case.
struct OperationCase {
  const char* label;
  char revision;  // when set, GET_MODULE_DESCRIPTION has read it first
  bool running;   // the application was started first
  RecordingDriver::Script script;
  std::function<bool(TR4690_BOOT_LOADER&)> run;
  bool ok;
  uint16_t code;  // 100: left as it was
  Lines requests;
};

class BootLoaderOperation : public DriverTest, public testing::WithParamInterface<OperationCase> {};

TEST_P(BootLoaderOperation, RequestsAndCode) {
  const OperationCase& c = GetParam();
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  ASSERT_TRUE(object.OpenQDevice(0));
  ModuleDescription description;
  driver.module.revision = c.revision;
  if (c.revision != 0) {
    ASSERT_TRUE(object.GET_MODULE_DESCRIPTION(&description));
  }
  if (c.running) {
    ASSERT_TRUE(object.RunMcuApplication(0x83000000, TRUE));
  }
  ASSERT_TRUE(object.ENABLE_USER_FLASH_WRITE(TRUE));
  driver.Clear();
  driver.script = c.script;
  EXPECT_EQ(c.run(object), c.ok);
  EXPECT_EQ(LastErrorCode(object), c.code);
  EXPECT_EQ(driver.Lines(), c.requests);
}

uint8_t gBuffer[4097];
std::function<bool(TR4690_BOOT_LOADER&)> Get(uint32_t address, uint32_t size, void* to = gBuffer) {
  return [=](TR4690_BOOT_LOADER& o) { return o.GetArray(address, to, size); };
}
std::function<bool(TR4690_BOOT_LOADER&)> Put(uint32_t address, uint32_t size,
                                             void* from = gBuffer) {
  return [=](TR4690_BOOT_LOADER& o) { return o.PutArray(address, from, size); };
}
std::function<bool(TR4690_BOOT_LOADER&)> Run(uint32_t address, BOOL flag) {
  return [=](TR4690_BOOT_LOADER& o) { return o.RunMcuApplication(address, flag); };
}
template <typename Record>
std::function<bool(TR4690_BOOT_LOADER&)> Read(bool (TR4690_BOOT_LOADER::*op)(Record*)) {
  return [op](TR4690_BOOT_LOADER& o) {
    Record record;
    return (o.*op)(&record);
  };
}
const auto kModule = Read(&TR4690_BOOT_LOADER::GET_MODULE_DESCRIPTION);
const auto kFirmware = Read(&TR4690_BOOT_LOADER::GET_FIRMWARE_DESCRIPTION);
const auto kBootLoader = Read(&TR4690_BOOT_LOADER::GET_BOOT_LOADER_DESCRIPTION);
const auto kPld = Read(&TR4690_BOOT_LOADER::GET_PLD_INFO);
const auto kReload = [](TR4690_BOOT_LOADER& o) { return o.StartReloadPld(); };
const auto kVerify = [](TR4690_BOOT_LOADER& o) { return o.VerifyPld(); };
const auto kReadUser = [](TR4690_BOOT_LOADER& o) { return o.READ_USER_FLASH(gBuffer); };
const auto kWriteUser = [](TR4690_BOOT_LOADER& o) { return o.WRITE_USER_FLASH(gBuffer); };
const auto kReadUserNull = [](TR4690_BOOT_LOADER& o) { return o.READ_USER_FLASH(nullptr); };
const auto kWriteUserNull = [](TR4690_BOOT_LOADER& o) { return o.WRITE_USER_FLASH(nullptr); };
const auto kWriteUserDisabled = [](TR4690_BOOT_LOADER& o) {
  o.ENABLE_USER_FLASH_WRITE(FALSE);
  return o.WRITE_USER_FLASH(nullptr);
};
const RecordingDriver::Script kRefuseAll = [](const Request&, size_t) { return Refused(); };

// clang-format off
INSTANTIATE_TEST_SUITE_P(Operations, BootLoaderOperation, testing::Values(
  OperationCase{"Get4096", 0, false, nullptr, Get(0x90000000, 4096), true, 100,
                {"22003E 1 0E 0000 9000 4096"}},
  OperationCase{"Get4097", 0, false, nullptr, Get(0x9000F800, 4097), true, 100,
                {"22003E 1 0E F800 9000 4096", "22003E 1 0E 0800 9001 1"}},
  OperationCase{"Put4097", 0, false, nullptr, Put(0x83000000, 4097), true, 100,
                {"22003E 0 0D 0000 8300 4096", "22003E 0 0D 1000 8300 1"}},
  OperationCase{"GetSecondChunkFails", 0, false, FailAt(1), Get(0x90000000, 4097), false, 1001,
                {"22003E 1 0E 0000 9000 4096", "22003E 1 0E 1000 9000 1"}},
  OperationCase{"GetNull", 0, false, nullptr, Get(0x90000000, 1, nullptr), false, 1001, {}},
  OperationCase{"GetZero", 0, false, nullptr, Get(0x90000000, 0), false, 1001, {}},
  OperationCase{"PutNull", 0, false, nullptr, Put(0x90000000, 1, nullptr), false, 1001, {}},
  OperationCase{"PutZero", 0, false, nullptr, Put(0x90000000, 0), false, 1001, {}},
  OperationCase{"RunApplicationFlag5", 0, false, nullptr, Run(0x83000000, 5), true, 100,
                {"22003E 0 0F 0000 0001 0"}},
  OperationCase{"RunApplicationNoFlag", 0, false, nullptr, Run(0x83000000, FALSE), true, 100,
                {"22003E 0 0F 0000 0000 0"}},
  OperationCase{"RunBootLoaderFlagTrue", 0, true, nullptr, Run(0x83003C00, TRUE), true, 100,
                {"22003E 0 0F 3C00 0000 0"}},
  OperationCase{"RunOtherAddress", 0, false, nullptr, Run(0x83000004, TRUE), false, 1001, {}},
  OperationCase{"RunRefused", 0, false, kRefuseAll, Run(0x83000000, TRUE), false, 1001,
                {"22003E 0 0F 0000 0001 0"}},
  OperationCase{"Reload", 0, false, nullptr, kReload, true, 100, {"22003E 0 0C 0000 0000 0"}},
  OperationCase{"ReloadRefused", 0, false, kRefuseAll, kReload, false, 519,
                {"22003E 0 0C 0000 0000 0"}},
  OperationCase{"VerifyUnread", 0, false, nullptr, kVerify, true, 100, {}},
  OperationCase{"VerifyA", 'A', false, nullptr, kVerify, true, 100, {}},
  OperationCase{"VerifyLowerCase", 'c', false, nullptr, kVerify, true, 100, {}},
  OperationCase{"VerifyB", 'B', false, nullptr, kVerify, true, 100, {"22003E 0 07 0000 0000 0"}},
  OperationCase{"VerifyZ", 'Z', false, nullptr, kVerify, true, 100, {"22003E 0 07 0000 0000 0"}},
  OperationCase{"VerifyRefused", 'C', false, kRefuseAll, kVerify, false, 519,
                {"22003E 0 07 0000 0000 0"}},
  OperationCase{"Module", 0, false, nullptr, kModule, true, 100, {"22003E 1 0E 3000 9100 256"}},
  // the second address serves; the first read's code stays behind
  OperationCase{"ModuleSecond", 0, false, FailAddress(0x91003000), kModule, true, 1001,
                {"22003E 1 0E 3000 9100 256", "22003E 1 0E 3000 8300 256"}},
  OperationCase{"ModuleNone", 0, false, kRefuseAll, kModule, false, 1501,
                {"22003E 1 0E 3000 9100 256", "22003E 1 0E 3000 8300 256"}},
  OperationCase{"Firmware", 0, false, nullptr, kFirmware, true, 100, {"22003E 1 0E 1F00 9100 227"}},
  OperationCase{"FirmwareSecond", 0, false, FailAddress(0x91001F00), kFirmware, true, 1001,
                {"22003E 1 0E 1F00 9100 227", "22003E 1 0E 2F00 8300 227"}},
  OperationCase{"FirmwareNone", 0, false, kRefuseAll, kFirmware, false, 1501,
                {"22003E 1 0E 1F00 9100 227", "22003E 1 0E 2F00 8300 227"}},
  OperationCase{"BootLoader", 0, false, nullptr, kBootLoader, true, 100,
                {"22003E 1 0E 3FB0 8300 79"}},
  OperationCase{"BootLoaderNone", 0, false, kRefuseAll, kBootLoader, false, 1501,
                {"22003E 1 0E 3FB0 8300 79"}},
  OperationCase{"Pld", 0, false, nullptr, kPld, true, 100, {"22003E 1 0E 0000 8F00 512"}},
  OperationCase{"PldNone", 0, false, kRefuseAll, kPld, false, 1501, {"22003E 1 0E 0000 8F00 512"}},
  OperationCase{"ReadUser", 0, false, nullptr, kReadUser, true, 100, {"22003E 1 0E 1D00 9100 512"}},
  OperationCase{"ReadUserSecond", 0, false, FailAddress(0x91001D00), kReadUser, true, 1001,
                {"22003E 1 0E 1D00 9100 512", "22003E 1 0E 2D00 8300 512"}},
  OperationCase{"ReadUserNone", 0, false, kRefuseAll, kReadUser, false, 516,
                {"22003E 1 0E 1D00 9100 512", "22003E 1 0E 2D00 8300 512"}},
  OperationCase{"ReadUserNull", 0, false, nullptr, kReadUserNull, false, 503, {}},
  OperationCase{"WriteUserA", 'A', false, nullptr, kWriteUser, true, 100,
                {"22003E 0 0D 2D00 8300 512"}},
  OperationCase{"WriteUserB", 'B', false, nullptr, kWriteUser, true, 100,
                {"22003E 0 0D 2D00 8300 512"}},
  OperationCase{"WriteUserD", 'D', false, nullptr, kWriteUser, true, 100,
                {"22003E 0 0D 1D00 9100 512"}},
  OperationCase{"WriteUserUnread", 0, false, nullptr, kWriteUser, true, 100,
                {"22003E 0 0D 1D00 9100 512"}},
  OperationCase{"WriteUserRefused", 'C', false, kRefuseAll, kWriteUser, false, 519,
                {"22003E 0 0D 1D00 9100 512"}},
  OperationCase{"WriteUserNull", 'C', false, nullptr, kWriteUserNull, false, 503, {}},
  // the enable flag is tested before the buffer
  OperationCase{"WriteUserDisabled", 'C', false, nullptr, kWriteUserDisabled, false, 528, {}},
  // a running application: the user-flash write returns to the boot loader first...
  OperationCase{"WriteUserRunning", 'C', true, nullptr, kWriteUser, true, 100,
                {"22003E 0 0F 3C00 0000 0", "22003E 0 0D 1D00 9100 512"}},
  OperationCase{"WriteUserNoBootLoader", 'C', true, kRefuseAll, kWriteUser, false, 501,
                {"22003E 0 0F 3C00 0000 0"}},
  // ...while every other service refuses without a request
  OperationCase{"RunningGet", 0, true, nullptr, Get(0x90000000, 1), false, 1001, {}},
  OperationCase{"RunningPut", 0, true, nullptr, Put(0x90000000, 1), false, 1001, {}},
  OperationCase{"RunningReload", 0, true, nullptr, kReload, false, 1001, {}},
  OperationCase{"RunningVerify", 'C', true, nullptr, kVerify, false, 1001, {}},
  OperationCase{"RunningModule", 0, true, nullptr, kModule, false, 1001, {}},
  OperationCase{"RunningFirmware", 0, true, nullptr, kFirmware, false, 1001, {}},
  OperationCase{"RunningBootLoader", 0, true, nullptr, kBootLoader, false, 1001, {}},
  OperationCase{"RunningPld", 0, true, nullptr, kPld, false, 1001, {}},
  OperationCase{"RunningReadUser", 0, true, nullptr, kReadUser, false, 516, {}}),
  [](const testing::TestParamInfo<OperationCase>& info) { return info.param.label; });
// clang-format on

// Each chunk's bytes land at its own offset, in both directions.
TEST_F(BootLoader, ChunksCarryTheirOwnBytes) {
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  ASSERT_TRUE(object.OpenQDevice(0));
  driver.Clear();
  std::vector<uint8_t> data(8193);
  ASSERT_TRUE(object.GetArray(0x90000000, data.data(), 8193));
  for (uint32_t i = 0; i < data.size(); ++i) ASSERT_EQ(data[i], ModuleByte(0x90000000 + i)) << i;
  data[4096] ^= 0xFF;
  ASSERT_TRUE(object.PutArray(0x83000000, data.data(), 8193));
  const std::vector<Request> r = driver.Requests();
  ASSERT_EQ(r.size(), 6u);
  std::vector<uint8_t> sent;
  for (size_t i = 3; i < 6; ++i) sent.insert(sent.end(), r[i].output.begin(), r[i].output.end());
  EXPECT_EQ(sent, data);
}

TEST_F(BootLoader, StateFollowsTheRunRequests) {
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  ASSERT_TRUE(object.OpenQDevice(0));
  EXPECT_FALSE(McuApplicationRunning(object));
  ASSERT_TRUE(object.RunMcuApplication(0x83000000, TRUE));
  EXPECT_TRUE(McuApplicationRunning(object));
  EXPECT_FALSE(object.RunMcuApplication(0x83000004, FALSE));  // changes nothing
  EXPECT_TRUE(McuApplicationRunning(object));
  driver.script = kRefuseAll;
  EXPECT_FALSE(object.RunMcuApplication(0x83000000, TRUE));  // a refused run leaves it false
  EXPECT_FALSE(McuApplicationRunning(object));
}

// A module that never answers costs one time-out per transfer, not per remaining chunk, and
// the object's next transfer works.
TEST_F(BootLoader, SilentModuleCostsOneTimeout) {
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  ASSERT_TRUE(object.OpenQDevice(0));
  qdev_test::SetTimeScale(50);
  driver.Clear();
  driver.script = NeverAt(0);
  const uint64_t start = GetTickCount64();
  EXPECT_FALSE(object.GetArray(0x90000000, gBuffer, 4097));
  const uint64_t elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 5000u);
  EXPECT_LT(elapsed, 7500u);
  EXPECT_EQ(driver.Requests().size(), 1u);
  EXPECT_TRUE(object.GetArray(0x90000000, gBuffer, 4097));
}

TEST_F(BootLoader, BaseFailuresBecome1001) {
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  char name[7];
  EXPECT_FALSE(object.GetModuleName(name));
  EXPECT_EQ(LastErrorCode(object), 1001);
  ASSERT_TRUE(object.OpenQDevice(0));
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(object.CloseDevice());
  EXPECT_EQ(LastErrorCode(object), 1001);
  EXPECT_EQ(object.GetDeviceHandle(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(object.OpenQDevice(0));
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(Release(&object));
}

class BootLoaderUsbNaming : public DriverTest {
  void Publish() override { Serve("QDevUsb0", &driver); }
};

// DriverKind 0: no device information, and the USB code for all but the PLD and user-flash
// write requests.
TEST_F(BootLoaderUsbNaming, PldAndUserFlashWritesKeepTheirCode) {
  driver.module.typeCode = 12345;  // not looked at
  TR4690_BOOT_LOADER& object = *NewBootLoader(0);
  ASSERT_TRUE(object.OpenQDevice(0));
  ASSERT_TRUE(object.StartReloadPld());
  ASSERT_TRUE(object.ENABLE_USER_FLASH_WRITE(TRUE));
  ASSERT_TRUE(object.WRITE_USER_FLASH(gBuffer));
  ASSERT_TRUE(object.READ_USER_FLASH(gBuffer));
  EXPECT_EQ(driver.Lines(),
            (Lines{"220012 1 0B 0000 0000 7", "220012 1 06 0000 0000 1", "220012 1 0B 0000 0000 7",
                   "220012 0 0F 3C00 0000 0", "22003E 0 0C 0000 0000 0",
                   "22003E 0 0D 1D00 9100 512", "220012 1 0E 1D00 9100 512"}));
}

}  // namespace
}  // namespace modlib_test
