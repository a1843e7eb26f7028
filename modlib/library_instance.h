// The module that the library lives in: the shared library itself, or the executable that the
// static library is linked into. Its string resources hold the texts of the error codes.
#pragma once

#include "platform/win32.h"

namespace modlib {

// Found from an address inside the library; null if that fails, which leaves LoadStringA with
// the executable's resources.
HINSTANCE LibraryInstance();

}  // namespace modlib
