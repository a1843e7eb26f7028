// Little-endian fields, read and written byte by byte, never by casting: the byte order of the
// driver contract's records, of the module's memory formats and of the platform's device frames.
// Plain C++ with no runtime, so that the kernel-driver stand-in may include it too.
#pragma once

#include <cstdint>

namespace little_endian {

inline uint16_t Load16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | static_cast<uint16_t>(at[1]) << 8);
}

inline uint32_t Load32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

inline void Store16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

inline void Store32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace little_endian
