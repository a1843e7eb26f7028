// image-generator: writes the five firmware images into the folder given on the command line.
#include <cstdio>
#include <string>

#include "tools/image-generator/image_set.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: image-generator OUTPUT-FOLDER\n");
    return 2;
  }
  std::string error;
  if (!image_generator::WriteImages(argv[1], &error)) {
    std::fprintf(stderr, "image-generator: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
