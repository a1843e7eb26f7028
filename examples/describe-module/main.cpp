// describe-module: opens the first R46-90 module it finds, as the update utility does (virtual
// slots 0 to 126 through the factory's interface), and prints what the module says about itself.
//
//   describe-module [R4690_BOOT_LOADER | QUSBBASE]
//
// With the boot-loader interface (the default) it prints the model name, the USB speed and the
// module description; opening puts the module's MCU in its boot loader, as the utility's open
// does. With the base interface it prints the model name and the USB speed of any of the maker's
// modules. On a failure it prints the interface's last error with its text and exits 1.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "modlib/interfaces.h"
#include "modlib/records.h"

namespace {

constexpr uint16_t kSlots = 127;

void PrintField(const char* label, std::string_view text) {
  std::printf("%-16s %.*s\n", label, static_cast<int>(text.size()), text.data());
}

int Fail(IQUSBBASE* object, const char* what) {
  LastErrorInfo info;
  std::memset(&info, 0, sizeof info);
  object->GetLastErrorInfo(&info);
  std::printf("%s failed: error %u: %s\n", what, static_cast<unsigned>(info.ErrorNumber),
              info.ErrorString);
  object->ReleaseInstance();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* interfaceName = argc > 1 ? argv[1] : kR4690BootLoaderInterfaceName;
  const bool bootLoader = std::strcmp(interfaceName, kR4690BootLoaderInterfaceName) == 0;
  if (argc > 2 || (!bootLoader && std::strcmp(interfaceName, kQusbBaseInterfaceName) != 0)) {
    std::fprintf(stderr, "usage: describe-module [%s | %s]\n", kR4690BootLoaderInterfaceName,
                 kQusbBaseInterfaceName);
    return 2;
  }

  // The factory's pointer is to the interface that the name stands for.
  void* made = CreateInstance(interfaceName, 1, 0);
  if (made == nullptr) {
    std::printf("CreateInstance(\"%s\") gave no object\n", interfaceName);
    return 1;
  }
  IR4690_BOOT_LOADER* loader = bootLoader ? static_cast<IR4690_BOOT_LOADER*>(made) : nullptr;
  IQUSBBASE* object = bootLoader ? loader : static_cast<IQUSBBASE*>(made);

  uint16_t slot = 0;
  while (slot < kSlots && !object->OpenQDevice(slot)) ++slot;
  if (slot == kSlots) return Fail(object, "OpenQDevice in slots 0 to 126");
  std::printf("%-16s %u\n", "slot", static_cast<unsigned>(slot));

  char name[16] = {};
  if (!object->GetModuleName(name)) return Fail(object, "GetModuleName");
  PrintField("model name", FieldText(name));
  uint8_t speed = 0;
  if (!object->GetUsbSpeed(&speed)) return Fail(object, "GetUsbSpeed");
  PrintField("USB speed", speed == 1 ? "high speed (480 Mbit/s)" : "full speed (12 Mbit/s)");

  if (loader != nullptr) {
    ModuleDescription module;
    if (!loader->GET_MODULE_DESCRIPTION(&module)) return Fail(object, "GET_MODULE_DESCRIPTION");
    PrintField("name", FieldText(module.Name));
    PrintField("serial number", FieldText(module.SerialNumber));
    const char revision[2] = {module.Revision, '\0'};
    PrintField("revision", module.Revision != '\0' ? revision : "none");
  }

  const bool released = object->ReleaseInstance();
  return released ? 0 : 1;
}
