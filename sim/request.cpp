// The table of request kinds, the decoding of a request, and the reply.
#include "sim/request.h"

#include <limits>
#include <utility>

#include "contract/module_addresses.h"

namespace sim {

namespace dc = driver_contract;

const std::vector<RequestKind>& RequestKinds() {
  // Each row: code, name, direction, when it is answered (always, or by the boot loader only),
  // the address it carries, the shortest and the longest data it takes.
  constexpr uint16_t in = dc::kDirectionToHost, out = dc::kDirectionToModule;
  constexpr bool always = true, bootLoader = false;
  constexpr AddressForm none = AddressForm::kNone, at = AddressForm::kIndexValue,
                        entry = AddressForm::kMcuFlashValue;
  constexpr uint32_t name = dc::kModuleNameLength, speed = dc::kUsbSpeedLength,
                     most = dc::kMaxTransferSize, any = std::numeric_limits<uint32_t>::max();
  static const std::vector<RequestKind> kinds = {
      {dc::kRequestModuleName, "modelName", in, always, none, name, name},
      {dc::kRequestUsbSpeed, "usbSpeed", in, always, none, speed, speed},
      {dc::kRequestRead, "read", in, bootLoader, at, 0, most},
      {dc::kRequestWrite, "write", out, bootLoader, at, 0, most},
      {dc::kRequestRun, "run", out, always, entry, 0, 0},
      {dc::kRequestReloadPld, "reloadPld", out, bootLoader, none, 0, 0},
      {dc::kRequestVerifyPld, "verifyPld", out, bootLoader, none, 0, 0},
      // The driver's own record: no header, and a buffer of at least its size.
      {kDeviceInfoRequest, "deviceInfo", in, always, none, dc::kDeviceInfoSize, any},
  };
  return kinds;
}

const RequestKind* FindRequestKind(uint32_t code) {
  for (const RequestKind& kind : RequestKinds()) {
    if (kind.code == code) return &kind;
  }
  return nullptr;
}

const RequestKind* FindRequestKind(const std::string& name) {
  for (const RequestKind& kind : RequestKinds()) {
    if (name == kind.name) return &kind;
  }
  return nullptr;
}

bool CarriesHeader(uint32_t ioControlCode, uint32_t inputSize) {
  return (ioControlCode == IOCTL_VENDOR_REQUEST || ioControlCode == IOCTL_USB_VENDOR_REQUEST) &&
         inputSize == dc::kVendorRequestSize;
}

Request DecodeRequest(const std::string& device, uint32_t ioControlCode,
                      const std::vector<uint8_t>& input, uint32_t length) {
  const uint32_t inputSize = static_cast<uint32_t>(input.size());
  if (!CarriesHeader(ioControlCode, inputSize)) {
    return MakeRequest(device, ioControlCode, inputSize, nullptr, length);
  }
  const dc::VendorRequest header = dc::DecodeVendorRequest(input.data());
  return MakeRequest(device, ioControlCode, inputSize, &header, length);
}

Request MakeRequest(const std::string& device, uint32_t ioControlCode, uint32_t inputSize,
                    const dc::VendorRequest* header, uint32_t length) {
  Request r;
  r.device = device;
  r.ioControlCode = ioControlCode;
  r.inputSize = inputSize;
  r.length = length;
  if (header != nullptr) {
    r.hasHeader = true;
    r.header = *header;
    r.code = header->RequestCode;
  } else if (ioControlCode == IOCTL_GET_DEVICE_INFO) {
    r.code = kDeviceInfoRequest;
  }
  r.kind = FindRequestKind(r.code);
  if (r.kind == nullptr) return r;
  switch (r.kind->address) {
    case AddressForm::kNone:
      break;
    case AddressForm::kIndexValue:
      r.address = static_cast<uint32_t>(r.header.Index) << 16 | r.header.Value;
      break;
    case AddressForm::kMcuFlashValue:
      r.address = SEL_MCU_FLASH | r.header.Value;
      break;
  }
  return r;
}

Reply Reply::Completed(std::vector<uint8_t> data) {
  Reply r;
  r.error = 0;
  r.information = static_cast<uint32_t>(data.size());
  r.data = std::move(data);
  return r;
}

Reply Reply::Unanswered() {
  Reply r;
  r.answered = false;
  r.error = 0;
  return r;
}

Outcome OutcomeOf(const Reply& reply) {
  if (!reply.answered) return Outcome::kNoAnswer;
  if (reply.error != 0) return Outcome::kRefused;
  return reply.cutShort ? Outcome::kShort : Outcome::kOk;
}

}  // namespace sim
