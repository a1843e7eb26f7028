// The module's reading of a boot-flash container: the reload checks that a module's configurations
// can't produce (a length beyond boot flash, sync patterns damaged under correct checksums). Its
// checksum and container agree with the utility's, whose known values pin both
// (tests/container/container_agreement_test.cpp, updater/pld_flash_image_test.cpp).
#include "sim/pld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "contract/little_endian.h"
#include "sim/memory_map.h"
#include "sim/testing/test_images.h"

namespace {

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
    little_endian::Store32(&flash[sim::kImageLengthAt], row.length);
    const uint32_t checked = std::min<uint32_t>(row.length, sim::kBootFlashSize - 256);
    little_endian::Store32(&flash[sim::kImageChecksumAt],
                           sim::ContainerChecksum(flash.data() + 256, checked));
    little_endian::Store32(&flash[sim::kHeaderChecksumAt],
                           sim::ContainerChecksum(flash.data() + 4, 252));
    const sim::ByteRange found = sim::ConfigurableImage(flash);
    EXPECT_EQ(found.data != nullptr, row.configurable);
    EXPECT_EQ(found.size, row.configurable ? row.length : 0u);
  }
}

}  // namespace
