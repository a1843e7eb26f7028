// The image lookup over the platform's resource functions: the executable's own RCDATA
// resource of the given name, as a read-only range that lasts for the life of the process.
#include "images/image_lookup.h"

#include "platform/win32.h"

namespace images {

ImageRange LookupImage(const char* name) {
  ImageRange range;
  HRSRC resource = FindResourceA(nullptr, name, RT_RCDATA);
  if (resource == nullptr) {
    range.failedStep = LookupStep::kFindResource;
    return range;
  }
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (loaded == nullptr) {
    range.failedStep = LookupStep::kLoadResource;
    return range;
  }
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) {
    range.failedStep = LookupStep::kLockResource;
    return range;
  }
  range.data = static_cast<const uint8_t*>(bytes);
  // An empty resource is still a resource; what the caller makes of size 0 is its concern.
  range.size = SizeofResource(nullptr, resource);
  return range;
}

}  // namespace images
