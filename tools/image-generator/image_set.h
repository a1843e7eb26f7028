// The firmware images of images/image_list.h, as the generator makes them, and the writing of
// them into a folder as <NAME>.bin.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace image_generator {

struct GeneratedImage {
  std::string name;            // resource name, for example "R4690A_APPL"
  std::vector<uint8_t> bytes;  // the whole image
};

// Every image of the list, in its order. An image that could not be built is empty.
std::vector<GeneratedImage> BuildImages();

// Writes every image to folder/<name>.bin, creating the folder when needed. On failure returns
// false with a one-line reason in *error.
bool WriteImages(const std::filesystem::path& folder, std::string* error);

}  // namespace image_generator
