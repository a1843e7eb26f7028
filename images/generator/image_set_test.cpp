// The generator is reproducible: two runs write identical files, and those files are the ones
// committed under images/data, from which the build embeds the images.
#include "images/generator/image_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "images/image_list.h"
#include "images/testing/committed_images.h"

namespace image_generator {
namespace {

namespace fs = std::filesystem;

TEST(GeneratorRun, TwoRunsWriteTheCommittedBytes) {
  const fs::path root =
      fs::path(testing::TempDir()) / ("r4690-images-" + std::to_string(std::random_device()()));
  std::string error;
  ASSERT_TRUE(WriteImages(root / "first", &error)) << error;
  ASSERT_TRUE(WriteImages(root / "second", &error)) << error;
  for (const images::ImageInfo& image : images::kImageList) {
    const char* name = image.name;
    const std::string file = std::string(name) + ".bin";
    const std::vector<uint8_t> first = images_test::ReadFileBytes((root / "first" / file).string());
    ASSERT_FALSE(first.empty()) << name;
    EXPECT_EQ(first, images_test::ReadFileBytes((root / "second" / file).string())) << name;
    EXPECT_EQ(first, images_test::ReadCommittedImage(name))
        << name << " differs from images/data; rebuild target regenerate-images";
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace image_generator
