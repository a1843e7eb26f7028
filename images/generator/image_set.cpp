// The parameters that make each of the five images, and their output as files.
#include "images/generator/image_set.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "images/generator/mcu_image.h"
#include "images/generator/pld_image.h"
#include "images/image_names.h"

namespace image_generator {
namespace {

// Each image's version is the lowest that the selection keeps for its major version.
const McuImageParams kMcuImages[] = {
    {12288, 'A', "1.8", "Oct 31 2008", 0xC8},
    {12288, 'B', "2.5", "Nov 11 2020", 0x96},
    {8192, 'C', "3.2", "Nov 12 2020", 0x64},
};
const char* const kMcuNames[] = {images::kR4690A_APPL, images::kR4690B_APPL, images::kR4690C_APPL};

struct PldImageParams {
  const char* name;
  uint32_t size;
  uint64_t seed;  // fixed, and different per image
};
const PldImageParams kPldImages[] = {
    {images::kR4690CC_PLD, 122223, 0x5244363930434350ull},
    {images::kR4690CI_PLD, 122006, 0x5244363930434950ull},
};

}  // namespace

std::vector<GeneratedImage> BuildImages() {
  std::vector<GeneratedImage> result;
  for (size_t i = 0; i < std::size(kMcuImages); ++i)
    result.push_back({kMcuNames[i], BuildMcuImage(kMcuImages[i])});
  for (const PldImageParams& p : kPldImages)
    result.push_back({p.name, BuildPldImage(p.size, p.seed)});
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
