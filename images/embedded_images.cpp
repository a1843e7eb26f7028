// The firmware images of images/image_list.h built into the executable on systems without
// Windows resources: the assembler includes the committed image files byte for byte (.incbin),
// and the table below publishes them to the platform's resource functions as RCDATA resources.
#include <cstdint>

#include "images/image_list.h"
#include "platform/resource_table.h"

#ifndef R4690_IMAGE_DATA_DIR
#error "R4690_IMAGE_DATA_DIR must name the folder of the image files"
#endif

// One image: its bytes in read-only data between two hidden symbols, 16-byte aligned.
// clang-format off
#define R4690_EMBED_IMAGE(NAME)                                \
  asm(".pushsection .rodata.r4690_images,\"a\"\n"             \
      ".balign 16\n"                                           \
      ".globl r4690_image_" #NAME "_begin\n"                   \
      ".hidden r4690_image_" #NAME "_begin\n"                  \
      "r4690_image_" #NAME "_begin:\n"                         \
      ".incbin \"" R4690_IMAGE_DATA_DIR "/" #NAME ".bin\"\n"   \
      ".globl r4690_image_" #NAME "_end\n"                     \
      ".hidden r4690_image_" #NAME "_end\n"                    \
      "r4690_image_" #NAME "_end:\n"                           \
      ".popsection\n");                                        \
  extern "C" const uint8_t r4690_image_##NAME##_begin[];       \
  extern "C" const uint8_t r4690_image_##NAME##_end[]
// clang-format on

#define R4690_EMBED_LISTED_IMAGE(NAME, kind, variant, version) R4690_EMBED_IMAGE(NAME);
R4690_IMAGE_LIST(R4690_EMBED_LISTED_IMAGE)
#undef R4690_EMBED_LISTED_IMAGE

namespace {

constexpr uint16_t kRcData = 10;  // RT_RCDATA

#define R4690_IMAGE_ENTRY(NAME, kind, variant, version) \
  {images::k##NAME, kRcData, r4690_image_##NAME##_begin, r4690_image_##NAME##_end},
const qdev_posix::EmbeddedResource kEntries[] = {R4690_IMAGE_LIST(R4690_IMAGE_ENTRY)};
#undef R4690_IMAGE_ENTRY

}  // namespace

extern "C" const qdev_posix::EmbeddedResourceTable r4690_embedded_resources = {
    kEntries, sizeof kEntries / sizeof kEntries[0]};
