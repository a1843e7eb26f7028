// The contract between the module interface library and the module's kernel driver: device
// names, I/O-control codes, the vendor-request header and the device-information record.
// The module simulator includes this header too, so the two sides cannot drift apart.
// Plain C++ with no OS types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace driver_contract {

// Windows' CTL_CODE rule: device type, access, function number and transfer method.
constexpr uint32_t CtlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                           uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr uint32_t kFileDeviceUnknown = 0x22;
constexpr uint32_t kMethodOutDirect = 2;
constexpr uint32_t kFileAnyAccess = 0;

}  // namespace driver_contract

constexpr uint32_t IOCTL_USB_VENDOR_REQUEST = 0x220012;
constexpr uint32_t IOCTL_VENDOR_REQUEST = 0x22003E;
constexpr uint32_t IOCTL_GET_DEVICE_INFO = 0x22005E;

namespace driver_contract {

static_assert(IOCTL_USB_VENDOR_REQUEST ==
              CtlCode(kFileDeviceUnknown, 4, kMethodOutDirect, kFileAnyAccess));
static_assert(IOCTL_VENDOR_REQUEST ==
              CtlCode(kFileDeviceUnknown, 15, kMethodOutDirect, kFileAnyAccess));
static_assert(IOCTL_GET_DEVICE_INFO ==
              CtlCode(kFileDeviceUnknown, 23, kMethodOutDirect, kFileAnyAccess));

// Device paths in the Win32 device namespace, formatted with the slot number in decimal.
// DriverKind 0 selects the first naming, every other value the second.
constexpr char kQDevUsbPathFormat[] = "\\\\.\\QDevUsb%d";
constexpr char kQDevPathFormat[] = "\\\\.\\QDev%d";
constexpr char kDeviceNamespacePrefix[] = "\\\\.\\";

// The module's request numbers (RequestCode of the vendor-request header).
constexpr uint16_t kRequestUsbSpeed = 0x06;
constexpr uint16_t kRequestVerifyPld = 0x07;
constexpr uint16_t kRequestModuleName = 0x0B;
constexpr uint16_t kRequestReloadPld = 0x0C;
constexpr uint16_t kRequestWrite = 0x0D;
constexpr uint16_t kRequestRead = 0x0E;
constexpr uint16_t kRequestRun = 0x0F;

constexpr uint16_t kDirectionToHost = 1;    // data from the module fills the output buffer
constexpr uint16_t kDirectionToModule = 0;  // data, if any, is taken from the output buffer

constexpr uint32_t kModuleNameLength = 7;
constexpr uint32_t kUsbSpeedLength = 1;
constexpr uint32_t kMaxTransferSize = 4096;  // data bytes of one read or write request

// The header of every vendor request, passed as the input buffer: four little-endian 16-bit
// fields, always laid out byte by byte.
struct VendorRequest {
  uint16_t Direction;    // kDirectionToHost or kDirectionToModule
  uint16_t RequestCode;  // the module's request number
  uint16_t Value;        // first parameter, 0 where the request has none
  uint16_t Index;        // second parameter, 0 where the request has none
};
constexpr size_t kVendorRequestSize = 8;

inline void EncodeVendorRequest(const VendorRequest& r, uint8_t out[kVendorRequestSize]) {
  const uint16_t fields[4] = {r.Direction, r.RequestCode, r.Value, r.Index};
  for (int i = 0; i < 4; ++i) {
    out[2 * i] = static_cast<uint8_t>(fields[i]);
    out[2 * i + 1] = static_cast<uint8_t>(fields[i] >> 8);
  }
}

inline VendorRequest DecodeVendorRequest(const uint8_t in[kVendorRequestSize]) {
  auto field = [in](int i) {
    return static_cast<uint16_t>(in[2 * i] | static_cast<uint16_t>(in[2 * i + 1]) << 8);
  };
  return VendorRequest{field(0), field(1), field(2), field(3)};
}

// The device-information record: 80 bytes, of which only the module type code is interpreted.
constexpr size_t kDeviceInfoSize = 80;
constexpr size_t kModuleTypeCodeOffset = 36;  // unsigned 32-bit, little-endian

inline uint32_t ModuleTypeCodeOf(const uint8_t info[kDeviceInfoSize]) {
  const uint8_t* p = info + kModuleTypeCodeOffset;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void SetModuleTypeCode(uint8_t info[kDeviceInfoSize], uint32_t code) {
  uint8_t* p = info + kModuleTypeCodeOffset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(code >> (8 * i));
}

}  // namespace driver_contract
