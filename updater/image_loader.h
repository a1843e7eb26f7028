// LoadImageResource: the bytes of an embedded firmware image by name, or the end of the run
// with the line of the lookup step that failed.
#pragma once

#include <cstdint>

#include "images/image_lookup.h"
#include "modlib/interfaces.h"
#include "updater/console.h"

namespace updater {

// How images are found; production uses images::LookupImage, tests a lookup of their own.
using ImageLookup = images::ImageRange (*)(const char* name);

// A read-only range owned by the platform for the life of the process.
struct ImageBytes {
  const uint8_t* data;
  uint32_t size;  // 0 is no failure here
};

// The console line for a failed lookup step, or null when the lookup succeeded.
const char* LookupFailureLine(images::LookupStep step);

// Never returns on failure: the run ends through ReleaseDevice with the failing step's line.
ImageBytes LoadImageResource(const char* name, ImageLookup lookup, Console& console,
                             IR4690_BOOT_LOADER*& device);

}  // namespace updater
