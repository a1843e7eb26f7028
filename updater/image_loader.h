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

// The console line for a failed lookup step, or null when the lookup succeeded.
const char* LookupFailureLine(images::LookupStep step);

// The image's bytes in *image, read-only for the life of the process; a size of 0 is no failure
// here. On failure the run ends through ReleaseDevice with the failing step's line, and the
// result is false: the run goes no further.
bool LoadImageResource(const char* name, ImageLookup lookup, Console& console,
                       IR4690_BOOT_LOADER*& device, ExitFunction exit, images::ImageRange* image);

}  // namespace updater
