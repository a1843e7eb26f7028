// The PLD flash container and its checksum: known vectors, chaining, exact container layout,
// header validation against single-byte damage, and running out of memory.
#include "updater/pld_flash_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "contract/little_endian.h"

namespace updater {
namespace {

const uint8_t* Bytes(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

TEST(Crc32, KnownVectors) {
  EXPECT_EQ(Crc32(0xFFFFFFFF, Bytes("abc"), 3), 0xB7051F63u);
  EXPECT_EQ(Crc32Augmented(Bytes("abc"), 3), 0xAD13F0CAu);
  EXPECT_EQ(Crc32Augmented(nullptr, 0), 0xC704DD7Bu);
}

TEST(Crc32, TwoCallsEqualOneCall) {
  std::mt19937 rng(4690);
  for (int round = 0; round < 200; ++round) {
    const uint32_t n = rng() % 301, split = rng() % (n + 1), initial = rng();
    const std::vector<uint8_t> data = RandomBytes(rng, n);
    const uint32_t first = Crc32(initial, data.data(), split);
    EXPECT_EQ(Crc32(first, data.data() + split, n - split), Crc32(initial, data.data(), n))
        << "n=" << n << " split=" << split;
  }
}

TEST(PldFlashImage, AbcContainerByteForByte) {
  Buffer c = BuildPldFlashImage(Bytes("abc"), 3, HeapAllocator());
  ASSERT_TRUE(c);
  std::vector<uint8_t> expected = {0xBE, 0x18, 0xC4, 0x65, 0xCA, 0xF0, 0x13, 0xAD, 3, 0, 0, 0};
  expected.resize(256, 0);
  expected.insert(expected.end(), {'a', 'b', 'c'});
  EXPECT_EQ(std::vector<uint8_t>(c.data(), c.data() + c.size()), expected);
}

TEST(PldFlashImage, EmptyImage) {
  Buffer c = BuildPldFlashImage(nullptr, 0, HeapAllocator());
  ASSERT_TRUE(c);
  ASSERT_EQ(c.size(), 256u);
  const uint8_t fields[8] = {0x7B, 0xDD, 0x04, 0xC7, 0, 0, 0, 0};  // image checksum, length
  EXPECT_EQ(std::memcmp(c.data() + kImageCrcOffset, fields, 8), 0);
  EXPECT_TRUE(IsPldFlashHeaderValid(c.data()));
}

TEST(PldFlashHeader, ErasedAndZeroedFlashIsNoHeader) {
  for (uint8_t fill : {0xFF, 0x00}) {
    uint8_t header[kPldFlashHeaderSize];
    std::memset(header, fill, sizeof header);
    EXPECT_FALSE(IsPldFlashHeaderValid(header)) << int(fill);
  }
}

// Odd lengths are stored exactly; any damage to the header is seen, damage to the image is not.
TEST(PldFlashImage, OddLengthsStoredAndHeaderDamageDetected) {
  std::mt19937 rng(90);
  for (uint32_t n : {1u, 257u, 1001u}) {
    const std::vector<uint8_t> image = RandomBytes(rng, n);
    Buffer c = BuildPldFlashImage(image.data(), n, HeapAllocator());
    ASSERT_TRUE(c);
    ASSERT_EQ(c.size(), n + 256u);
    uint8_t* h = c.data();
    auto field = [h](size_t at) { return little_endian::Load32(h + at); };
    EXPECT_EQ(field(kImageLengthOffset), n);
    EXPECT_EQ(field(kImageCrcOffset), Crc32Augmented(image.data(), n));
    EXPECT_EQ(std::memcmp(h + 256, image.data(), n), 0) << n;
    EXPECT_TRUE(IsPldFlashHeaderValid(h)) << n;
    for (size_t i = 0; i < c.size(); ++i) {
      for (uint8_t pattern : {0x01, 0x80, 0x5A, 0xFF}) {
        h[i] ^= pattern;
        EXPECT_EQ(IsPldFlashHeaderValid(h), i >= kPldFlashHeaderSize)
            << "n=" << n << " byte " << i << " ^ " << int(pattern);
        h[i] ^= pattern;
      }
    }
  }
}

TEST(PldFlashImage, AllocationFailureGivesEmptyBuffer) {
  struct NoMemory final : Allocator {
    size_t request = 0;
    uint8_t* Allocate(size_t size) override {
      request = size;
      return nullptr;
    }
    void Free(uint8_t*) override { ADD_FAILURE() << "nothing to free"; }
  } noMemory;
  Buffer c = BuildPldFlashImage(Bytes("abc"), 3, noMemory);
  EXPECT_FALSE(c);
  EXPECT_EQ(c.size(), 0u);
  EXPECT_EQ(noMemory.request, 259u);
}

}  // namespace
}  // namespace updater
