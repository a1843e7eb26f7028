// CreateInstance: makes an interface object for an interface name and hands it out as a pointer
// to the interface that the name stands for.
#include <new>

#include "modlib/interfaces.h"
#include "modlib/qusbbase.h"
#include "modlib/r4690_boot_loader.h"

namespace {

// The library's module-instance handle, whose string resources GetLastErrorInfo searches. The
// library carries no string resources and nothing sets it.
const HINSTANCE kLibraryInstance = nullptr;

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whole-text comparison without regard to letter case (ASCII letters only, independent of the
// locale).
bool SameNameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

void* CreateInstance(const char* InterfaceName, uint8_t DriverKind, int32_t SkipNameCheck) {
  if (InterfaceName == nullptr) return nullptr;

  if (SameNameIgnoringCase(InterfaceName, kQusbBaseInterfaceName)) {
    TQUSBBASE* object = new (std::nothrow) TQUSBBASE(kLibraryInstance);
    return object != nullptr ? static_cast<void*>(static_cast<IQUSBBASE*>(object)) : nullptr;
  }

  if (SameNameIgnoringCase(InterfaceName, kR4690BootLoaderInterfaceName)) {
    TR4690_BOOT_LOADER* object =
        new (std::nothrow) TR4690_BOOT_LOADER(kLibraryInstance, DriverKind, SkipNameCheck);
    return object != nullptr ? static_cast<void*>(static_cast<IR4690_BOOT_LOADER*>(object))
                             : nullptr;
  }

  return nullptr;
}
