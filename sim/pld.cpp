// PLD container checks and texts of the simulated module. The checksum is the table-driven form
// that a module's firmware would use; the utility computes the same value bit by bit, so each
// side checks the other.
#include "sim/pld.h"

#include <algorithm>

#include "contract/little_endian.h"
#include "sim/memory_map.h"

namespace sim {

namespace {

constexpr uint32_t kChecksumPolynomial = 0x04C11DB7;
constexpr uint32_t kChecksumStart = 0xC704DD7B;

struct ChecksumTable {
  uint32_t entry[256];
};

// entry[b]: the register after the byte b has passed through its top eight bits.
constexpr ChecksumTable MakeChecksumTable() {
  ChecksumTable table{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t r = b << 24;
    for (int bit = 0; bit < 8; ++bit) {
      r = (r & 0x80000000u) != 0 ? (r << 1) ^ kChecksumPolynomial : r << 1;
    }
    table.entry[b] = r;
  }
  return table;
}

constexpr ChecksumTable kChecksumTable = MakeChecksumTable();

}  // namespace

uint32_t ContainerChecksum(const uint8_t* data, size_t size) {
  uint32_t r = kChecksumStart;
  for (size_t i = 0; i < size; ++i) r = (r << 8) ^ kChecksumTable.entry[(r >> 24) ^ data[i]];
  return r;
}

std::vector<uint8_t> BuildContainer(const uint8_t* image, size_t size) {
  std::vector<uint8_t> c(image, image + size);
  c.insert(c.begin(), kContainerHeaderSize, 0);
  little_endian::Store32(&c[kImageChecksumAt], ContainerChecksum(image, size));
  little_endian::Store32(&c[kImageLengthAt], static_cast<uint32_t>(size));
  little_endian::Store32(&c[kHeaderChecksumAt],
                         ContainerChecksum(c.data() + 4, kContainerHeaderSize - 4));
  return c;
}

ByteRange ConfigurableImage(const std::vector<uint8_t>& bootFlash) {
  const uint32_t header = kContainerHeaderSize;
  if (bootFlash.size() < header) return {};
  if (little_endian::Load32(&bootFlash[kHeaderChecksumAt]) !=
      ContainerChecksum(bootFlash.data() + 4, header - 4)) {
    return {};
  }
  const uint32_t length = little_endian::Load32(&bootFlash[kImageLengthAt]);
  if (length > bootFlash.size() - header) return {};
  const uint8_t* image = bootFlash.data() + header;
  if (ContainerChecksum(image, length) != little_endian::Load32(&bootFlash[kImageChecksumAt])) {
    return {};
  }
  if (length < kPldSyncOnes + 1) return {};
  for (size_t i = 0; i < kPldSyncOnes; ++i) {
    if (image[i] != 0xFF) return {};
  }
  if (image[kPldSyncOnes] != kPldSyncByte) return {};
  return ByteRange{image, length};
}

std::vector<uint8_t> StandInPldImage() {
  constexpr size_t kBody = 2048;
  constexpr size_t kTrailingOnes = 74;  // the images end in a run of 0xFF, as the real ones do
  std::vector<uint8_t> image(kPldSyncOnes, 0xFF);
  image.push_back(kPldSyncByte);
  uint32_t x = 0x4690u;  // any fixed seed: the image only has to differ from the embedded ones
  for (size_t i = 0; i < kBody; ++i) {
    x = x * 1103515245u + 12345u;
    image.push_back(static_cast<uint8_t>(x >> 16));
  }
  image.insert(image.end(), kTrailingOnes, 0xFF);
  return image;
}

std::string OtherPldText(const std::string& version, const std::string& text) {
  if (!text.empty()) return text;
  const bool industrial = !version.empty() && version.back() == 'i';
  return "<Version>{" + version + " (build Mar 14 2019)} <Comments>{R46-90 PLD configuration, " +
         (industrial ? "industrial" : "commercial") + " grade}";
}

}  // namespace sim
