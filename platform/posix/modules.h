// Internal to the platform layer: the modules of the process, that is the executable and the
// shared libraries that the dynamic loader placed in it. A module's handle is the address at which
// it is loaded, as a Windows HMODULE is its image base.
#pragma once

#include "platform/win32.h"

namespace qdev_posix {

// The module that holds the address, or null when no module does.
HMODULE ModuleOfAddress(const void* address);
// The module that this copy of the platform layer is linked into.
HMODULE ThisModule();
// The executable.
HMODULE MainProgram();

}  // namespace qdev_posix
