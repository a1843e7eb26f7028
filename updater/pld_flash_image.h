// The container in which a PLD image is stored in the module's boot flash: a 256-byte header
// (header checksum, image checksum, image length, reserved zeros) followed by the image, and the
// checksum that guards both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "updater/allocator.h"

namespace updater {

constexpr uint32_t kPldFlashHeaderSize = 256;
constexpr size_t kHeaderCrcOffset = 0;    // Crc32Augmented of header bytes 4..255
constexpr size_t kImageCrcOffset = 4;     // Crc32Augmented of the image
constexpr size_t kImageLengthOffset = 8;  // image length in bytes, exactly as stored
constexpr size_t kReservedOffset = 12;    // 244 zero bytes up to the image
static_assert(kReservedOffset + 244 == kPldFlashHeaderSize);

// Feeds `length` bytes into a 32-bit register, most significant bit first, generator
// 0x04C11DB7, no reflection and no final XOR. Chaining calls equals one call over the joined
// range.
uint32_t Crc32(uint32_t initial, const uint8_t* data, uint32_t length);

// Crc32 from 0xFFFFFFFF over the range and then over four zero bytes: the form stored in and
// checked against a container header.
uint32_t Crc32Augmented(const uint8_t* data, uint32_t length);

// A container of n + 256 bytes for an image of n bytes, or an empty Buffer when the allocation
// fails (the caller reports n + 256).
Buffer BuildPldFlashImage(const uint8_t* image, uint32_t n, Allocator& allocator);

// Whether 256 bytes read back from boot flash form a container header: only the header checksum
// is examined.
bool IsPldFlashHeaderValid(const uint8_t header[kPldFlashHeaderSize]);

}  // namespace updater
