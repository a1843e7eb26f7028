// The module's PLD as the simulator sees it: the boot-flash container it reloads from, the checks
// a reload makes, and the information text a configured PLD reports. The container is read here
// from the module's side, as the module's firmware reads what it loads: with its own table-driven
// checksum, not with the utility's code that writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A read-only byte range owned by someone else (an embedded image, for instance).
struct ByteRange {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

constexpr char kCommercialPldText[] =
    "<Version>{3.0.7c (build Nov 12 2020)} <Comments>{R46-90 PLD configuration, commercial "
    "grade}";
constexpr char kIndustrialPldText[] =
    "<Version>{3.0.7i (build Nov 12 2020)} <Comments>{R46-90 PLD configuration, industrial "
    "grade}";

constexpr size_t kPldSyncOnes = 32;  // bytes of 0xFF before the sync byte
constexpr uint8_t kPldSyncByte = 0x6A;

// The container in boot flash: a header of 256 bytes, then the image. The header's fields are
// little-endian 32-bit words, followed by zeros.
constexpr uint32_t kContainerHeaderSize = 256;
constexpr size_t kHeaderChecksumAt = 0;  // checksum of header bytes 4..255
constexpr size_t kImageChecksumAt = 4;   // checksum of the image
constexpr size_t kImageLengthAt = 8;     // length of the image in bytes

// The checksum that guards a container: the byte-at-a-time CRC with polynomial 0x04C11DB7, no
// reflection, each byte XORed into the register's top byte, started at 0xC704DD7B, no final XOR.
uint32_t ContainerChecksum(const uint8_t* data, size_t size);

// A container (header of 256 bytes, then the image) for `image`, checksums filled in.
std::vector<uint8_t> BuildContainer(const uint8_t* image, size_t size);

// What a reload finds in boot flash: the image when the header checksum is right, the image
// fits boot flash, the image checksum is right and the image begins with the sync pattern;
// otherwise an empty range.
ByteRange ConfigurableImage(const std::vector<uint8_t>& bootFlash);

// A PLD image that is neither of the embedded ones but passes every reload check.
std::vector<uint8_t> StandInPldImage();

// The text reported for a stand-in image: `text` when given, else one built around `version`.
std::string OtherPldText(const std::string& version, const std::string& text);

}  // namespace sim
