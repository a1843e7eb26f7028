// TQUSBBASE with its driver transport, and TR4690_BOOT_LOADER, against the in-process simulator
// playing the driver and its modules in a device folder of the test's own: device naming, the
// open sequences, the request sequence and headers of each operation with every code it stores,
// the last-error report, the factory's names and the C interface's refusals. The requests of the
// update's own successful operations, and the bytes that reach the module, are pinned by the
// end-to-end traffic records; the chunking of block transfers and their time-outs by the
// boot_loader fuzz target.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "contract/driver_contract.h"
#include "modlib/qusbbase.h"
#include "modlib/r4690_boot_loader.h"
#include "modlib/r4690module.h"
#include "modlib/testing/error_texts.h"
#include "platform/testing/test_facilities.h"
#include "sim/scenario_json.h"
#include "sim/simulator.h"

// Friend of TQUSBBASE and TR4690_BOOT_LOADER.
struct ModlibTestPeer {
  static uint16_t& LastErrorCode(TQUSBBASE& o) { return o.LastErrorCode; }
};

namespace modlib_test {
namespace {

using Lines = std::vector<std::string>;

uint16_t& (*const LastErrorCode)(TQUSBBASE&) = ModlibTestPeer::LastErrorCode;

// The platform's fault hooks are cleared, and every object made here released, after each test.
class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = (std::filesystem::temp_directory_path() /
               ("modlib-test-" + std::to_string(std::random_device()())))
                  .string();
    std::filesystem::create_directories(folder_);
    ASSERT_EQ(setenv("QDEV_DEVICE_DIR", folder_.c_str(), 1), 0);  // where CreateFileA looks
  }
  void TearDown() override {
    for (TQUSBBASE* object : objects_) object->ReleaseInstance();
    simulator_.Stop();
    qdev_test::ClearFaults();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // (Re)starts the simulator with these module entries of a scenario (JSON objects).
  void Start(const std::string& modules = "{}") {
    std::string error;
    simulator_.Stop();
    ASSERT_TRUE(simulator_.LoadScenario(R"({"modules":[)" + modules + "]}", &error)) << error;
    ASSERT_TRUE(simulator_.Start(folder_, &error)) << error;
  }
  // Replaces the faults of the module in slot 0 (a JSON list); they count from now.
  void SetFaults(const std::string& faults) {
    sim::Scenario scenario;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(R"({"modules":[{"faults":)" + faults + "}]}", &scenario, &error))
        << error;
    ASSERT_TRUE(simulator_.SetFaults(0, scenario.modules[0].faults));
  }
  // The traffic since the last call, shortened: "1 0E 3000 9100 256" for an answered vendor
  // request (ioctl 22003E) of QDev0, with the device name in front for any other device, the
  // ioctl for any other, and "-> refused" and the like behind for any other outcome.
  Lines Traffic() {
    static const std::regex noise(
        "^QDev0 |ioctl=0x(22003E )?|dir=|req=0x|value=0x|index=0x|len=| -> ok$| addr=0x[0-9A-F]+|"
        " (deviceInfo|modelName|usbSpeed|read|write|run|reloadPld|verifyPld)(?= )");
    Lines lines;
    for (const std::string& line : simulator_.Traffic())
      lines.push_back(std::regex_replace(line, noise, ""));
    simulator_.ClearTraffic();
    return lines;
  }

  TQUSBBASE* NewBase() {
    void* made = CreateInstance("QUSBBASE", 1, 0);
    objects_.push_back(static_cast<TQUSBBASE*>(static_cast<IQUSBBASE*>(made)));
    return objects_.back();
  }
  TR4690_BOOT_LOADER* NewBootLoader(uint8_t driverKind = 1, int32_t skipNameCheck = 0) {
    auto* object = static_cast<TR4690_BOOT_LOADER*>(static_cast<IR4690_BOOT_LOADER*>(
        CreateInstance("R4690_BOOT_LOADER", driverKind, skipNameCheck)));
    objects_.push_back(object);
    return object;
  }

 private:
  sim::Simulator simulator_;
  std::string folder_;
  std::vector<TQUSBBASE*> objects_;
};

using Base = ModuleTest;
using Operation = std::function<bool(TR4690_BOOT_LOADER&)>;
const char kRefuseAll[] = R"([{"action":"fail"}])";
uint8_t gBuffer[4097];

// An operation on the object under test `o`, as a table's cell, and what it reads into.
#define OP(...) [](auto& o) { return __VA_ARGS__; }
char gName[7];
uint8_t gSpeed;

bool Open(TQUSBBASE& o) {
  return o.OpenQDevice(0);
}

// The model-name request straight through the transport.
bool NameRequest(TQUSBBASE& o) {
  uint8_t header[8];
  driver_contract::EncodeVendorRequest({1, 0x0B, 0, 0}, header);
  return o.DriverRequest(IOCTL_VENDOR_REQUEST, header, 8, gName, sizeof gName, 5000);
}

// A module whose request of this kind fails the nth time.
std::string Failing(const char* request, int nth = 1) {
  return R"({"faults":[{"action":"fail","request":")" + std::string(request) + R"(","nth":)" +
         std::to_string(nth) + "}]}";
}

// The object ends whatever its close gives; the sanitizer build reports it if it is not freed.
TEST_F(Base, ReleaseReportsAFailedCloseAndStillEnds) {
  Start();
  auto* base = static_cast<IQUSBBASE*>(CreateInstance("QUSBBASE", 1, 0));
  ASSERT_TRUE(base != nullptr && base->OpenQDevice(0));
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(base->ReleaseInstance());
}

// DriverKind 0 names the device QDevUsb and uses the USB code, except for the PLD and
// user-flash write requests; its open reads no device information and takes any module type.
TEST_F(Base, DriverKindChoosesDeviceNameAndCode) {
  Start(R"({"slot":7,"naming":"both"})");
  for (int kind : {0, 1, 2, 255}) {
    TQUSBBASE& object = *NewBootLoader(static_cast<uint8_t>(kind));
    ASSERT_TRUE(object.OpenDriverDevice(7) && object.GetModuleName(gName) && object.CloseDevice());
    EXPECT_EQ(Traffic(),
              Lines{kind == 0 ? "QDevUsb7 220012 1 0B 0000 0000 7" : "QDev7 1 0B 0000 0000 7"});
  }
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

// Every accepted type opens with the same three requests, and a success leaves the last code.
// That full-speed models are not asked for their speed, the boot loader's opens of P310 and P620
// show by their count of requests.
TEST_F(Base, OpenReadsDeviceInfoNameAndSpeed) {
  for (int type : {38, 31, 30, 32, 39, 33, 36, 37}) {
    Start(R"({"typeCode":)" + std::to_string(type) + "}");
    TQUSBBASE& object = *NewBase();
    char name[7];
    ASSERT_FALSE(object.GetModuleName(name));
    EXPECT_TRUE(Open(object)) << type;
    EXPECT_EQ(LastErrorCode(object), 107);
    EXPECT_EQ(Traffic(), (Lines{"22005E 80", "1 0B 0000 0000 7", "1 06 0000 0000 1"}));
  }
}

// An operation on a fresh object and the code it leaves: a base object, or a boot loader that
// skips its name check or not.
constexpr int32_t kBase = 2;
struct FaultCase {
  const char* label;
  std::string module;  // its scenario entry; its faults count from the object's first request
  std::function<bool(TQUSBBASE&)> run;
  uint16_t code;
  size_t requests;  // that reached the module
  bool leftOpen, ok = false;
  int32_t skipNameCheck = kBase;
};

class ObjectOutcome : public ModuleTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(ObjectOutcome, CodeAndReport) {
  const FaultCase& c = GetParam();
  Start(c.module);
  TQUSBBASE& object = c.skipNameCheck == kBase ? *NewBase() : *NewBootLoader(1, c.skipNameCheck);
  EXPECT_EQ(c.run(object), c.ok);
  const bool open = object.GetDeviceHandle() != INVALID_HANDLE_VALUE;
  EXPECT_EQ(std::make_tuple(LastErrorCode(object), Traffic().size(), open),
            std::make_tuple(c.code, c.requests, c.leftOpen));
  // The report gives the code with its text from the library's string table.
  LastErrorInfo info;
  EXPECT_TRUE(object.GetLastErrorInfo(&info));
  EXPECT_EQ(std::make_pair(info.ErrorNumber, std::string(info.ErrorString)),
            std::make_pair(uint32_t{c.code}, ErrorText(c.code)));
}

// clang-format off
const FaultCase kFaults[] = {
  {"DeviceInfoRefused", Failing("deviceInfo"), Open, 877, 1, false},
  {"TypeRefused", R"({"typeCode":34})", Open, 877, 1, true},  // a refused type leaves it open
  {"NameRefused", Failing("modelName"), Open, 103, 2, false},
  {"SpeedRefused", Failing("usbSpeed"), Open, 104, 3, false},
  // GetUsbSpeed knows no such model (110), so the open reports 104
  {"ModelUnknown", R"({"modelName":"r46-90"})", Open, 104, 2, false},
  {"SpeedTwo", R"({"usbSpeed":2})", Open, 105, 3, false},
  {"Speed255", R"({"usbSpeed":255})", Open, 105, 3, false},
  {"CloseHandleFails", "{}", OP((Open(o), qdev_test::FailNthCloseHandle(1), o.CloseDevice())),
   106, 3, false},
  {"NoDevice", "{}", OP(o.GetUsbSpeed(&gSpeed)), 107, 0, false},
  {"NoNameBuffer", "{}", OP(Open(o) && o.GetModuleName(nullptr)), 108, 3, true},
  {"NameRefusedLater", Failing("modelName", 2), OP(Open(o) && o.GetModuleName(gName)), 109, 4,
   true},
  {"SpeedRefusedLater", Failing("usbSpeed", 2), OP(Open(o) && o.GetUsbSpeed(&gSpeed)), 109, 4,
   true},
  {"SpeedOfUnnamedModule", "{}", OP(o.OpenDriverDevice(0) && o.GetUsbSpeed(&gSpeed)), 110, 0, true},
  {"RequestRefused", R"({"faults":[{"action":"fail"}]})",
   OP(o.OpenDriverDevice(0) && NameRequest(o)), 1001, 1, true},
  {"ShortRead", R"({"faults":[{"action":"short"}]})", OP(o.OpenDriverDevice(0) && NameRequest(o)),
   1001, 1, true},
  // true without the fault
  {"EventNotClosed", "{}", OP(!o.OpenDriverDevice(0) || !NameRequest(o) ||
                              (qdev_test::FailNthCloseHandle(1), NameRequest(o))), 1001, 2, true},
  // no event: the request fails before the driver and leaves the code of the failed open
  {"NoEvent", "{}", OP((o.OpenDriverDevice(3), o.OpenDriverDevice(0),
                        qdev_test::FailNthCreateEvent(1), NameRequest(o))), 102, 0, true},
  // The boot loader's open tries type 32, then type 39, then checks the name and runs the boot
  // loader; type 39 opens with the code of the first attempt.
  {"Healthy", "{}", Open, 100, 5, true, true, 0},
  {"TypeCode39", R"({"typeCode":39})", Open, 877, 6, true, true, 0},
  // neither type, or the first attempt failing past its type check: the second attempt's
  // mismatch leaves the device open
  {"NeitherType", R"({"typeCode":33})", Open, 877, 2, true, false, 0},
  {"FirstAttemptFailsLate", R"({"faults":[{"action":"fail","nth":2}]})", Open, 877, 3, true,
   false, 0},
  // the second attempt's own failures
  {"SecondAttemptFails", R"({"typeCode":39,"faults":[{"action":"fail","nth":3}]})", Open, 103, 3,
   false, false, 0},
  {"SecondAttemptOtherModel", R"({"typeCode":39,"modelName":"R46-90X"})", Open, 104, 3, false,
   false, 0},
  // the name check's read, the run request, and a full-speed model's name
  {"NameCheckRefused", R"({"faults":[{"action":"fail","nth":4}]})", Open, 1001, 4, false, false, 0},
  {"RunRefused", R"({"faults":[{"action":"fail","nth":5}]})", Open, 1001, 5, false, false, 0},
  {"FullSpeedModel", R"({"modelName":"P310"})", Open, 1001, 3, false, false, 0},
  // a skipped name check opens another model and still runs the boot loader
  {"NameCheckSkipped", R"({"modelName":"P620"})", Open, 100, 3, true, true, -1}};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Objects, ObjectOutcome, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.label); });

// Without a text for the code (here: resources looked up in a module that has none, the C
// library), the report falls back to 199 and the fixed text, and the code itself stays.
TEST(LastErrorInfoReport, FallbackTextAndCode199) {
  // The fallback text in code page 1251.
  const char* hex =
      "CEF8E8E1EAE0205451555342424153453A3A4765744C6173744572726F72496E666F28292E20CDE5E2EE"
      "E7ECEEE6EDEE20EFEEEBF3F7E8F2FC20F1F2F0EEEAF320F120EFEEF1EBE5E4EDE5E920EEF8E8E1EAEEE9"
      "20EFEEF1EAEEEBFCEAF320EDE520E2FBEFEEEBEDE8EBE0F1FC2057696E41504920F4F3EDEAF6E8FF204C"
      "6F6164537472696E6728292E";
  std::string expected;
  for (; *hex != '\0'; hex += 2) expected += static_cast<char>(std::stoi({hex, 2}, nullptr, 16));

  HMODULE elsewhere = nullptr, executable = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCSTR>(&std::strlen), &elsewhere));
  ASSERT_TRUE(GetModuleHandleExA(0, nullptr, &executable));
  ASSERT_NE(elsewhere, executable);
  TQUSBBASE& object = *new TQUSBBASE(elsewhere);
  char name[7];
  ASSERT_FALSE(object.GetModuleName(name));  // 107: no device
  EXPECT_FALSE(object.GetLastErrorInfo(nullptr));
  LastErrorInfo info;
  std::memset(&info, 0x7F, sizeof info);
  EXPECT_FALSE(object.GetLastErrorInfo(&info));
  EXPECT_EQ(info.ErrorNumber, 199u);
  EXPECT_EQ(std::string(info.ErrorString, 139), expected + '\0');
  EXPECT_EQ(LastErrorCode(object), 107);
  object.ReleaseInstance();
}

// Names match without regard to letter case and nothing else: 1 a base object, 2 a boot loader.
TEST(Factory, NamesIgnoreLetterCaseOnly) {
  const std::pair<const char*, int> cases[] = {
      {"QUSBBASE", 1},          {"qusbbase", 1},  {"QusbBase", 1},  {"R4690_BOOT_LOADER", 2},
      {"r4690_boot_loader", 2}, {"QUSBBASE ", 0}, {" QUSBBASE", 0}, {"R4690_BOOT_LOADER ", 0},
      {"QUSBBAS", 0},           {"", 0},          {nullptr, 0}};
  for (const auto& [name, kind] : cases) {
    void* made = CreateInstance(name, 1, 0);
    ASSERT_EQ(made != nullptr, kind != 0) << (name ? name : "null");
    if (made == nullptr) continue;
    // Which class a name makes, the tests of each class show through the fixture's objects.
    IQUSBBASE* base =
        kind == 1 ? static_cast<IQUSBBASE*>(made) : static_cast<IR4690_BOOT_LOADER*>(made);
    EXPECT_TRUE(base->ReleaseInstance());
  }
}

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
  const bool ok = c.run(object);
  EXPECT_EQ(std::make_tuple(ok, LastErrorCode(object), Traffic()),
            std::make_tuple(c.ok, c.code, c.traffic));
}

ModuleDescription gModule;
FirmwareDescription gFirmware;
BootLoaderDescription gBootLoader;
PldInfo gPld;
const Operation kModule = OP(o.GET_MODULE_DESCRIPTION(&gModule));
const Operation kFirmware = OP(o.GET_FIRMWARE_DESCRIPTION(&gFirmware));
const Operation kBootLoader = OP(o.GET_BOOT_LOADER_DESCRIPTION(&gBootLoader));
const Operation kPld = OP(o.GET_PLD_INFO(&gPld));
const Operation kReload = OP(o.StartReloadPld());
const Operation kVerify = OP(o.VerifyPld());
const Operation kReadUser = OP(o.READ_USER_FLASH(gBuffer));
const Operation kWriteUser = OP(o.WRITE_USER_FLASH(gBuffer));
const char* const kNone = nullptr;

// clang-format off
const OperationCase kOperations[] = {
  {"GetRefusedAddress", OP(o.GetArray(0x90000000, gBuffer, 4097)), false, 1001,
   {"1 0E 0000 9000 4096", "1 0E 1000 9000 1 -> refused"},
   R"([{"action":"fail","address":"0x90001000"}])"},
  {"GetNull", OP(o.GetArray(0x90000000, nullptr, 1)), false, 1001, {}},
  {"PutZero", OP(o.PutArray(0x90000000, gBuffer, 0)), false, 1001, {}},
  {"RunApplicationFlag5", OP(o.RunMcuApplication(0x83000000, 5)), true, 100, {"0 0F 0000 0001 0"}},
  {"RunApplicationNoFlag", OP(o.RunMcuApplication(0x83000000, FALSE)), true, 100,
   {"0 0F 0000 0000 0"}},
  {"RunBootLoaderFlagTrue", OP(o.RunMcuApplication(0x83003C00, TRUE)), true, 100,
   {"0 0F 3C00 0000 0"}, kNone, 0, true},
  {"RunOtherAddress", OP(o.RunMcuApplication(0x83000004, TRUE)), false, 1001, {}},
  {"RunRefused", OP(o.RunMcuApplication(0x83000000, TRUE)), false, 1001,
   {"0 0F 0000 0001 0 -> refused"}, kRefuseAll},
  // a refused run leaves the boot-loader services open: the next read goes out (and finds the
  // application still running)
  {"RunRefusedWhileRunning",
   OP(o.RunMcuApplication(0x83000000, TRUE) || o.GetArray(0x90000000, gBuffer, 1)), false, 1001,
   {"0 0F 0000 0001 0 -> refused", "1 0E 0000 9000 1 -> refused"},
   R"([{"action":"fail","nth":1}])", 0, true},
  {"ReloadRefused", kReload, false, 519, {"0 0C 0000 0000 0 -> refused"}, kRefuseAll},
  {"VerifyUnread", kVerify, true, 100, {}},
  {"VerifyA", kVerify, true, 100, {}, kNone, 'A'},
  {"VerifyD", kVerify, true, 100, {"0 07 0000 0000 0"}, kNone, 'D'},
  {"VerifyRefused", kVerify, false, 519, {"0 07 0000 0000 0 -> refused"}, kRefuseAll, 'C'},
  // the second address serves; the first read's code stays behind
  {"ModuleSecond", kModule, true, 1001, {"1 0E 3000 9100 256 -> refused", "1 0E 3000 8300 256"},
   R"([{"action":"fail","address":"0x91003000"}])"},
  {"ModuleNone", kModule, false, 1501,
   {"1 0E 3000 9100 256 -> refused", "1 0E 3000 8300 256 -> refused"}, kRefuseAll},
  {"FirmwareNone", kFirmware, false, 1501,
   {"1 0E 1F00 9100 227 -> refused", "1 0E 2F00 8300 227 -> refused"}, kRefuseAll},
  {"BootLoaderNone", kBootLoader, false, 1501, {"1 0E 3FB0 8300 79 -> refused"}, kRefuseAll},
  {"PldNone", kPld, false, 1501, {"1 0E 0000 8F00 512 -> refused"}, kRefuseAll},
  {"ReadUser", kReadUser, true, 100, {"1 0E 1D00 9100 512"}},
  {"ReadUserNone", kReadUser, false, 516,
   {"1 0E 1D00 9100 512 -> refused", "1 0E 2D00 8300 512 -> refused"}, kRefuseAll},
  {"ReadUserNull", OP(o.READ_USER_FLASH(nullptr)), false, 503, {}},
  {"WriteUserA", kWriteUser, true, 100, {"0 0D 2D00 8300 512"}, kNone, 'A'},
  {"WriteUserB", kWriteUser, true, 100, {"0 0D 2D00 8300 512"}, kNone, 'B'},
  {"WriteUserC", kWriteUser, true, 100, {"0 0D 1D00 9100 512"}, kNone, 'C'},
  {"WriteUserD", kWriteUser, true, 100, {"0 0D 1D00 9100 512"}, kNone, 'D'},
  {"WriteUserRefused", kWriteUser, false, 519, {"0 0D 1D00 9100 512 -> refused"}, kRefuseAll, 'C'},
  {"WriteUserNull", OP(o.WRITE_USER_FLASH(nullptr)), false, 503, {}, kNone, 'C'},
  // the enable flag is tested before the buffer
  {"WriteUserDisabled", OP(o.ENABLE_USER_FLASH_WRITE(FALSE) && o.WRITE_USER_FLASH(nullptr)), false,
   528, {}, kNone, 'C'},
  // a running application: the user-flash write returns to the boot loader first...
  {"WriteUserRunning", kWriteUser, true, 100, {"0 0F 3C00 0000 0", "0 0D 1D00 9100 512"}, kNone,
   'C', true},
  {"WriteUserNoBootLoader", kWriteUser, false, 501, {"0 0F 3C00 0000 0 -> refused"}, kRefuseAll,
   'C', true},
  // ...while every other service refuses without a request (each from a fresh code: succeeding,
  // or leaving another code than 1001, is a failure)
  {"RunningOthers", [](TR4690_BOOT_LOADER& o) {
    for (const Operation& op : {Operation(OP(o.GetArray(0x90000000, gBuffer, 1))),
                                Operation(OP(o.PutArray(0x90000000, gBuffer, 1))), kReload,
                                kVerify, kModule, kFirmware, kBootLoader, kPld}) {
      if ((LastErrorCode(o) = 100, op(o)) || LastErrorCode(o) != 1001) return true;
    }
    return false;
  }, false, 1001, {}, kNone, 'C', true},
  {"RunningReadUser", kReadUser, false, 516, {}, kNone, 0, true}};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Operations, BootLoaderOperation, testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.label); });

// The C interface (r4690module.h): every function refuses a null handle and a null argument. What
// each function sends is its C++ operation's (above); a module opened by slot or by serial
// number, used and closed through it, is the Python package's tests' (python/tests, run by
// scripts/check-install).
TEST(CInterfaceArguments, NullHandlesAndPointersAreRefused) {
  ModuleDescription module;
  FirmwareDescription firmware;
  BootLoaderDescription bootLoader;
  PldInfo pld;
  uint8_t bytes[R4690_USER_FLASH_SIZE];
  R4690Module* none = nullptr;
  // clang-format off
  const std::vector<int32_t> results = {
      r4690_close(none), r4690_module_description(none, &module),
      r4690_firmware_description(none, &firmware), r4690_boot_loader_description(none, &bootLoader),
      r4690_pld_info(none, &pld), r4690_read_user_flash(none, bytes),
      r4690_write_user_flash(none, bytes), r4690_read_memory(none, R4690_SEL_BOOT_FLASH, bytes, 1),
      r4690_write_memory(none, R4690_SEL_BOOT_FLASH, bytes, 1), r4690_start_application(none),
      r4690_start_boot_loader(none), r4690_restart_pld(none), r4690_verify_pld(none),
      r4690_last_error(none)};
  // clang-format on
  EXPECT_EQ(results, std::vector<int32_t>(results.size(), R4690_ERROR_NULL_HANDLE));

  EXPECT_EQ(r4690_open_slot(0, R4690_DRIVER_QDEV, nullptr), R4690_ERROR_NULL_ARGUMENT);
  R4690Module* opened = reinterpret_cast<R4690Module*>(&module);  // the open must set it null
  EXPECT_EQ(r4690_open_serial(nullptr, R4690_DRIVER_QDEV, &opened, nullptr),
            R4690_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(opened, nullptr);

  char text[8];
  EXPECT_EQ(r4690_error_text(R4690_ERROR_NOT_FOUND, nullptr, sizeof text),
            R4690_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(r4690_error_text(R4690_ERROR_NOT_FOUND, text, sizeof text), R4690_OK);
  EXPECT_EQ(std::string(text), ErrorText(R4690_ERROR_NOT_FOUND).substr(0, sizeof text - 1));
  EXPECT_EQ(r4690_error_text(12345, text, sizeof text), R4690_ERROR_NO_TEXT);
  EXPECT_EQ(text[0], '\0');
}

}  // namespace
}  // namespace modlib_test
