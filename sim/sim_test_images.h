// Synthetic firmware images for the model's tests, so that they run without the image layer:
// applications of each revision with their release versions, and two PLD images that pass a
// reload. Test support only.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/module_content.h"

namespace sim_test {

const sim::EmbeddedImages& TestImages();
const std::vector<uint8_t>& TestPldImage(bool industrial);

// A vendor-request input buffer.
std::vector<uint8_t> Header(uint16_t direction, uint16_t code, uint16_t value, uint16_t index);

}  // namespace sim_test
