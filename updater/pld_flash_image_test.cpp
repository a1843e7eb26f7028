// The PLD flash container when memory runs out. The checksum, its chaining, the container's
// layout for any image (the empty one too) and the header check against any damage are the
// container fuzz target's (tests/fuzz/container.cpp), which holds them to a second checksum
// written from the published definition on every input.
#include "updater/pld_flash_image.h"

#include <gtest/gtest.h>

namespace updater {
namespace {

TEST(PldFlashImage, AllocationFailureGivesEmptyBuffer) {
  struct NoMemory final : Allocator {
    size_t request = 0;
    uint8_t* Allocate(size_t size) override {
      request = size;
      return nullptr;
    }
    void Free(uint8_t*) override { ADD_FAILURE() << "nothing to free"; }
  } noMemory;
  Buffer c = BuildPldFlashImage(reinterpret_cast<const uint8_t*>("abc"), 3, noMemory);
  EXPECT_FALSE(c);
  EXPECT_EQ(c.size(), 0u);
  EXPECT_EQ(noMemory.request, 259u);
}

}  // namespace
}  // namespace updater
