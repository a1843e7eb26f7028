// Maps the outcome of an image lookup to the utility's console lines.
#include "updater/image_loader.h"

#include "updater/messages.h"

namespace updater {

const char* LookupFailureLine(images::LookupStep step) {
  switch (step) {
    case images::LookupStep::kNone:
      return nullptr;
    case images::LookupStep::kFindResource:
      return message::kFindResourceBad;
    case images::LookupStep::kLoadResource:
      return message::kLoadResourceBad;
    case images::LookupStep::kLockResource:
      return message::kLockResourceBad;
  }
  return message::kFindResourceBad;  // an unknown step is still a failed lookup
}

bool LoadImageResource(const char* name, ImageLookup lookup, Console& console,
                       IR4690_BOOT_LOADER*& device, ExitFunction exit, images::ImageRange* image) {
  *image = lookup(name);
  if (const char* line = LookupFailureLine(image->failedStep)) {
    ReleaseDevice(console, device, line, true, exit);
    return false;
  }
  return true;
}

}  // namespace updater
