// The generator is reproducible: a run writes exactly the files committed under images/data,
// from which the build embeds the images.
#include "tools/image-generator/image_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "images/image_list.h"
#include "images/testing/committed_images.h"

TEST(GeneratorRun, WritesTheCommittedBytes) {
  const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) /
                                       ("r4690-images-" + std::to_string(std::random_device()()));
  std::string error;
  ASSERT_TRUE(image_generator::WriteImages(folder, &error)) << error;
  for (const images::ImageInfo& image : images::kImageList) {
    const std::vector<uint8_t> written = images_test::ReadImageFile(image.name, folder.string());
    ASSERT_FALSE(written.empty()) << image.name;
    EXPECT_EQ(written, images_test::ReadImageFile(image.name))
        << image.name << " differs from images/data; rebuild target regenerate-images";
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
