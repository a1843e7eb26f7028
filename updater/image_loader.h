// How the update finds an embedded firmware image by name, and the console line for a lookup
// that failed.
#pragma once

#include <cstdint>

#include "images/image_lookup.h"

namespace updater {

// How images are found; production uses images::LookupImage, tests a lookup of their own.
using ImageLookup = images::ImageRange (*)(const char* name);

// The console line for a failed lookup step, or null when the lookup succeeded.
const char* LookupFailureLine(images::LookupStep step);

}  // namespace updater
