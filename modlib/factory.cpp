// CreateInstance: makes an interface object for an interface name and hands it out as a pointer
// to the interface that the name stands for. Every object gets the handle of the module that the
// library lives in (modlib/library_instance.h), whose string resources hold the texts of the
// error codes.
#include <new>

#include "modlib/interfaces.h"
#include "modlib/library_instance.h"
#include "modlib/qusbbase.h"
#include "modlib/r4690_boot_loader.h"
#include "platform/ascii_case.h"
#include "platform/win32.h"

void* CreateInstance(const char* InterfaceName, uint8_t DriverKind, int32_t SkipNameCheck) {
  if (InterfaceName == nullptr) return nullptr;

  if (qdev::SameIgnoringAsciiCase(InterfaceName, kQusbBaseInterfaceName)) {
    TQUSBBASE* object = new (std::nothrow) TQUSBBASE(modlib::LibraryInstance());
    return object != nullptr ? static_cast<void*>(static_cast<IQUSBBASE*>(object)) : nullptr;
  }

  if (qdev::SameIgnoringAsciiCase(InterfaceName, kR4690BootLoaderInterfaceName)) {
    TR4690_BOOT_LOADER* object =
        new (std::nothrow) TR4690_BOOT_LOADER(modlib::LibraryInstance(), DriverKind, SkipNameCheck);
    return object != nullptr ? static_cast<void*>(static_cast<IR4690_BOOT_LOADER*>(object))
                             : nullptr;
  }

  return nullptr;
}
