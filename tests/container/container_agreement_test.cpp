// The PLD container is written by the utility with its bit-by-bit checksum and read by the
// simulated module with a table-driven one of its own, so that neither can hide a fault of the
// other. Here the two must agree: on every byte value, on ranges of every length up to a few
// hundred bytes, and on whole containers in both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "sim/memory_map.h"
#include "sim/pld.h"
#include "updater/allocator.h"
#include "updater/pld_flash_image.h"

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(ContainerAgreement, ChecksumsAgreeOnEveryByteAndLength) {
  for (uint32_t b = 0; b < 256; ++b) {
    const uint8_t byte = static_cast<uint8_t>(b);
    ASSERT_EQ(sim::ContainerChecksum(&byte, 1), updater::Crc32Augmented(&byte, 1)) << b;
  }
  std::mt19937 rng(4690);
  for (uint32_t n = 0; n < 600; ++n) {
    const std::vector<uint8_t> bytes = RandomBytes(rng, n);
    ASSERT_EQ(sim::ContainerChecksum(bytes.data(), n), updater::Crc32Augmented(bytes.data(), n))
        << n;
  }
}

// A PLD image: the sync pattern, then odd-length random bytes.
std::vector<uint8_t> PldImage(std::mt19937& rng) {
  std::vector<uint8_t> image(sim::kPldSyncOnes, 0xFF);
  image.push_back(sim::kPldSyncByte);
  const std::vector<uint8_t> body = RandomBytes(rng, 12345);
  image.insert(image.end(), body.begin(), body.end());
  return image;
}

TEST(ContainerAgreement, EachSideLoadsWhatTheOtherBuilds) {
  std::mt19937 rng(12);
  const std::vector<uint8_t> image = PldImage(rng);
  const uint32_t n = static_cast<uint32_t>(image.size());

  // The utility's container, in boot flash, loads in the module.
  updater::Buffer written = updater::BuildPldFlashImage(image.data(), n, updater::HeapAllocator());
  ASSERT_TRUE(written);
  std::vector<uint8_t> bootFlash(written.data(), written.data() + written.size());
  bootFlash.resize(sim::kBootFlashSize, 0xFF);
  const sim::ByteRange loaded = sim::ConfigurableImage(bootFlash);
  ASSERT_EQ(loaded.size, n);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), loaded.data));

  // The module's own container is byte for byte the utility's, so the utility accepts its header.
  const std::vector<uint8_t> built = sim::BuildContainer(image.data(), image.size());
  EXPECT_EQ(built, std::vector<uint8_t>(written.data(), written.data() + written.size()));
  EXPECT_TRUE(updater::IsPldFlashHeaderValid(built.data()));
}

}  // namespace
