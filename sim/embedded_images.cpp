// Looks the images of images/image_list.h up for the simulated modules.
#include "sim/embedded_images.h"

#include "images/image_list.h"
#include "images/image_lookup.h"

namespace sim {

EmbeddedImages LookupEmbeddedImages() {
  EmbeddedImages found;
  for (const images::ImageInfo& listed : images::kImageList) {
    FirmwareImage image;
    if (listed.kind == images::ImageKind::kMcuApplication) {
      image.kind = FirmwareImage::Kind::kApplication;
      image.revision = listed.variant;
    } else {
      image.kind = FirmwareImage::Kind::kPld;
      image.grade = static_cast<uint8_t>(listed.variant);
    }
    const images::ImageRange r = images::LookupImage(listed.name);
    if (r.failedStep == images::LookupStep::kNone && r.data != nullptr) {
      image.bytes = ByteRange{r.data, r.size};
    }
    found[listed.name] = image;
  }
  return found;
}

}  // namespace sim
