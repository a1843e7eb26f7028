// Real configuration streams are mostly sparse frames, with many zero bytes between dense
// runs; the body imitates that. No run of printable characters grows longer than
// kPldMaxPrintableRun, so that nothing in the image reads as text.
#include "tools/image-generator/pld_image.h"

namespace image_generator {
namespace {

// SplitMix64: a small, fully specified generator, so the images depend on no library's
// choice of algorithm.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  uint64_t state_;
};

// As a strings tool sees it: the printable ASCII characters and the tab.
bool IsTextByte(uint8_t b) {
  return (b >= 0x20 && b <= 0x7E) || b == '\t';
}

}  // namespace

std::vector<uint8_t> BuildPldImage(uint32_t size, uint64_t seed) {
  const uint32_t fixed = kPldLeadingFfBytes + 1 + kPldTrailingFfBytes;
  if (size <= fixed) return {};

  std::vector<uint8_t> image(kPldLeadingFfBytes, 0xFF);
  image.reserve(size);
  image.push_back(kPldSyncByte);
  unsigned textRun = IsTextByte(kPldSyncByte) ? 1 : 0;

  SplitMix64 random(seed);
  const uint32_t bodyEnd = size - kPldTrailingFfBytes;
  while (image.size() < bodyEnd) {
    const uint64_t r = random.Next();
    // One draw in three is a zero byte; the others are dense.
    uint8_t b = (r >> 32) % 3 == 0 ? 0x00 : static_cast<uint8_t>(r);
    if (IsTextByte(b) && textRun == kPldMaxPrintableRun) b |= 0x80;  // breaks the run
    textRun = IsTextByte(b) ? textRun + 1 : 0;
    image.push_back(b);
  }
  // The trailing run is exactly kPldTrailingFfBytes long.
  if (image.back() == 0xFF) image.back() = 0xFE;
  image.insert(image.end(), kPldTrailingFfBytes, 0xFF);
  return image;
}

}  // namespace image_generator
