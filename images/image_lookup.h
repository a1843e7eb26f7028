// Finds an embedded firmware image by name through the platform's resource services. The
// lookup reports which step failed; what the program then says and does is its own affair.
#pragma once

#include <cstdint>

namespace images {

enum class LookupStep {
  kNone,          // found
  kFindResource,  // no resource of that name and type
  kLoadResource,  // the resource could not be loaded
  kLockResource,  // the loaded resource gave no address
};

struct ImageRange {
  const uint8_t* data = nullptr;  // read-only, valid for the life of the process
  uint32_t size = 0;
  LookupStep failedStep = LookupStep::kNone;
};

ImageRange LookupImage(const char* name);

}  // namespace images
