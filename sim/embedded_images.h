// The embedded firmware images as the simulated modules use them, looked up once through the
// image layer by the names of its list. An image that can't be found is an empty range (the
// module then starts without it).
#pragma once

#include "sim/module_content.h"

namespace sim {

EmbeddedImages LookupEmbeddedImages();

}  // namespace sim
