// CreateInstance: makes an interface object for an interface name and hands it out as a pointer
// to the interface that the name stands for. Every object gets the handle of the module that the
// library lives in (the shared library itself, or the executable that the static library is
// linked into), whose string resources hold the texts of the error codes.
#include <new>

#include "modlib/interfaces.h"
#include "modlib/qusbbase.h"
#include "modlib/r4690_boot_loader.h"
#include "platform/ascii_case.h"
#include "platform/win32.h"

namespace {

// The module that holds this code, found from an address inside it; null if that fails, which
// leaves GetLastErrorInfo with the executable's resources.
HINSTANCE LibraryInstance() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&LibraryInstance), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

void* CreateInstance(const char* InterfaceName, uint8_t DriverKind, int32_t SkipNameCheck) {
  if (InterfaceName == nullptr) return nullptr;

  if (qdev::SameIgnoringAsciiCase(InterfaceName, kQusbBaseInterfaceName)) {
    TQUSBBASE* object = new (std::nothrow) TQUSBBASE(LibraryInstance());
    return object != nullptr ? static_cast<void*>(static_cast<IQUSBBASE*>(object)) : nullptr;
  }

  if (qdev::SameIgnoringAsciiCase(InterfaceName, kR4690BootLoaderInterfaceName)) {
    TR4690_BOOT_LOADER* object =
        new (std::nothrow) TR4690_BOOT_LOADER(LibraryInstance(), DriverKind, SkipNameCheck);
    return object != nullptr ? static_cast<void*>(static_cast<IR4690_BOOT_LOADER*>(object))
                             : nullptr;
  }

  return nullptr;
}
