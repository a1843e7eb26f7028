// The PLD flash container and its checksum: known vectors, chaining, a byte-wise reference form,
// exact container layout, header validation against every single-byte damage, and running out
// of memory.
#include "updater/pld_flash_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace updater {
namespace {

const uint8_t* Bytes(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(byte(rng));
  return out;
}

// The usual non-reflected byte-at-a-time CRC (message byte into the register's top byte),
// started at the value that makes it match the augmented form.
uint32_t ByteWiseReference(const uint8_t* data, size_t n) {
  uint32_t reg = 0xC704DD7B;
  for (size_t i = 0; i < n; ++i) {
    reg ^= static_cast<uint32_t>(data[i]) << 24;
    for (int k = 0; k < 8; ++k) reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
  }
  return reg;
}

// Records what the container asks of its allocator; can be told to have no memory.
class CountingAllocator final : public Allocator {
 public:
  explicit CountingAllocator(bool fail = false) : fail_(fail) {}
  uint8_t* Allocate(size_t size) override {
    lastRequest = size;
    if (fail_) return nullptr;
    ++live;
    return static_cast<uint8_t*>(HeapAllocator().Allocate(size));
  }
  void Free(uint8_t* block) override {
    --live;
    HeapAllocator().Free(block);
  }
  size_t lastRequest = 0;
  int live = 0;

 private:
  bool fail_;
};

TEST(Crc32, KnownVectors) {
  const struct {
    const char* text;
    uint32_t plain;      // Crc32 from 0xFFFFFFFF
    uint32_t augmented;  // Crc32Augmented
  } rows[] = {
      {"abc", 0xB7051F63, 0xAD13F0CA},
      {"", 0xFFFFFFFF, 0xC704DD7B},
  };
  for (const auto& r : rows) {
    const uint32_t n = static_cast<uint32_t>(std::strlen(r.text));
    EXPECT_EQ(Crc32(0xFFFFFFFF, Bytes(r.text), n), r.plain) << r.text;
    EXPECT_EQ(Crc32Augmented(Bytes(r.text), n), r.augmented) << r.text;
  }
}

TEST(Crc32, ChainingEqualsOneCallAndMatchesByteWiseForm) {
  std::mt19937 rng(4690);
  for (int round = 0; round < 200; ++round) {
    const size_t n = std::uniform_int_distribution<size_t>(0, 300)(rng);
    const std::vector<uint8_t> data = RandomBytes(rng, n);
    const uint32_t split = static_cast<uint32_t>(std::uniform_int_distribution<size_t>(0, n)(rng));
    const uint32_t initial = static_cast<uint32_t>(rng());
    const uint32_t whole = Crc32(initial, data.data(), static_cast<uint32_t>(n));
    const uint32_t first = Crc32(initial, data.data(), split);
    EXPECT_EQ(Crc32(first, data.data() + split, static_cast<uint32_t>(n) - split), whole)
        << "n=" << n << " split=" << split;
    EXPECT_EQ(Crc32Augmented(data.data(), static_cast<uint32_t>(n)),
              ByteWiseReference(data.data(), n))
        << "n=" << n;
  }
}

TEST(PldFlashImage, AbcContainerByteForByte) {
  Buffer c = BuildPldFlashImage(Bytes("abc"), 3, HeapAllocator());
  ASSERT_TRUE(c);
  ASSERT_EQ(c.size(), 259u);
  const uint8_t head[12] = {0xBE, 0x18, 0xC4, 0x65, 0xCA, 0xF0, 0x13, 0xAD, 0x03, 0x00, 0x00, 0x00};
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(c.data()[i], head[i]) << "byte " << i;
  for (size_t i = 12; i < 256; ++i) ASSERT_EQ(c.data()[i], 0) << "byte " << i;
  EXPECT_EQ(std::memcmp(c.data() + 256, "abc", 3), 0);
  EXPECT_TRUE(IsPldFlashHeaderValid(c.data()));
}

TEST(PldFlashImage, EmptyImage) {
  Buffer c = BuildPldFlashImage(nullptr, 0, HeapAllocator());
  ASSERT_TRUE(c);
  ASSERT_EQ(c.size(), 256u);
  const uint8_t fields[8] = {0x7B, 0xDD, 0x04, 0xC7, 0, 0, 0, 0};  // ImageCrc, ImageLength
  EXPECT_EQ(std::memcmp(c.data() + kImageCrcOffset, fields, 8), 0);
  EXPECT_TRUE(IsPldFlashHeaderValid(c.data()));
}

TEST(PldFlashImage, ImagesOfAnyLengthStoredExactly) {
  std::mt19937 rng(90);
  for (uint32_t n : {1u, 3u, 255u, 257u, 1001u, 122006u, 122223u}) {
    const std::vector<uint8_t> image = RandomBytes(rng, n);
    Buffer c = BuildPldFlashImage(image.data(), n, HeapAllocator());
    ASSERT_TRUE(c);
    ASSERT_EQ(c.size(), n + 256u);
    const uint8_t* h = c.data();
    EXPECT_EQ(h[8] | h[9] << 8 | h[10] << 16 | uint32_t{h[11]} << 24, n);
    const uint32_t crc = Crc32Augmented(image.data(), n);
    const uint8_t crcBytes[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16),
                                 uint8_t(crc >> 24)};
    EXPECT_EQ(std::memcmp(h + kImageCrcOffset, crcBytes, 4), 0) << n;
    EXPECT_EQ(std::memcmp(h + 256, image.data(), n), 0) << n;
    EXPECT_TRUE(IsPldFlashHeaderValid(h)) << n;
  }
}

TEST(PldFlashHeader, BlankFlashIsNoHeader) {
  for (uint8_t fill : {uint8_t{0xFF}, uint8_t{0x00}}) {
    uint8_t header[kPldFlashHeaderSize];
    std::memset(header, fill, sizeof header);
    EXPECT_FALSE(IsPldFlashHeaderValid(header)) << int(fill);
  }
}

TEST(PldFlashHeader, AnyHeaderByteDamageIsDetectedImageDamageIsNot) {
  std::mt19937 rng(7);
  const std::vector<uint8_t> image = RandomBytes(rng, 64);
  Buffer c = BuildPldFlashImage(image.data(), 64, HeapAllocator());
  ASSERT_TRUE(c);
  for (size_t i = 0; i < c.size(); ++i) {
    for (uint8_t pattern : {0x01, 0x80, 0x5A, 0xFF}) {
      c.data()[i] ^= pattern;
      EXPECT_EQ(IsPldFlashHeaderValid(c.data()), i >= kPldFlashHeaderSize)
          << "byte " << i << " ^ " << int(pattern);
      c.data()[i] ^= pattern;
    }
  }
}

TEST(PldFlashImage, AllocationFailureGivesEmptyBuffer) {
  CountingAllocator noMemory(/*fail=*/true);
  Buffer c = BuildPldFlashImage(Bytes("abc"), 3, noMemory);
  EXPECT_FALSE(c);
  EXPECT_EQ(c.data(), nullptr);
  EXPECT_EQ(c.size(), 0u);
  EXPECT_EQ(noMemory.lastRequest, 259u);
}

TEST(Buffer, OwnershipMovesAndIsFreedOnce) {
  CountingAllocator counting;
  {
    Buffer a = AllocateZeroed(counting, 16);
    ASSERT_TRUE(a);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a.data()[i], 0);
    Buffer b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.size(), 16u);
    Buffer c = AllocateZeroed(counting, 0);  // no failure: a real block
    ASSERT_TRUE(c);
    EXPECT_EQ(counting.live, 2);
    c = std::move(b);  // c's own block goes back first
    EXPECT_EQ(counting.live, 1);
    EXPECT_EQ(c.size(), 16u);
    c.Reset();
    EXPECT_EQ(counting.live, 0);
    EXPECT_FALSE(c);
  }
  EXPECT_EQ(counting.live, 0);
}

}  // namespace
}  // namespace updater
