// Looks the five embedded images up for the simulated modules.
#include "sim/embedded_images.h"

#include "images/image_lookup.h"
#include "images/image_names.h"

namespace sim {

namespace {

ByteRange Find(const char* name) {
  const images::ImageRange r = images::LookupImage(name);
  if (r.failedStep != images::LookupStep::kNone || r.data == nullptr) return {};
  return ByteRange{r.data, r.size};
}

}  // namespace

EmbeddedImages LookUpEmbeddedImages() {
  EmbeddedImages e;
  e.application[0] = Find(images::kR4690A_APPL);
  e.application[1] = Find(images::kR4690B_APPL);
  e.application[2] = Find(images::kR4690C_APPL);
  e.pldCommercial = Find(images::kR4690CC_PLD);
  e.pldIndustrial = Find(images::kR4690CI_PLD);
  return e;
}

}  // namespace sim
