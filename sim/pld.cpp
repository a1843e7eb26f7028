// PLD container checks and texts of the simulated module. The container format is the one the
// utility writes, so both sides use the same checksum routine.
#include "sim/pld.h"

#include <algorithm>

#include "sim/memory_map.h"
#include "updater/pld_flash_image.h"

namespace sim {

namespace {

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> BuildContainer(const uint8_t* image, size_t size) {
  std::vector<uint8_t> c(updater::kPldFlashHeaderSize + size, 0);
  if (size > 0) std::copy(image, image + size, c.begin() + updater::kPldFlashHeaderSize);
  PutLe32(&c[updater::kImageCrcOffset],
          updater::Crc32Augmented(c.data() + updater::kPldFlashHeaderSize,
                                  static_cast<uint32_t>(size)));
  PutLe32(&c[updater::kImageLengthOffset], static_cast<uint32_t>(size));
  PutLe32(&c[updater::kHeaderCrcOffset],
          updater::Crc32Augmented(c.data() + 4, updater::kPldFlashHeaderSize - 4));
  return c;
}

ByteRange ConfigurableImage(const std::vector<uint8_t>& bootFlash) {
  const uint32_t header = updater::kPldFlashHeaderSize;
  if (bootFlash.size() < header || !updater::IsPldFlashHeaderValid(bootFlash.data())) return {};
  const uint32_t length = GetLe32(&bootFlash[updater::kImageLengthOffset]);
  if (length > bootFlash.size() - header) return {};
  const uint8_t* image = bootFlash.data() + header;
  if (updater::Crc32Augmented(image, length) != GetLe32(&bootFlash[updater::kImageCrcOffset])) {
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
