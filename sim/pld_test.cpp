// The reload checks on a boot-flash container that a module's configurations can't produce: a
// length beyond boot flash, and sync patterns damaged under correct checksums.
#include "sim/pld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "sim/memory_map.h"
#include "sim/sim_test_images.h"
#include "updater/pld_flash_image.h"

namespace {

void PutLe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

TEST(PldContainer, ReloadChecksUnderCorrectChecksums) {
  const std::vector<uint8_t>& image = sim_test::TestPldImage(false);
  const uint32_t size = static_cast<uint32_t>(image.size());
  struct Row {
    const char* what;
    size_t at;  // image byte changed to `value`, unless at == SIZE_MAX
    uint8_t value;
    uint32_t length;  // stored image length
    bool configurable;
  };
  const Row rows[] = {
      {"intact", SIZE_MAX, 0, size, true},
      {"length one short", SIZE_MAX, 0, size - 1, true},
      {"length beyond boot flash", SIZE_MAX, 0, sim::kBootFlashSize, false},
      {"length ends before the sync byte", SIZE_MAX, 0, sim::kPldSyncOnes, false},
      {"sync byte", sim::kPldSyncOnes, 0x6B, size, false},
      {"one of the leading ones", 5, 0xFE, size, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> flash = sim::BuildContainer(image.data(), image.size());
    flash.resize(sim::kBootFlashSize, 0xFF);
    if (row.at != SIZE_MAX) flash[256 + row.at] = row.value;
    PutLe32(flash, 8, row.length);
    const uint32_t checked = std::min<uint32_t>(row.length, sim::kBootFlashSize - 256);
    PutLe32(flash, 4, updater::Crc32Augmented(flash.data() + 256, checked));
    PutLe32(flash, 0, updater::Crc32Augmented(flash.data() + 4, 252));
    const sim::ByteRange found = sim::ConfigurableImage(flash);
    EXPECT_EQ(found.data != nullptr, row.configurable);
    EXPECT_EQ(found.size, row.configurable ? row.length : 0u);
  }
}

}  // namespace
