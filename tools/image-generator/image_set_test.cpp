// The generator is reproducible: a run writes exactly the files committed under images/data,
// from which the build embeds the images; and the reach of the assembler's relative transfers: a
// label within it resolves, one beyond it fails the program (the encodings that the images use
// are pinned by the committed images).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "images/image_list.h"
#include "images/testing/committed_images.h"
#include "tools/image-generator/avr_assembler.h"
#include "tools/image-generator/image_set.h"

namespace image_generator {
namespace {

TEST(GeneratorRun, WritesTheCommittedBytes) {
  const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) /
                                       ("r4690-images-" + std::to_string(std::random_device()()));
  std::string error;
  ASSERT_TRUE(WriteImages(folder, &error)) << error;
  for (const images::ImageInfo& image : images::kImageList) {
    const std::vector<uint8_t> written = images_test::ReadImageFile(image.name, folder.string());
    ASSERT_FALSE(written.empty()) << image.name;
    EXPECT_EQ(written, images_test::ReadImageFile(image.name))
        << image.name << " differs from images/data; rebuild target regenerate-images";
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

TEST(AvrProgram, BrneReachesSixtyThreeWordsAheadAndNoFurther) {
  for (const int gap : {63, 64}) {
    AvrProgram p(0);
    const auto end = p.NewLabel();
    p.Brne(end);
    for (int i = 0; i < gap; ++i) p.Emit(0x0000);
    p.Place(end);
    EXPECT_EQ(p.Finish(), gap == 63) << gap;  // counted from the word after the branch
  }
}

}  // namespace
}  // namespace image_generator
