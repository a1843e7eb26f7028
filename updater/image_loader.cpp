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

}  // namespace updater
