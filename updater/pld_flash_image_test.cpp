// The PLD flash container and its checksum: known vectors, the container of an empty image, and
// running out of memory. The checksum's chaining, the container's layout for any image and the
// header check against any damage are the container fuzz target's (tests/fuzz/container.cpp),
// which holds them to a second checksum written from the published definition on every input.
#include "updater/pld_flash_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace updater {
namespace {

const uint8_t* Bytes(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

TEST(Crc32, KnownVectors) {
  EXPECT_EQ(Crc32(0xFFFFFFFF, Bytes("abc"), 3), 0xB7051F63u);
  EXPECT_EQ(Crc32Augmented(Bytes("abc"), 3), 0xAD13F0CAu);
  EXPECT_EQ(Crc32Augmented(nullptr, 0), 0xC704DD7Bu);
}

TEST(PldFlashImage, EmptyImage) {
  Buffer c = BuildPldFlashImage(nullptr, 0, HeapAllocator());
  ASSERT_TRUE(c);
  ASSERT_EQ(c.size(), 256u);
  const uint8_t fields[8] = {0x7B, 0xDD, 0x04, 0xC7, 0, 0, 0, 0};  // image checksum, length
  EXPECT_EQ(std::memcmp(c.data() + kImageCrcOffset, fields, 8), 0);
  EXPECT_TRUE(IsPldFlashHeaderValid(c.data()));
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
