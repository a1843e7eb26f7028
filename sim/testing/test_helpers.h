// Small helpers for the simulator's tests: vendor-request headers, faults and files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/scenario.h"

namespace sim_test {

// A vendor-request input buffer.
std::vector<uint8_t> Header(uint16_t direction, uint16_t code, uint16_t value, uint16_t index);

// A fault with the filters given (brace-initialising one would have to spell out every member).
sim::Fault MakeFault(sim::FaultAction action, std::optional<uint32_t> request = {},
                     std::optional<uint32_t> address = {}, uint32_t nth = 0,
                     std::optional<uint32_t> bytes = {});

// A whole file; empty when it can't be read.
std::string ReadFile(const std::string& path);

}  // namespace sim_test
