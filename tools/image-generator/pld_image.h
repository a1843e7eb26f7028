// Builds a PLD configuration image: the preamble that the PLD's loader looks for, a body of
// configuration-like bytes from a seeded generator, and the trailing run of 0xFF.
#pragma once

#include <cstdint>
#include <vector>

namespace image_generator {

constexpr uint32_t kPldLeadingFfBytes = 32;   // 0xFF bytes before the sync byte
constexpr uint8_t kPldSyncByte = 0x6A;        // first byte after the leading 0xFF run
constexpr uint32_t kPldTrailingFfBytes = 74;  // 0xFF bytes that end the image
constexpr unsigned kPldMaxPrintableRun = 3;   // the images hold no readable text

// The image's bytes, or an empty vector when size leaves no room for a body. Equal seeds give
// equal images.
std::vector<uint8_t> BuildPldImage(uint32_t size, uint64_t seed);

}  // namespace image_generator
