// The contract's byte layouts and names as both sides of the driver see them: a field written in
// the wrong order or a device name formatted differently would leave the library and the driver
// talking past each other.
#include "contract/driver_contract.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

namespace dc = driver_contract;

TEST(DriverContract, DeviceNamesAndTheirPaths) {
  using N = dc::DeviceNaming;
  const struct {
    N naming;
    uint16_t slot;
    const char* name;  // its path has \\.\ in front
  } rows[] = {{N::kQDev, 0, "QDev0"},
              {N::kQDev, 5, "QDev5"},
              {N::kQDev, 10, "QDev10"},
              {N::kQDevUsb, 127, "QDevUsb127"},
              {N::kQDevUsb, 65535, "QDevUsb65535"}};
  for (const auto& row : rows) {
    char path[32];
    std::snprintf(path, sizeof path, dc::DevicePathFormat(row.naming), static_cast<int>(row.slot));
    EXPECT_EQ(
        std::make_pair(std::string(dc::DeviceName(row.naming, row.slot).text), std::string(path)),
        std::make_pair(std::string(row.name), "\\\\.\\" + std::string(row.name)));
    EXPECT_EQ(dc::kDeviceNamespacePrefix + std::string(row.name), path);
  }
  EXPECT_EQ(std::string(dc::DeviceName(dc::DeviceNaming::kQDevUsb, 65535).text).size(),
            dc::kLongestDeviceName);
}

// Both layouts as bytes, and decoded back field by field.
TEST(DriverContract, VendorRequestAndModuleTypeCodeAreLittleEndian) {
  uint8_t bytes[dc::kVendorRequestSize];
  dc::EncodeVendorRequest({1, 0x0E, 0x3000, 0x9100}, bytes);
  EXPECT_EQ(std::string(bytes, bytes + sizeof bytes), std::string("\1\0\x0E\0\0\x30\0\x91", 8));
  const dc::VendorRequest back = dc::DecodeVendorRequest(bytes);
  EXPECT_EQ(std::vector<int>({back.Direction, back.RequestCode, back.Value, back.Index}),
            std::vector<int>({1, 0x0E, 0x3000, 0x9100}));

  uint8_t info[dc::kDeviceInfoSize] = {};
  dc::SetModuleTypeCode(info, 0x12345678);
  EXPECT_EQ(std::string(info + 35, info + 41), std::string("\0\x78\x56\x34\x12\0", 6));
  EXPECT_EQ(dc::ModuleTypeCodeOf(info), 0x12345678u);
}

}  // namespace
