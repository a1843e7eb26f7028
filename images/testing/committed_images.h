// Tests only: reads a committed image file, images/data/<NAME>.bin, from the source tree
// (R4690_IMAGE_DATA_DIR, defined by images_testing).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace images_test {

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadCommittedImage(const std::string& name) {
  return ReadFileBytes(std::string(R4690_IMAGE_DATA_DIR) + "/" + name + ".bin");
}

}  // namespace images_test
