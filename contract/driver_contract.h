// The contract between the module interface library and the module's kernel driver: device
// names, I/O-control codes, the vendor-request header and the device-information record. The
// library, the module simulator and the kernel-driver stand-in include this header, and a real
// driver would start from it, so the sides cannot drift apart. Plain C++ with no OS types and no
// runtime.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/little_endian.h"

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

// Device names. A module's driver publishes the device of a slot under one of two namings, as
// "QDevUsb5" or "QDev5" (the slot number in decimal); a program opens it by its path in the Win32
// device namespace, "\\.\QDev5".
enum class DeviceNaming : uint8_t {
  kQDevUsb,  // the library's DriverKind 0
  kQDev,     // every other DriverKind
};
constexpr char kDeviceNamespacePrefix[] = "\\\\.\\";
constexpr char kQDevUsbName[] = "QDevUsb";
constexpr char kQDevName[] = "QDev";
constexpr size_t kLongestDeviceName = sizeof kQDevUsbName - 1 + 5;  // "QDevUsb65535"

// A zero-terminated text of a size fixed at compile time.
template <size_t N>
struct FixedText {
  char text[N];
};

constexpr const char* NamingPrefix(DeviceNaming naming) {
  return naming == DeviceNaming::kQDevUsb ? kQDevUsbName : kQDevName;
}

// The device name of a slot under a naming: "QDev5".
constexpr FixedText<kLongestDeviceName + 1> DeviceName(DeviceNaming naming, uint16_t slot) {
  FixedText<kLongestDeviceName + 1> name{};
  size_t n = 0;
  for (const char* p = NamingPrefix(naming); *p != '\0'; ++p) name.text[n++] = *p;
  char digits[5] = {};
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + slot % 10);
    slot = static_cast<uint16_t>(slot / 10);
  } while (slot != 0);
  while (count > 0) name.text[n++] = digits[--count];
  return name;
}

// The pieces joined: prefix, naming and a format for wsprintfA, "\\.\QDev%d".
template <size_t A, size_t B, size_t C>
constexpr FixedText<A + B + C - 2> JoinTexts(const char (&a)[A], const char (&b)[B],
                                             const char (&c)[C]) {
  FixedText<A + B + C - 2> joined{};
  size_t n = 0;
  for (size_t i = 0; i + 1 < A; ++i) joined.text[n++] = a[i];
  for (size_t i = 0; i + 1 < B; ++i) joined.text[n++] = b[i];
  for (size_t i = 0; i + 1 < C; ++i) joined.text[n++] = c[i];
  return joined;
}
constexpr auto kQDevUsbPathFormat = JoinTexts(kDeviceNamespacePrefix, kQDevUsbName, "%d");
constexpr auto kQDevPathFormat = JoinTexts(kDeviceNamespacePrefix, kQDevName, "%d");

// The wsprintfA format of a naming's device paths; the slot goes in as an int.
constexpr const char* DevicePathFormat(DeviceNaming naming) {
  return naming == DeviceNaming::kQDevUsb ? kQDevUsbPathFormat.text : kQDevPathFormat.text;
}

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
  little_endian::Store16(out + 0, r.Direction);
  little_endian::Store16(out + 2, r.RequestCode);
  little_endian::Store16(out + 4, r.Value);
  little_endian::Store16(out + 6, r.Index);
}

inline VendorRequest DecodeVendorRequest(const uint8_t in[kVendorRequestSize]) {
  return VendorRequest{little_endian::Load16(in + 0), little_endian::Load16(in + 2),
                       little_endian::Load16(in + 4), little_endian::Load16(in + 6)};
}

// The device-information record: 80 bytes, of which only the module type code is interpreted.
constexpr size_t kDeviceInfoSize = 80;
constexpr size_t kModuleTypeCodeOffset = 36;  // unsigned 32-bit, little-endian

inline uint32_t ModuleTypeCodeOf(const uint8_t info[kDeviceInfoSize]) {
  return little_endian::Load32(info + kModuleTypeCodeOffset);
}

inline void SetModuleTypeCode(uint8_t info[kDeviceInfoSize], uint32_t code) {
  little_endian::Store32(info + kModuleTypeCodeOffset, code);
}

}  // namespace driver_contract
