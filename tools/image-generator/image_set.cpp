// The parameters that make each image of images/image_list.h, and their output as files.
#include "tools/image-generator/image_set.h"

#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "images/image_list.h"
#include "tools/image-generator/mcu_image.h"
#include "tools/image-generator/pld_image.h"

namespace image_generator {
namespace {

// What the generator adds to each image of images/image_list.h, whose revision or grade and
// version it takes from there. The selection keeps an installed application from its image's
// version on, so each MCU image carries the lowest version that its revision keeps.
struct McuImageBuild {
  const char* name;
  uint32_t size;
  const char* created;
  uint8_t blinkDelay;
};
const McuImageBuild kMcuImageBuilds[] = {
    {images::kR4690A_APPL, 12288, "Oct 31 2008", 0xC8},
    {images::kR4690B_APPL, 12288, "Nov 11 2020", 0x96},
    {images::kR4690C_APPL, 8192, "Nov 12 2020", 0x64},
};

struct PldImageBuild {
  const char* name;
  uint32_t size;
  uint64_t seed;  // fixed, and different per image
};
const PldImageBuild kPldImageBuilds[] = {
    {images::kR4690CC_PLD, 122223, 0x5244363930434350ull},
    {images::kR4690CI_PLD, 122006, 0x5244363930434950ull},
};

static_assert(std::size(kMcuImageBuilds) + std::size(kPldImageBuilds) ==
                  std::size(images::kImageList),
              "every listed image needs the generator's parameters");

template <typename Build, size_t N>
const Build* BuildOf(const Build (&builds)[N], const char* name) {
  for (const Build& b : builds) {
    if (std::string_view(b.name) == name) return &b;
  }
  return nullptr;
}

std::vector<uint8_t> BuildImage(const images::ImageInfo& image) {
  if (image.kind == images::ImageKind::kMcuApplication) {
    const McuImageBuild* b = BuildOf(kMcuImageBuilds, image.name);
    if (b == nullptr) return {};
    return BuildMcuImage({b->size, image.variant, image.version, b->created, b->blinkDelay});
  }
  const PldImageBuild* b = BuildOf(kPldImageBuilds, image.name);
  if (b == nullptr) return {};
  return BuildPldImage(b->size, b->seed);
}

}  // namespace

std::vector<GeneratedImage> BuildImages() {
  std::vector<GeneratedImage> result;
  for (const images::ImageInfo& image : images::kImageList) {
    result.push_back({image.name, BuildImage(image)});
  }
  return result;
}

bool WriteImages(const std::filesystem::path& folder, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    *error = "cannot create " + folder.string() + ": " + ec.message();
    return false;
  }
  for (const GeneratedImage& image : BuildImages()) {
    if (image.bytes.empty()) {
      *error = "cannot build " + image.name;
      return false;
    }
    const std::filesystem::path path = folder / (image.name + ".bin");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.bytes.data()),
              static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) {
      *error = "cannot write " + path.string();
      return false;
    }
  }
  return true;
}

}  // namespace image_generator
