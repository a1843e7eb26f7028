// Builds an MCU application image for the module's AVR ATmega162: interrupt vector table,
// a small program with its constant data, zero fill, and the firmware description block in
// the image's last 256 bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace image_generator {

constexpr unsigned kAvrVectorCount = 28;  // ATmega162, two program words per vector
constexpr uint32_t kAvrVectorTableBytes = kAvrVectorCount * 4;
static_assert(kAvrVectorTableBytes == 112);

struct McuImageParams {
  uint32_t size;        // image size in bytes; the description block is its last 256
  char revision;        // hardware revision letter the application is for
  const char* version;  // firmware version, "major.minor"
  const char* created;  // build date, "Mmm dd yyyy"
  uint8_t blinkDelay;   // outer count of the status-LED delay loop
};

// The image's bytes, or an empty vector when the program does not fit below the description
// block.
std::vector<uint8_t> BuildMcuImage(const McuImageParams& params);

}  // namespace image_generator
