// Decoding a request: which input is a header, the request code and kind, the address that fault
// filters look at; and the table of kinds found by code and by name alike.
#include "sim/request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "contract/driver_contract.h"
#include "sim/testing/test_images.h"

namespace {

using sim_test::Header;

TEST(RequestDecode, HeaderCodeKindAndAddress) {
  struct Row {
    const char* what;
    uint32_t ioControlCode;
    std::vector<uint8_t> input;
    uint32_t code;
    const char* kind;  // null: none
    std::optional<uint32_t> address;
  };
  const uint32_t vendor = IOCTL_VENDOR_REQUEST, info = IOCTL_GET_DEVICE_INFO;
  const Row rows[] = {
      {"read: Index:Value", vendor, Header(1, 0x0E, 0x3000, 0x9100), 0x0E, "read", 0x91003000},
      {"write on the other naming's code", IOCTL_USB_VENDOR_REQUEST,
       Header(0, 0x0D, 0xD000, 0x9001), 0x0D, "write", 0x9001D000},
      {"run: MCU flash at Value, Index ignored", vendor, Header(0, 0x0F, 0x3C00, 7), 0x0F, "run",
       0x83003C00},
      {"model name carries no address",
       vendor,
       Header(1, 0x0B, 0x3000, 0x9100),
       0x0B,
       "modelName",
       {}},
      {"verify carries no address", vendor, Header(0, 0x07, 0, 0), 0x07, "verifyPld", {}},
      {"unknown code keeps its number", vendor, Header(1, 0x10, 0x3000, 0x9100), 0x10, nullptr, {}},
      {"device information", info, {}, sim::kDeviceInfoRequest, "deviceInfo", {}},
      {"device information ignores its input",
       info,
       Header(1, 0x0E, 0, 0x9000),
       sim::kDeviceInfoRequest,
       "deviceInfo",
       {}},
      {"vendor input of 5 bytes", vendor, std::vector<uint8_t>(5), sim::kNoRequest, nullptr, {}},
      {"vendor input of 9 bytes", vendor, std::vector<uint8_t>(9), sim::kNoRequest, nullptr, {}},
      {"unknown I/O-control code",
       0x220000,
       Header(1, 0x0E, 0, 0x9000),
       sim::kNoRequest,
       nullptr,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const sim::Request r = sim::DecodeRequest("QDev3", row.ioControlCode, row.input, 256);
    EXPECT_EQ(r.device, "QDev3");
    EXPECT_EQ(r.inputSize, row.input.size());
    EXPECT_EQ(r.length, 256u);
    const bool header = row.ioControlCode != info && row.code != sim::kNoRequest;
    EXPECT_EQ(r.hasHeader, header);
    EXPECT_EQ(r.header.RequestCode, header ? row.code : 0u);
    EXPECT_EQ(r.code, row.code);
    EXPECT_EQ(r.kind != nullptr ? std::string(r.kind->name) : "none",
              row.kind != nullptr ? row.kind : "none");
    EXPECT_EQ(r.address, row.address);
  }
}

// A kind is found by its code and by its name, and no other kind answers to either: a row
// copied without changing both would fail here.
TEST(RequestKinds, EachFoundByCodeAndByName) {
  for (const sim::RequestKind& kind : sim::RequestKinds()) {
    SCOPED_TRACE(kind.name);
    EXPECT_EQ(sim::FindRequestKind(kind.code), &kind);
    EXPECT_EQ(sim::FindRequestKind(std::string(kind.name)), &kind);
    EXPECT_LE(kind.minLength, kind.maxLength);
  }
  EXPECT_EQ(sim::FindRequestKind(sim::kNoRequest), nullptr);
  EXPECT_EQ(sim::FindRequestKind(std::string("ReadMemory")), nullptr);
}

}  // namespace
