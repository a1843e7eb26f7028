// The generator is reproducible: two runs write identical files, and those files are the ones
// committed under images/data, from which the build embeds the images.
#include "images/generator/image_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "images/committed_images_for_test.h"
#include "images/generator/mcu_image.h"
#include "images/generator/pld_image.h"

namespace image_generator {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the test's temporary folder, removed with the fixture.
class GeneratorRunTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device entropy;
    root_ = fs::path(testing::TempDir()) / ("r4690-images-" + std::to_string(entropy()));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root_;
};

const char* const kNames[] = {"R4690A_APPL", "R4690B_APPL", "R4690C_APPL", "R4690CC_PLD",
                              "R4690CI_PLD"};

TEST_F(GeneratorRunTest, TwoRunsWriteTheCommittedBytes) {
  std::string error;
  ASSERT_TRUE(WriteImages(root_ / "first", &error)) << error;
  ASSERT_TRUE(WriteImages(root_ / "second", &error)) << error;
  for (const char* name : kNames) {
    const std::string file = std::string(name) + ".bin";
    const std::vector<uint8_t> first =
        images_test::ReadFileBytes((root_ / "first" / file).string());
    const std::vector<uint8_t> second =
        images_test::ReadFileBytes((root_ / "second" / file).string());
    ASSERT_FALSE(first.empty()) << name;
    EXPECT_EQ(first, second) << name;
    EXPECT_EQ(first, images_test::ReadCommittedImage(name))
        << name << " differs from images/data; rebuild target regenerate-images";
  }
}

TEST_F(GeneratorRunTest, ReportsAFolderItCannotCreate) {
  // A regular file where the output folder should be.
  fs::create_directories(root_);
  { std::ofstream(root_ / "blocker") << "x"; }
  std::string error;
  EXPECT_FALSE(WriteImages(root_ / "blocker" / "out", &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST(ImageBuilders, RefuseSizesWithoutRoomForTheirParts) {
  const struct {
    uint32_t size;
    bool built;
  } mcu[] = {{8192, true}, {1024, true}, {512, false}, {255, false}, {0, false}};
  for (const auto& c : mcu) {
    const std::vector<uint8_t> image = BuildMcuImage({c.size, 'C', "3.2", "Nov 12 2020", 1});
    EXPECT_EQ(!image.empty(), c.built) << "MCU size " << c.size;
    if (c.built) {
      EXPECT_EQ(image.size(), c.size);
    }
  }
  const struct {
    uint32_t size;
    bool built;
  } pld[] = {{108, true}, {107, false}, {0, false}};
  for (const auto& c : pld) {
    const std::vector<uint8_t> image = BuildPldImage(c.size, 1);
    EXPECT_EQ(!image.empty(), c.built) << "PLD size " << c.size;
    if (c.built) {
      EXPECT_EQ(image.size(), c.size);
    }
  }
}

TEST(ImageBuilders, PldBodyFollowsTheSeed) {
  const std::vector<uint8_t> a = BuildPldImage(4096, 7);
  EXPECT_EQ(a, BuildPldImage(4096, 7));
  EXPECT_NE(a, BuildPldImage(4096, 8));
  // The seed changes the body, never the framing.
  const std::vector<uint8_t> b = BuildPldImage(4096, 8);
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 33, b.begin()));
  EXPECT_TRUE(std::equal(a.end() - 74, a.end(), b.end() - 74));
}

}  // namespace
}  // namespace image_generator
