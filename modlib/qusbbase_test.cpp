// TQUSBBASE and its driver transport against a recording driver: device naming, exact byte
// counts, the time-out, the open sequence and the module-type check, every failure code, the
// last-error report and the factory's names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "modlib/driver_contract.h"
#include "modlib/test_driver.h"
#include "platform/test_facilities.h"

namespace modlib_test {
namespace {

using Transport = DriverTest;
using BaseObject = DriverTest;

// A run request's header, for requests without data.
struct Header {
  uint8_t bytes[8];
  Header() { driver_contract::EncodeVendorRequest({0, 0x0F, 0x3C00, 0}, bytes); }
};

class DeviceNaming : public DriverTest, public testing::WithParamInterface<uint8_t> {
 protected:
  void Publish() override {
    Serve("QDev7", &driver);
    Serve("QDevUsb7", &usb_);
  }
  RecordingDriver usb_;
};

TEST_P(DeviceNaming, DriverKindChoosesPathAndCode) {
  TQUSBBASE& object = *NewBootLoader(GetParam());
  ASSERT_TRUE(object.OpenDriverDevice(7));
  char name[7];
  ASSERT_TRUE(object.GetModuleName(name));
  const bool usb = GetParam() == 0;
  EXPECT_EQ(VendorRequestCode(object), usb ? 0x220012u : 0x22003Eu);
  EXPECT_EQ((usb ? usb_ : driver).Lines(),
            std::vector<std::string>{usb ? "220012 1 0B 0000 0000 7" : "22003E 1 0B 0000 0000 7"});
  EXPECT_TRUE((usb ? driver : usb_).Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceNaming, testing::Values(0, 1, 2, 255));

struct AnswerCase {
  uint32_t outputSize;
  Answer answer;
  bool succeeds;
};

class TransportAnswer : public DriverTest, public testing::WithParamInterface<AnswerCase> {};

// Only the exact byte count in both directions counts as success; no failure closes the device.
TEST_P(TransportAnswer, ExactByteCountDecides) {
  const AnswerCase& c = GetParam();
  driver.script = [&c](const Request&, size_t) { return std::optional<Answer>(c.answer); };
  TQUSBBASE& object = *NewBase();
  ASSERT_TRUE(object.OpenDriverDevice(0));
  std::vector<uint8_t> data(c.outputSize + 1);
  EXPECT_EQ(object.DriverRequest(0x22003E, Header().bytes, 8, c.outputSize ? data.data() : nullptr,
                                 c.outputSize, 5000),
            c.succeeds);
  EXPECT_EQ(LastErrorCode(object), c.succeeds ? 100 : 1001);
  EXPECT_NE(object.GetDeviceHandle(), INVALID_HANDLE_VALUE);
}

INSTANTIATE_TEST_SUITE_P(Answers, TransportAnswer,
                         testing::Values(AnswerCase{256, {false, 0, 256, {}}, true},
                                         AnswerCase{256, {false, 0, 255, {}}, false},
                                         AnswerCase{256, {false, 0, 257, {}}, false},
                                         AnswerCase{16, {false, ERROR_GEN_FAILURE, 16, {}}, false},
                                         AnswerCase{0, {false, 0, 0, {}}, true},
                                         AnswerCase{0, {false, 0, 1, {}}, false}));

TEST_F(Transport, NoDeviceAndMissingSlot) {
  TQUSBBASE& object = *NewBase();
  EXPECT_FALSE(object.DriverRequest(0x22003E, Header().bytes, 8, nullptr, 0, 5000));
  EXPECT_EQ(LastErrorCode(object), 107);
  ASSERT_TRUE(object.OpenDriverDevice(0));
  EXPECT_FALSE(object.OpenDriverDevice(5));  // closes slot 0's device first
  EXPECT_EQ(LastErrorCode(object), 102);
  EXPECT_EQ(object.GetDeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(object.GetDeviceInfo());
  EXPECT_EQ(LastErrorCode(object), 107);
  EXPECT_TRUE(driver.Requests().empty());
}

// No event: the request fails before the driver and leaves the code. An event that cannot be
// closed fails the request with 1001.
TEST_F(Transport, EventFaults) {
  TQUSBBASE& object = *NewBase();
  ASSERT_FALSE(object.OpenDriverDevice(9));
  ASSERT_TRUE(object.OpenDriverDevice(0));
  qdev_test::FailNthCreateEvent(1);
  EXPECT_FALSE(object.DriverRequest(0x22003E, Header().bytes, 8, nullptr, 0, 5000));
  EXPECT_EQ(LastErrorCode(object), 102);
  EXPECT_TRUE(driver.Requests().empty());
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(object.DriverRequest(0x22003E, Header().bytes, 8, nullptr, 0, 5000));
  EXPECT_EQ(LastErrorCode(object), 1001);
  EXPECT_EQ(driver.Requests().size(), 1u);
}

// A request never answered costs one time-out on the platform clock (run fast here), is
// withdrawn from the driver, and the next request on the object works.
TEST_F(Transport, TimeOutCostsOneRequestTimeout) {
  qdev_test::SetTimeScale(50);
  driver.script = NeverAt(0);
  TQUSBBASE& object = *NewBase();
  ASSERT_TRUE(object.OpenDriverDevice(0));
  uint8_t header[8];
  driver_contract::EncodeVendorRequest({1, 0x0E, 0, 0x8300}, header);
  uint8_t data[64];
  const uint64_t start = GetTickCount64();
  EXPECT_FALSE(object.DriverRequest(0x22003E, header, 8, data, sizeof data, 5000));
  const uint64_t elapsed = GetTickCount64() - start;
  EXPECT_EQ(LastErrorCode(object), 1001);
  EXPECT_GE(elapsed, 5000u);
  EXPECT_LT(elapsed, 7500u);
  for (int i = 0; i < 200 && driver.CancelCount() == 0; ++i) Sleep(50);
  EXPECT_EQ(driver.CancelCount(), 1u);
  EXPECT_TRUE(object.DriverRequest(0x22003E, header, 8, data, sizeof data, 5000));
  EXPECT_EQ(data[63], ModuleByte(0x83000000 + 63));
}

TEST_F(BaseObject, OpenReadsDeviceInfoNameAndSpeed) {
  TQUSBBASE& object = *NewBase();
  ASSERT_TRUE(object.OpenQDevice(0));
  EXPECT_EQ(driver.Lines(), (std::vector<std::string>{"22005E 80", "22003E 1 0B 0000 0000 7",
                                                      "22003E 1 06 0000 0000 1"}));
  EXPECT_EQ(UsbSpeed(object), 1);
  EXPECT_EQ(LastErrorCode(object), 100);
}

// One open against one module: the result, the code and how many requests were made.
struct OpenCase {
  uint32_t typeCode;
  const char* name;
  uint8_t speed;
  int failAt;  // request refused, -1: none
  uint16_t code;
  size_t requests;
  bool leftOpen;
};

class BaseOpen : public DriverTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(BaseOpen, Outcome) {
  const OpenCase& c = GetParam();
  driver.module = FakeModule{c.typeCode, c.name, c.speed, 'C'};
  if (c.failAt >= 0) driver.script = FailAt(static_cast<size_t>(c.failAt));
  TQUSBBASE& object = *NewBase();
  EXPECT_EQ(object.OpenQDevice(0), c.code == 100);
  EXPECT_EQ(LastErrorCode(object), c.code);
  EXPECT_EQ(driver.Requests().size(), c.requests);
  EXPECT_EQ(object.GetDeviceHandle() != INVALID_HANDLE_VALUE, c.leftOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, BaseOpen,
    testing::Values(  // every listed type opens
        OpenCase{38, "R46-90", 1, -1, 100, 3, true}, OpenCase{31, "R46-90", 0, -1, 100, 3, true},
        OpenCase{30, "R46-90", 1, -1, 100, 3, true}, OpenCase{32, "R46-90", 1, -1, 100, 3, true},
        OpenCase{39, "R46-90", 1, -1, 100, 3, true}, OpenCase{33, "R46-90", 1, -1, 100, 3, true},
        OpenCase{36, "R46-90", 1, -1, 100, 3, true}, OpenCase{37, "R46-90", 1, -1, 100, 3, true},
        // a refused type stops at once and leaves the device open
        OpenCase{34, "R46-90", 1, -1, 877, 1, true},
        OpenCase{0xFFFE, "R46-90", 1, -1, 877, 1, true},
        // full-speed models are not asked for their speed
        OpenCase{32, "P310", 1, -1, 100, 2, true}, OpenCase{32, "P620", 1, -1, 100, 2, true},
        // every other failure closes the device
        OpenCase{32, "R46-90", 1, 0, 877, 1, false}, OpenCase{32, "R46-90", 1, 1, 103, 2, false},
        OpenCase{32, "R46-90", 1, 2, 104, 3, false}, OpenCase{32, "R46-90", 2, -1, 105, 3, false},
        OpenCase{32, "R46-90", 255, -1, 105, 3, false},
        // GetUsbSpeed knows no such model (110), so the open reports 104
        OpenCase{32, "r46-90", 1, -1, 104, 2, false}));

// The device a refused type left open is closed by the next open, which ignores that close's
// result: with the very next CloseHandle failing, the open still succeeds.
TEST_F(BaseObject, NextOpenClosesTheDeviceLeftOpen) {
  driver.module.typeCode = 34;
  TQUSBBASE& object = *NewBase();
  ASSERT_FALSE(object.OpenQDevice(0));
  driver.module.typeCode = 32;
  qdev_test::FailNthCloseHandle(1);
  EXPECT_TRUE(object.OpenQDevice(0));
  EXPECT_EQ(LastErrorCode(object), 877);
}

TEST_F(BaseObject, OperationFailures) {
  TQUSBBASE& object = *NewBase();
  char name[8];
  uint8_t speed = 0;
  EXPECT_FALSE(object.GetModuleName(name));
  EXPECT_EQ(LastErrorCode(object), 107);
  EXPECT_FALSE(object.GetUsbSpeed(&speed));
  EXPECT_EQ(LastErrorCode(object), 107);
  ASSERT_TRUE(object.OpenQDevice(0));
  EXPECT_EQ(LastErrorCode(object), 107);  // a success leaves the code
  EXPECT_FALSE(object.GetModuleName(nullptr));
  EXPECT_EQ(LastErrorCode(object), 108);
  driver.script = FailAt(3);
  std::memset(name, 'x', sizeof name);
  EXPECT_FALSE(object.GetModuleName(name));
  EXPECT_EQ(LastErrorCode(object), 109);
  EXPECT_EQ(name[7], 'x');  // 7 bytes only
  driver.script = FailAt(4);
  EXPECT_FALSE(object.GetUsbSpeed(&speed));
  EXPECT_EQ(LastErrorCode(object), 109);
}

TEST_F(BaseObject, CloseAndRelease) {
  TQUSBBASE& object = *NewBase();
  // Closed: no system call, so the armed failure hits the open's first request instead.
  qdev_test::FailNthCloseHandle(1);
  EXPECT_TRUE(object.CloseDevice());
  EXPECT_FALSE(object.OpenQDevice(0));
  EXPECT_EQ(LastErrorCode(object), 877);

  ASSERT_TRUE(object.OpenQDevice(0));
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(object.CloseDevice());
  EXPECT_EQ(LastErrorCode(object), 106);
  EXPECT_EQ(object.GetDeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(object.CloseDevice());

  ASSERT_TRUE(object.OpenQDevice(0));
  qdev_test::FailNthCloseHandle(1);
  EXPECT_FALSE(Release(&object));  // freed all the same: the sanitizer build sees no leak
}

TEST(LastErrorInfoReport, FallbackTextAndCode199) {
  // The fallback text in code page 1251.
  const char* hex =
      "CEF8E8E1EAE0205451555342424153453A3A4765744C6173744572726F72496E666F28292E20CDE5E2EE"
      "E7ECEEE6EDEE20EFEEEBF3F7E8F2FC20F1F2F0EEEAF320F120EFEEF1EBE5E4EDE5E920EEF8E8E1EAEEE9"
      "20EFEEF1EAEEEBFCEAF320EDE520E2FBEFEEEBEDE8EBE0F1FC2057696E41504920F4F3EDEAF6E8FF204C"
      "6F6164537472696E6728292E";
  std::string expected;
  for (; *hex != '\0'; hex += 2) expected += static_cast<char>(std::stoi({hex, 2}, nullptr, 16));
  ASSERT_EQ(expected.size(), 138u);

  auto* object = static_cast<IQUSBBASE*>(CreateInstance("QUSBBASE", 1, 0));
  EXPECT_FALSE(object->GetLastErrorInfo(nullptr));
  LastErrorInfo info;
  std::memset(&info, 0x7F, sizeof info);
  EXPECT_FALSE(object->GetLastErrorInfo(&info));
  EXPECT_EQ(info.ErrorNumber, 199u);
  EXPECT_EQ(std::string(info.ErrorString, 139), expected + '\0');
  EXPECT_EQ(LastErrorCode(*static_cast<TQUSBBASE*>(object)), 100);
  object->ReleaseInstance();
}

struct NameCase {
  const char* name;
  int kind;  // 0 null, 1 base, 2 boot loader
};

class Factory : public testing::TestWithParam<NameCase> {};

TEST_P(Factory, NamesIgnoreLetterCaseOnly) {
  void* made = CreateInstance(GetParam().name, 1, 0);
  ASSERT_EQ(made != nullptr, GetParam().kind != 0);
  if (GetParam().kind == 1) {
    auto* object = static_cast<IQUSBBASE*>(made);
    EXPECT_EQ(dynamic_cast<TR4690_BOOT_LOADER*>(object), nullptr);
    EXPECT_TRUE(object->ReleaseInstance());
  } else if (GetParam().kind == 2) {
    auto* object = static_cast<IR4690_BOOT_LOADER*>(made);
    EXPECT_NE(dynamic_cast<TR4690_BOOT_LOADER*>(object), nullptr);
    EXPECT_TRUE(object->ReleaseInstance());
  }
}

INSTANTIATE_TEST_SUITE_P(Names, Factory,
                         testing::Values(NameCase{"QUSBBASE", 1}, NameCase{"qusbbase", 1},
                                         NameCase{"QusbBase", 1}, NameCase{"R4690_BOOT_LOADER", 2},
                                         NameCase{"r4690_boot_loader", 2}, NameCase{"QUSBBASE ", 0},
                                         NameCase{" QUSBBASE", 0},
                                         NameCase{"R4690_BOOT_LOADER ", 0}, NameCase{"QUSBBAS", 0},
                                         NameCase{"", 0}, NameCase{nullptr, 0}));

}  // namespace
}  // namespace modlib_test
