// The contract's byte layouts and names as both sides of the driver see them: a field written in
// the wrong order or a device name formatted differently would leave the library and the driver
// talking past each other.
#include "contract/driver_contract.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

namespace dc = driver_contract;

TEST(DriverContract, DeviceNamesAndTheirPaths) {
  struct Row {
    dc::DeviceNaming naming;
    uint16_t slot;
    const char* name;
    const char* path;
  };
  const Row rows[] = {
      {dc::DeviceNaming::kQDev, 0, "QDev0", "\\\\.\\QDev0"},
      {dc::DeviceNaming::kQDev, 5, "QDev5", "\\\\.\\QDev5"},
      {dc::DeviceNaming::kQDev, 10, "QDev10", "\\\\.\\QDev10"},
      {dc::DeviceNaming::kQDevUsb, 127, "QDevUsb127", "\\\\.\\QDevUsb127"},
      {dc::DeviceNaming::kQDevUsb, 65535, "QDevUsb65535", "\\\\.\\QDevUsb65535"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(dc::DeviceName(row.naming, row.slot).text, row.name);
    char path[32];
    std::snprintf(path, sizeof path, dc::DevicePathFormat(row.naming), static_cast<int>(row.slot));
    EXPECT_STREQ(path, row.path);
    EXPECT_EQ(std::string(dc::kDeviceNamespacePrefix) + row.name, row.path);
  }
  EXPECT_EQ(std::string(dc::DeviceName(dc::DeviceNaming::kQDevUsb, 65535).text).size(),
            dc::kLongestDeviceName);
}

TEST(DriverContract, VendorRequestHeaderIsFourLittleEndianWords) {
  uint8_t bytes[dc::kVendorRequestSize];
  dc::EncodeVendorRequest({1, 0x0E, 0x3000, 0x9100}, bytes);
  const uint8_t expected[] = {0x01, 0x00, 0x0E, 0x00, 0x00, 0x30, 0x00, 0x91};
  EXPECT_EQ(std::string(bytes, bytes + sizeof bytes), std::string(expected, expected + 8));
  const dc::VendorRequest back = dc::DecodeVendorRequest(bytes);
  EXPECT_EQ(back.Direction, 1);
  EXPECT_EQ(back.RequestCode, 0x0E);
  EXPECT_EQ(back.Value, 0x3000);
  EXPECT_EQ(back.Index, 0x9100);
}

TEST(DriverContract, ModuleTypeCodeSitsAtOffset36) {
  uint8_t info[dc::kDeviceInfoSize] = {};
  dc::SetModuleTypeCode(info, 0x12345678);
  EXPECT_EQ(info[36], 0x78);
  EXPECT_EQ(info[37], 0x56);
  EXPECT_EQ(info[38], 0x34);
  EXPECT_EQ(info[39], 0x12);
  EXPECT_EQ(dc::ModuleTypeCodeOf(info), 0x12345678u);
}

}  // namespace
