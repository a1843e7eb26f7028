// The five firmware images that the utility carries, listed once. Every other list of them comes
// from this one: the names below, the embedded data (embedded_images.cpp), the Windows resources
// and the build's list of image files (CMakeLists.txt reads the X(...) lines), the generator's
// output, the versions that the selection keeps, and the simulator's images.
#pragma once

#include <cstddef>
#include <cstdint>

// X(NAME, kind, variant, version), one image each, in resource-name order:
//   NAME     the resource name, and the committed file data/NAME.bin
//   kind     kMcuApplication or kPldConfiguration
//   variant  an application's hardware revision letter; a PLD configuration's temperature grade
//            (0 commercial, 1 industrial)
//   version  the version text the image reports about itself: the Version of an application's
//            firmware description, the version in a PLD's information text
// clang-format off
#define R4690_IMAGE_LIST(X)                          \
  X(R4690A_APPL, kMcuApplication, 'A', "1.8")        \
  X(R4690B_APPL, kMcuApplication, 'B', "2.5")        \
  X(R4690C_APPL, kMcuApplication, 'C', "3.2")        \
  X(R4690CC_PLD, kPldConfiguration, 0, "3.0.7c")     \
  X(R4690CI_PLD, kPldConfiguration, 1, "3.0.7i")
// clang-format on

namespace images {

enum class ImageKind { kMcuApplication, kPldConfiguration };

// The names: kR4690A_APPL is "R4690A_APPL", and so on.
#define R4690_IMAGE_NAME(NAME, kind, variant, version) constexpr char k##NAME[] = #NAME;
R4690_IMAGE_LIST(R4690_IMAGE_NAME)
#undef R4690_IMAGE_NAME

struct ImageInfo {
  const char* name;
  ImageKind kind;
  char variant;         // revision letter, or grade 0 / 1
  const char* version;  // as the image reports it
};

#define R4690_IMAGE_INFO(NAME, kind, variant, version) \
  ImageInfo{k##NAME, ImageKind::kind, variant, version},
constexpr ImageInfo kImageList[] = {R4690_IMAGE_LIST(R4690_IMAGE_INFO)};
#undef R4690_IMAGE_INFO

// The list's entry of an image name; null for a name that is not in the list.
constexpr const ImageInfo* FindImage(const char* name) {
  for (const ImageInfo& image : kImageList) {
    size_t i = 0;
    while (image.name[i] != '\0' && image.name[i] == name[i]) ++i;
    if (image.name[i] == name[i]) return &image;
  }
  return nullptr;
}

// Where an MCU image carries its firmware description: its last 256 bytes.
constexpr uint32_t kDescriptionBlockFromEnd = 256;

}  // namespace images
