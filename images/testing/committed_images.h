// Tests only: the bytes of a file, by default of a committed image, images/data/<NAME>.bin, in
// the source tree (R4690_IMAGE_DATA_DIR, defined by images_testing).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace images_test {

inline std::vector<uint8_t> ReadImageFile(const std::string& name,
                                          const std::string& folder = R4690_IMAGE_DATA_DIR) {
  std::ifstream in(folder + "/" + name + ".bin", std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace images_test
