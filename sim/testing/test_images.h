// Test support for the simulator's tests: synthetic firmware images under the names of the list of
// images, so that the model's tests run without the embedded ones (stand-in applications of each
// revision with the listed versions, and two PLD images that pass a reload), and small helpers
// for requests, faults and files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/module_content.h"
#include "sim/scenario.h"

namespace sim_test {

const sim::EmbeddedImages& TestImages();

// A vendor-request input buffer.
std::vector<uint8_t> Header(uint16_t direction, uint16_t code, uint16_t value, uint16_t index);

// A fault with the filters given (brace-initialising one would have to spell out every member).
sim::Fault MakeFault(sim::FaultAction action, std::optional<uint32_t> request = {},
                     std::optional<uint32_t> address = {}, uint32_t nth = 0,
                     std::optional<uint32_t> bytes = {});

// A whole file; empty when it can't be read.
std::string ReadFile(const std::string& path);

}  // namespace sim_test
