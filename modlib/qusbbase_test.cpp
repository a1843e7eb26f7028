// TQUSBBASE and its driver transport against a simulated module: device naming, the open
// sequence, every code the base and its transport store with the fault behind it, the
// last-error report and the factory's names.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "contract/driver_contract.h"
#include "modlib/testing/error_texts.h"
#include "modlib/testing/simulated_module_fixture.h"
#include "platform/testing/test_facilities.h"

namespace modlib_test {
namespace {

using Base = ModuleTest;

bool Open(TQUSBBASE& o) {
  return o.OpenQDevice(0);
}

// The model-name request straight through the transport.
bool NameRequest(TQUSBBASE& o) {
  uint8_t header[8], name[7];
  driver_contract::EncodeVendorRequest({1, 0x0B, 0, 0}, header);
  return o.DriverRequest(IOCTL_VENDOR_REQUEST, header, 8, name, sizeof name, 5000);
}

// The object ends whatever its close gives; the sanitizer build reports it if it is not freed.
TEST_F(Base, ReleaseReportsAFailedCloseAndStillEnds) {
  Start();
  auto* base = static_cast<IQUSBBASE*>(CreateInstance("QUSBBASE", 1, 0));
  ASSERT_TRUE(base != nullptr && base->OpenQDevice(0));
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(base->ReleaseInstance());
}

TEST_F(Base, DriverKindChoosesDeviceNameAndCode) {
  Start(R"({"slot":7,"naming":"both"})");
  for (int kind : {0, 1, 2, 255}) {
    TQUSBBASE& object = *NewBootLoader(static_cast<uint8_t>(kind));
    char name[7];
    ASSERT_TRUE(object.OpenDriverDevice(7) && object.GetModuleName(name) && object.CloseDevice());
    EXPECT_EQ(Traffic(),
              Lines{kind == 0 ? "QDevUsb7 220012 1 0B 0000 0000 7" : "QDev7 1 0B 0000 0000 7"});
  }
}

// Every accepted type opens with the same three requests, and a success leaves the last code;
// full-speed models are not asked for their speed.
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
  Start(R"({"modelName":"P310"})");
  EXPECT_TRUE(Open(*NewBase()));
  EXPECT_EQ(Traffic(), (Lines{"22005E 80", "1 0B 0000 0000 7"}));
}

// A fault and the code it leaves: on a fresh base object, `run` fails.
struct FaultCase {
  const char* label;
  const char* module;  // the module's scenario entry
  std::function<bool(TQUSBBASE&)> run;
  uint16_t code;
  size_t requests;  // that reached the module
  bool leftOpen;
};

class BaseFault : public ModuleTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(BaseFault, StoresItsCode) {
  const FaultCase& c = GetParam();
  Start(c.module);
  TQUSBBASE& object = *NewBase();
  EXPECT_FALSE(c.run(object));
  EXPECT_EQ(LastErrorCode(object), c.code);
  EXPECT_EQ(Traffic().size(), c.requests);
  EXPECT_EQ(object.GetDeviceHandle() != INVALID_HANDLE_VALUE, c.leftOpen);
  // The report gives the code with its text from the library's string table.
  LastErrorInfo info;
  EXPECT_TRUE(object.GetLastErrorInfo(&info));
  EXPECT_EQ(info.ErrorNumber, c.code);
  EXPECT_EQ(info.ErrorString, ErrorText(c.code));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, BaseFault, testing::Values(
  FaultCase{"DeviceInfoRefused", R"({"faults":[{"action":"fail","request":"deviceInfo"}]})",
            Open, 877, 1, false},
  // a refused type alone leaves the device open
  FaultCase{"TypeRefused", R"({"typeCode":34})", Open, 877, 1, true},
  FaultCase{"NameRefused", R"({"faults":[{"action":"fail","request":"modelName"}]})",
            Open, 103, 2, false},
  FaultCase{"SpeedRefused", R"({"faults":[{"action":"fail","request":"usbSpeed"}]})",
            Open, 104, 3, false},
  // GetUsbSpeed knows no such model (110), so the open reports 104
  FaultCase{"ModelUnknown", R"({"modelName":"r46-90"})", Open, 104, 2, false},
  FaultCase{"SpeedTwo", R"({"usbSpeed":2})", Open, 105, 3, false},
  FaultCase{"Speed255", R"({"usbSpeed":255})", Open, 105, 3, false},
  FaultCase{"CloseHandleFails", "{}", [](TQUSBBASE& o) {
    Open(o);
    qdev_test::FailNthCloseHandle(1);
    return o.CloseDevice();
  }, 106, 3, false},
  FaultCase{"NoDevice", "{}", [](TQUSBBASE& o) { uint8_t s; return o.GetUsbSpeed(&s); },
            107, 0, false},
  FaultCase{"NoNameBuffer", "{}", [](TQUSBBASE& o) { return Open(o) && o.GetModuleName(nullptr); },
            108, 3, true},
  FaultCase{"NameRefusedLater", R"({"faults":[{"action":"fail","request":"modelName","nth":2}]})",
            [](TQUSBBASE& o) { char n[7]; return Open(o) && o.GetModuleName(n); }, 109, 4, true},
  FaultCase{"SpeedRefusedLater", R"({"faults":[{"action":"fail","request":"usbSpeed","nth":2}]})",
            [](TQUSBBASE& o) { uint8_t s; return Open(o) && o.GetUsbSpeed(&s); }, 109, 4, true},
  FaultCase{"SpeedOfUnnamedModule", "{}",
            [](TQUSBBASE& o) { uint8_t s; return o.OpenDriverDevice(0) && o.GetUsbSpeed(&s); },
            110, 0, true},
  FaultCase{"RequestRefused", R"({"faults":[{"action":"fail"}]})",
            [](TQUSBBASE& o) { return o.OpenDriverDevice(0) && NameRequest(o); }, 1001, 1, true},
  FaultCase{"ShortRead", R"({"faults":[{"action":"short"}]})",
            [](TQUSBBASE& o) { return o.OpenDriverDevice(0) && NameRequest(o); }, 1001, 1, true},
  FaultCase{"EventNotClosed", "{}", [](TQUSBBASE& o) {
    if (!o.OpenDriverDevice(0) || !NameRequest(o)) return true;  // works without the fault
    qdev_test::FailNthCloseHandle(1);
    return NameRequest(o);
  }, 1001, 2, true},
  // no event: the request fails before the driver and leaves the code of the failed open
  FaultCase{"NoEvent", "{}", [](TQUSBBASE& o) {
    o.OpenDriverDevice(3);
    o.OpenDriverDevice(0);
    qdev_test::FailNthCreateEvent(1);
    return NameRequest(o);
  }, 102, 0, true}),
  [](const testing::TestParamInfo<FaultCase>& info) { return info.param.label; });
// clang-format on

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

  HMODULE elsewhere = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCSTR>(&std::strlen), &elsewhere));
  HMODULE executable = nullptr;
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

}  // namespace
}  // namespace modlib_test
