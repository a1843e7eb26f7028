// TR4690_BOOT_LOADER against a simulated module: the open, and the request sequence and headers
// of each operation with every code it stores. The requests of the update's own successful
// operations, and the bytes that reach the module, are pinned by the end-to-end traffic records;
// the chunking of block transfers and their time-outs by the boot_loader fuzz target.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "modlib/testing/simulated_module_fixture.h"

namespace modlib_test {
namespace {

using BootLoader = ModuleTest;
using Operation = std::function<bool(TR4690_BOOT_LOADER&)>;
const char kRefuseAll[] = R"([{"action":"fail"}])";
uint8_t gBuffer[4097];

// DriverKind 0: no device information, any module type, and the USB code for all but the PLD
// and user-flash write requests.
TEST_F(BootLoader, UsbNamingKeepsTheCodeOfPldAndUserFlashWrites) {
  Start(R"({"naming":"QDevUsb","typeCode":12345})");
  TR4690_BOOT_LOADER& object = *NewBootLoader(0);
  ASSERT_TRUE(object.OpenQDevice(0) && object.StartReloadPld());
  ASSERT_TRUE(object.ENABLE_USER_FLASH_WRITE(TRUE) && object.WRITE_USER_FLASH(gBuffer));
  ASSERT_TRUE(object.READ_USER_FLASH(gBuffer));
  EXPECT_EQ(Traffic(),
            (Lines{"QDevUsb0 220012 1 0B 0000 0000 7", "QDevUsb0 220012 1 06 0000 0000 1",
                   "QDevUsb0 220012 1 0B 0000 0000 7", "QDevUsb0 220012 0 0F 3C00 0000 0",
                   "QDevUsb0 0 0C 0000 0000 0", "QDevUsb0 0 0D 1D00 9100 512",
                   "QDevUsb0 220012 1 0E 1D00 9100 512"}));
}

struct OpenCase {
  const char* label;
  const char* module;  // scenario entry; its faults count the open's requests from the first
  int32_t skipNameCheck;
  bool opens;
  uint16_t code;
  bool leftOpen;
};

class BootLoaderOpen : public ModuleTest, public testing::WithParamInterface<OpenCase> {};

// The open tries type 32, then type 39, then checks the name and runs the boot loader.
TEST_P(BootLoaderOpen, Outcome) {
  const OpenCase& c = GetParam();
  Start(c.module);
  TR4690_BOOT_LOADER& object = *NewBootLoader(1, c.skipNameCheck);
  EXPECT_EQ(object.OpenQDevice(0), c.opens);
  EXPECT_EQ(LastErrorCode(object), c.code);
  EXPECT_EQ(object.GetDeviceHandle() != INVALID_HANDLE_VALUE, c.leftOpen);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Modules, BootLoaderOpen, testing::Values(
  OpenCase{"Healthy", "{}", 0, true, 100, true},
  OpenCase{"TypeCode39", R"({"typeCode":39})", 0, true, 877, true},  // left by the first attempt
  // neither type, or the first attempt failing past its type check: the second attempt's
  // mismatch leaves the device open
  OpenCase{"NeitherType", R"({"typeCode":33})", 0, false, 877, true},
  OpenCase{"FirstAttemptFailsLate", R"({"faults":[{"action":"fail","nth":2}]})",
           0, false, 877, true},
  // the second attempt's own failures
  OpenCase{"SecondAttemptFails", R"({"typeCode":39,"faults":[{"action":"fail","nth":3}]})",
           0, false, 103, false},
  OpenCase{"SecondAttemptOtherModel", R"({"typeCode":39,"modelName":"R46-90X"})",
           0, false, 104, false},
  // the name check's read, the run request, and a full-speed model's name
  OpenCase{"NameCheckRefused", R"({"faults":[{"action":"fail","nth":4}]})", 0, false, 1001, false},
  OpenCase{"RunRefused", R"({"faults":[{"action":"fail","nth":5}]})", 0, false, 1001, false},
  OpenCase{"FullSpeedModel", R"({"modelName":"P310"})", 0, false, 1001, false},
  // a skipped name check opens another model and still runs the boot loader
  OpenCase{"NameCheckSkipped", R"({"modelName":"P620"})", -1, true, 100, true}),
  [](const testing::TestParamInfo<OpenCase>& info) { return info.param.label; });
// clang-format on

// An open object, with user-flash writes enabled, before each case's operation.
struct OperationCase {
  const char* label;
  Operation run;
  bool ok;
  uint16_t code;  // 100: left as it was
  Lines traffic;
  const char* faults = nullptr;  // the module's faults from the operation on
  char revision = 0;             // the module's; when set, GET_MODULE_DESCRIPTION has read it first
  bool running = false;          // the application was started first
};

class BootLoaderOperation : public ModuleTest, public testing::WithParamInterface<OperationCase> {};

TEST_P(BootLoaderOperation, RequestsAndCode) {
  const OperationCase& c = GetParam();
  Start(c.revision == 0 ? "{}"
                        : R"({"aliases":true,"revision":")" + std::string(1, c.revision) + "\"}");
  TR4690_BOOT_LOADER& object = *NewBootLoader();
  ASSERT_TRUE(object.OpenQDevice(0) && object.ENABLE_USER_FLASH_WRITE(TRUE));
  ModuleDescription description;
  ASSERT_TRUE(c.revision == 0 || object.GET_MODULE_DESCRIPTION(&description));
  ASSERT_TRUE(!c.running || object.RunMcuApplication(0x83000000, TRUE));
  Traffic();
  if (c.faults != nullptr) SetFaults(c.faults);
  EXPECT_EQ(c.run(object), c.ok);
  EXPECT_EQ(LastErrorCode(object), c.code);
  EXPECT_EQ(Traffic(), c.traffic);
}

Operation Get(uint32_t address, uint32_t size, void* to = gBuffer) {
  return [=](TR4690_BOOT_LOADER& o) { return o.GetArray(address, to, size); };
}
Operation Put(uint32_t address, uint32_t size) {
  return [=](TR4690_BOOT_LOADER& o) { return o.PutArray(address, gBuffer, size); };
}
Operation Run(uint32_t address, BOOL flag) {
  return [=](TR4690_BOOT_LOADER& o) { return o.RunMcuApplication(address, flag); };
}
template <typename Record>
Operation Read(bool (TR4690_BOOT_LOADER::*op)(Record*)) {
  return [op](TR4690_BOOT_LOADER& o) {
    Record record;
    return (o.*op)(&record);
  };
}
const Operation kModule = Read(&TR4690_BOOT_LOADER::GET_MODULE_DESCRIPTION);
const Operation kFirmware = Read(&TR4690_BOOT_LOADER::GET_FIRMWARE_DESCRIPTION);
const Operation kBootLoader = Read(&TR4690_BOOT_LOADER::GET_BOOT_LOADER_DESCRIPTION);
const Operation kPld = Read(&TR4690_BOOT_LOADER::GET_PLD_INFO);
const Operation kReload = [](TR4690_BOOT_LOADER& o) { return o.StartReloadPld(); };
const Operation kVerify = [](TR4690_BOOT_LOADER& o) { return o.VerifyPld(); };
const Operation kReadUser = [](TR4690_BOOT_LOADER& o) { return o.READ_USER_FLASH(gBuffer); };
const Operation kWriteUser = [](TR4690_BOOT_LOADER& o) { return o.WRITE_USER_FLASH(gBuffer); };
const char* const kNone = nullptr;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Operations, BootLoaderOperation, testing::Values(
  OperationCase{"GetRefusedAddress", Get(0x90000000, 4097), false, 1001,
                {"1 0E 0000 9000 4096", "1 0E 1000 9000 1 -> refused"},
                R"([{"action":"fail","address":"0x90001000"}])"},
  OperationCase{"GetNull", Get(0x90000000, 1, nullptr), false, 1001, {}},
  OperationCase{"PutZero", Put(0x90000000, 0), false, 1001, {}},
  OperationCase{"RunApplicationFlag5", Run(0x83000000, 5), true, 100, {"0 0F 0000 0001 0"}},
  OperationCase{"RunApplicationNoFlag", Run(0x83000000, FALSE), true, 100, {"0 0F 0000 0000 0"}},
  OperationCase{"RunBootLoaderFlagTrue", Run(0x83003C00, TRUE), true, 100, {"0 0F 3C00 0000 0"},
                kNone, 0, true},
  OperationCase{"RunOtherAddress", Run(0x83000004, TRUE), false, 1001, {}},
  OperationCase{"RunRefused", Run(0x83000000, TRUE), false, 1001,
                {"0 0F 0000 0001 0 -> refused"}, kRefuseAll},
  // a refused run leaves the boot-loader services open: the next read goes out (and finds the
  // application still running)
  OperationCase{"RunRefusedWhileRunning", [](TR4690_BOOT_LOADER& o) {
                  return o.RunMcuApplication(0x83000000, TRUE) ||
                         o.GetArray(0x90000000, gBuffer, 1);
                }, false, 1001, {"0 0F 0000 0001 0 -> refused", "1 0E 0000 9000 1 -> refused"},
                R"([{"action":"fail","nth":1}])", 0, true},
  OperationCase{"ReloadRefused", kReload, false, 519, {"0 0C 0000 0000 0 -> refused"}, kRefuseAll},
  OperationCase{"VerifyUnread", kVerify, true, 100, {}},
  OperationCase{"VerifyA", kVerify, true, 100, {}, kNone, 'A'},
  OperationCase{"VerifyD", kVerify, true, 100, {"0 07 0000 0000 0"}, kNone, 'D'},
  OperationCase{"VerifyRefused", kVerify, false, 519, {"0 07 0000 0000 0 -> refused"}, kRefuseAll,
                'C'},
  // the second address serves; the first read's code stays behind
  OperationCase{"ModuleSecond", kModule, true, 1001,
                {"1 0E 3000 9100 256 -> refused", "1 0E 3000 8300 256"},
                R"([{"action":"fail","address":"0x91003000"}])"},
  OperationCase{"ModuleNone", kModule, false, 1501,
                {"1 0E 3000 9100 256 -> refused", "1 0E 3000 8300 256 -> refused"}, kRefuseAll},
  OperationCase{"FirmwareNone", kFirmware, false, 1501,
                {"1 0E 1F00 9100 227 -> refused", "1 0E 2F00 8300 227 -> refused"}, kRefuseAll},
  OperationCase{"BootLoaderNone", kBootLoader, false, 1501, {"1 0E 3FB0 8300 79 -> refused"},
                kRefuseAll},
  OperationCase{"PldNone", kPld, false, 1501, {"1 0E 0000 8F00 512 -> refused"}, kRefuseAll},
  OperationCase{"ReadUser", kReadUser, true, 100, {"1 0E 1D00 9100 512"}},
  OperationCase{"ReadUserNone", kReadUser, false, 516,
                {"1 0E 1D00 9100 512 -> refused", "1 0E 2D00 8300 512 -> refused"}, kRefuseAll},
  OperationCase{"ReadUserNull", [](TR4690_BOOT_LOADER& o) { return o.READ_USER_FLASH(nullptr); },
                false, 503, {}},
  OperationCase{"WriteUserA", kWriteUser, true, 100, {"0 0D 2D00 8300 512"}, kNone, 'A'},
  OperationCase{"WriteUserB", kWriteUser, true, 100, {"0 0D 2D00 8300 512"}, kNone, 'B'},
  OperationCase{"WriteUserC", kWriteUser, true, 100, {"0 0D 1D00 9100 512"}, kNone, 'C'},
  OperationCase{"WriteUserD", kWriteUser, true, 100, {"0 0D 1D00 9100 512"}, kNone, 'D'},
  OperationCase{"WriteUserRefused", kWriteUser, false, 519, {"0 0D 1D00 9100 512 -> refused"},
                kRefuseAll, 'C'},
  OperationCase{"WriteUserNull", [](TR4690_BOOT_LOADER& o) { return o.WRITE_USER_FLASH(nullptr); },
                false, 503, {}, kNone, 'C'},
  // the enable flag is tested before the buffer
  OperationCase{"WriteUserDisabled", [](TR4690_BOOT_LOADER& o) {
                  return o.ENABLE_USER_FLASH_WRITE(FALSE) && o.WRITE_USER_FLASH(nullptr);
                }, false, 528, {}, kNone, 'C'},
  // a running application: the user-flash write returns to the boot loader first...
  OperationCase{"WriteUserRunning", kWriteUser, true, 100,
                {"0 0F 3C00 0000 0", "0 0D 1D00 9100 512"}, kNone, 'C', true},
  OperationCase{"WriteUserNoBootLoader", kWriteUser, false, 501, {"0 0F 3C00 0000 0 -> refused"},
                kRefuseAll, 'C', true},
  // ...while every other service refuses without a request
  OperationCase{"RunningGet", Get(0x90000000, 1), false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningPut", Put(0x90000000, 1), false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningReload", kReload, false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningVerify", kVerify, false, 1001, {}, kNone, 'C', true},
  OperationCase{"RunningModule", kModule, false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningFirmware", kFirmware, false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningBootLoader", kBootLoader, false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningPld", kPld, false, 1001, {}, kNone, 0, true},
  OperationCase{"RunningReadUser", kReadUser, false, 516, {}, kNone, 0, true}),
  [](const testing::TestParamInfo<OperationCase>& info) { return info.param.label; });
// clang-format on

}  // namespace
}  // namespace modlib_test
