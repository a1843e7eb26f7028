// Small helpers for the simulator's tests: vendor-request headers, faults and files.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "contract/driver_contract.h"
#include "sim/scenario.h"

namespace sim_test {

// A vendor-request input buffer.
inline std::vector<uint8_t> Header(uint16_t direction, uint16_t code, uint16_t value,
                                   uint16_t index) {
  std::vector<uint8_t> h(driver_contract::kVendorRequestSize);
  driver_contract::EncodeVendorRequest({direction, code, value, index}, h.data());
  return h;
}

// A fault with the filters (and delay) given (brace-initialising one would have to spell out every
// member).
inline sim::Fault MakeFault(sim::FaultAction action, std::optional<uint32_t> request = {},
                            std::optional<uint32_t> address = {}, uint32_t nth = 0,
                            std::optional<uint32_t> bytes = {}, uint32_t delayMs = 0) {
  return sim::Fault{action, request, address, nth, bytes, delayMs};
}

// A whole file; empty when it can't be read.
inline std::string ReadFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

}  // namespace sim_test
