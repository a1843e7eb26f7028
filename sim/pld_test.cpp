// The PLD container as the module checks it on a reload.
#include "sim/pld.h"

#include <gtest/gtest.h>

#include <functional>

#include "sim/memory_map.h"
#include "sim/sim_test_images.h"
#include "updater/pld_flash_image.h"

namespace {

void PutLe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// Header checksum recomputed, as a container that someone built on purpose would have it.
void Reseal(std::vector<uint8_t>& flash) {
  PutLe32(flash, 0, updater::Crc32Augmented(flash.data() + 4, 252));
}

TEST(PldContainer, BuildsTheUtilitysLayout) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  const std::vector<uint8_t> c = sim::BuildContainer(abc, 3);
  ASSERT_EQ(c.size(), 259u);
  EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 12),
            (std::vector<uint8_t>{0xBE, 0x18, 0xC4, 0x65, 0xCA, 0xF0, 0x13, 0xAD, 3, 0, 0, 0}));
  EXPECT_EQ(std::count(c.begin() + 12, c.begin() + 256, 0), 244);
  EXPECT_EQ(c[258], 'c');
}

TEST(PldContainer, ReloadChecks) {
  const std::vector<uint8_t>& image = sim_test::TestPldImage(false);
  struct Row {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    bool configurable;
  };
  const Row rows[] = {
      {"intact", [](std::vector<uint8_t>&) {}, true},
      {"header checksum", [](std::vector<uint8_t>& f) { f[0] ^= 0x80; }, false},
      {"reserved byte", [](std::vector<uint8_t>& f) { f[100] = 1; }, false},
      {"image byte", [](std::vector<uint8_t>& f) { f[256 + 40] ^= 1; }, false},
      {"length larger than boot flash, header resealed",
       [](std::vector<uint8_t>& f) {
         PutLe32(f, 8, sim::kBootFlashSize);
         Reseal(f);
       },
       false},
      {"length one short, both checksums resealed",
       [&image](std::vector<uint8_t>& f) {
         PutLe32(f, 8, static_cast<uint32_t>(image.size() - 1));
         PutLe32(f, 4, updater::Crc32Augmented(f.data() + 256, image.size() - 1));
         Reseal(f);
       },
       true},
      {"sync byte, checksums resealed",
       [&image](std::vector<uint8_t>& f) {
         f[256 + 32] = 0x6B;
         PutLe32(f, 4, updater::Crc32Augmented(f.data() + 256, image.size()));
         Reseal(f);
       },
       false},
      {"one of the 32 leading ones, checksums resealed",
       [&image](std::vector<uint8_t>& f) {
         f[256 + 5] = 0xFE;
         PutLe32(f, 4, updater::Crc32Augmented(f.data() + 256, image.size()));
         Reseal(f);
       },
       false},
      {"erased", [](std::vector<uint8_t>& f) { std::fill(f.begin(), f.end(), 0xFF); }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> flash(sim::kBootFlashSize, 0xFF);
    const std::vector<uint8_t> c = sim::BuildContainer(image.data(), image.size());
    std::copy(c.begin(), c.end(), flash.begin());
    row.damage(flash);
    const sim::ByteRange found = sim::ConfigurableImage(flash);
    EXPECT_EQ(found.data != nullptr, row.configurable);
    if (row.configurable) {
      EXPECT_EQ(found.data, flash.data() + 256);
    }
  }
}

TEST(PldContainer, StandInImagePassesAndNamesItsText) {
  const std::vector<uint8_t> image = sim::StandInPldImage();
  std::vector<uint8_t> flash = sim::BuildContainer(image.data(), image.size());
  flash.resize(sim::kBootFlashSize, 0xFF);
  EXPECT_NE(sim::ConfigurableImage(flash).data, nullptr);
  EXPECT_EQ(sim::OtherPldText("3.0.5i", ""),
            "<Version>{3.0.5i (build Mar 14 2019)} <Comments>{R46-90 PLD configuration, "
            "industrial grade}");
  EXPECT_EQ(sim::OtherPldText("3.0.5i", "whole text"), "whole text");
}

}  // namespace
