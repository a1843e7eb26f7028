// The PLD boot-flash container: building one around an image, checking a header read back, and
// the bitwise checksum that guards both.
#include "updater/pld_flash_image.h"

#include <cstring>

#include "contract/little_endian.h"

namespace updater {

namespace {

constexpr uint32_t kGenerator = 0x04C11DB7;
constexpr uint32_t kInitialRegister = 0xFFFFFFFF;

// Bytes 4..255: everything the header checksum covers.
constexpr uint32_t kHeaderCoveredSize = kPldFlashHeaderSize - 4;

static_assert(kImageCrcOffset == kHeaderCrcOffset + 4);
static_assert(kImageLengthOffset == kImageCrcOffset + 4);
static_assert(kReservedOffset == kImageLengthOffset + 4);

}  // namespace

uint32_t Crc32(uint32_t initial, const uint8_t* data, uint32_t length) {
  uint32_t reg = initial;
  for (uint32_t i = 0; i < length; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool carry = (reg & 0x80000000u) != 0;
      // The message enters at bit 0, so the remainder appears only after 32 more zero bits.
      reg = (reg << 1) | ((data[i] >> bit) & 1u);
      if (carry) reg ^= kGenerator;
    }
  }
  return reg;
}

uint32_t Crc32Augmented(const uint8_t* data, uint32_t length) {
  static constexpr uint8_t kFlush[4] = {0, 0, 0, 0};
  return Crc32(Crc32(kInitialRegister, data, length), kFlush, sizeof kFlush);
}

Buffer BuildPldFlashImage(const uint8_t* image, uint32_t n, Allocator& allocator) {
  Buffer container = AllocateZeroed(allocator, static_cast<size_t>(n) + kPldFlashHeaderSize);
  if (!container) return container;
  uint8_t* bytes = container.data();
  if (n != 0) std::memcpy(bytes + kPldFlashHeaderSize, image, n);
  little_endian::Store32(bytes + kImageCrcOffset, Crc32Augmented(image, n));
  little_endian::Store32(bytes + kImageLengthOffset, n);
  // Last, because it covers the two fields above.
  little_endian::Store32(bytes + kHeaderCrcOffset, Crc32Augmented(bytes + 4, kHeaderCoveredSize));
  return container;
}

bool IsPldFlashHeaderValid(const uint8_t header[kPldFlashHeaderSize]) {
  return little_endian::Load32(header + kHeaderCrcOffset) ==
         Crc32Augmented(header + 4, kHeaderCoveredSize);
}

}  // namespace updater
