// The requests that a simulated module answers: one table of their kinds, the one decoding of a
// request as it reaches a device, and the one reply with which the simulated driver completes
// it. Faults select requests by the decoded form, the module answers it, the traffic line shows
// it; the reply goes unchanged from the module to the device endpoint.
//
// Adding a request kind is one row in the table (request.cpp) and its handler in Module::Execute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "contract/driver_contract.h"

namespace sim {

// The request code of device information (IOCTL_GET_DEVICE_INFO): beyond the 16-bit vendor
// request codes, so that faults and the table of kinds can name it beside them.
constexpr uint32_t kDeviceInfoRequest = 0x10000;
// The request code of anything that is neither device information nor a vendor request with its
// header; no fault filter and no kind matches it.
constexpr uint32_t kNoRequest = 0xFFFFFFFF;

// Where a request carries a module address (the one that fault filters look at).
enum class AddressForm {
  kNone,
  kIndexValue,     // Index:Value, the first byte of the data range (read, write)
  kMcuFlashValue,  // 0x8300:Value, where the MCU goes on running (run)
};

// One kind of request and the rules that hold for it before the module looks any further.
struct RequestKind {
  uint32_t code;              // vendor request code, or kDeviceInfoRequest
  const char* name;           // its name in scenario files
  uint16_t direction;         // the header's Direction it needs (device information has none)
  bool whileApplicationRuns;  // answered in both MCU modes, not by the boot loader only
  AddressForm address;        // the address it carries, if any
  uint32_t minLength;         // data lengths (output-buffer sizes) it accepts
  uint32_t maxLength;
};

// Every kind, in the order in which scenario errors list their names.
const std::vector<RequestKind>& RequestKinds();
const RequestKind* FindRequestKind(uint32_t code);            // null when none
const RequestKind* FindRequestKind(const std::string& name);  // null when none

// A request as it reached a device, decoded once.
struct Request {
  std::string device;                       // the device name it came in on, "QDev0"
  uint32_t ioControlCode = 0;               // as the caller gave it
  uint32_t inputSize = 0;                   // bytes of the input buffer
  bool hasHeader = false;                   // the input is a vendor-request header (CarriesHeader)
  driver_contract::VendorRequest header{};  // its fields when hasHeader, else zero
  uint32_t length = 0;                      // output-buffer size: the data length
  uint32_t code = kNoRequest;               // header.RequestCode, kDeviceInfoRequest or kNoRequest
  const RequestKind* kind = nullptr;        // the kind of `code`; null: no module answers it
  std::optional<uint32_t> address;          // the module address, where the kind carries one
};

// Whether the input buffer of a request is a vendor-request header: a vendor I/O-control code
// (either naming's) with exactly 8 bytes of input.
bool CarriesHeader(uint32_t ioControlCode, uint32_t inputSize);

// The request of one DeviceIoControl call.
Request DecodeRequest(const std::string& device, uint32_t ioControlCode,
                      const std::vector<uint8_t>& input, uint32_t length);
// The same from a request's parts: `header` is the decoded input, given exactly when
// CarriesHeader(ioControlCode, inputSize).
Request MakeRequest(const std::string& device, uint32_t ioControlCode, uint32_t inputSize,
                    const driver_contract::VendorRequest* header, uint32_t length);

// Windows error value with which the simulated driver completes a refused request.
constexpr uint32_t kRefusedError = 31;  // ERROR_GEN_FAILURE

// How the simulated driver completes a request: made by the module, refused by the rack when the
// change it made cannot be saved, and copied field by field to the device endpoint's reply.
// A default Reply refuses.
struct Reply {
  bool answered = true;            // false: the request stays pending for ever
  uint32_t error = kRefusedError;  // Windows error value; 0 completes the request successfully
  uint32_t information = 0;        // bytes reported as transferred
  std::vector<uint8_t> data;       // copied to the start of the caller's output buffer
  bool cutShort = false;           // a short fault: fewer bytes transferred than asked
  bool powerLost = false;          // the power went after this request was carried out and answered
  uint32_t delayMs = 0;            // answered this long after the request arrived

  static Reply Refused() { return Reply(); }
  static Reply Completed(std::vector<uint8_t> data);  // all of `data` transferred
  static Reply Unanswered();
};

// What became of a request, as its traffic line tells it.
enum class Outcome { kOk, kRefused, kNoAnswer, kShort };
Outcome OutcomeOf(const Reply& reply);

}  // namespace sim
