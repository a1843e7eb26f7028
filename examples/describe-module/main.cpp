// describe-module: opens the first R46-90 module it finds, as the update utility does (virtual
// slots 0 to 126 through the factory's interface), and prints what the module says about itself.
//
//   describe-module [R4690_BOOT_LOADER | QUSBBASE]
//
// With the boot-loader interface (the default) it prints the model name, the USB speed, the
// module's four descriptions and the start of its user flash, then provokes a failure (a read at
// an address that selects no memory) and prints its code and text; opening puts the module's MCU
// in its boot loader, as the utility's open does. With the base interface it prints the model
// name and the USB speed of any of the maker's modules. On a failure it prints the interface's
// last error with its text and exits 1.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "modlib/interfaces.h"
#include "modlib/r4690module.h"
#include "modlib/records.h"

namespace {

void PrintField(const char* label, std::string_view text) {
  std::printf("%-16s %.*s\n", label, static_cast<int>(text.size()), text.data());
}

// A name, a version and a date, in one line.
template <typename Record>
void PrintVersion(const char* label, std::string_view name, const Record& record) {
  const std::string_view version = FieldText(record.Version), created = FieldText(record.Created);
  std::printf("%-16s %.*s %.*s (%.*s)\n", label, static_cast<int>(name.size()), name.data(),
              static_cast<int>(version.size()), version.data(), static_cast<int>(created.size()),
              created.data());
}

void PrintError(IQUSBBASE* object, const char* what) {
  LastErrorInfo info;
  std::memset(&info, 0, sizeof info);
  object->GetLastErrorInfo(&info);
  std::printf("%s failed: error %u: %s\n", what, static_cast<unsigned>(info.ErrorNumber),
              info.ErrorString);
}

int Fail(IQUSBBASE* object, const char* what) {
  PrintError(object, what);
  object->ReleaseInstance();
  return 1;
}

// The module's descriptions and the first bytes of its user flash, then a read that must fail.
int Describe(IR4690_BOOT_LOADER* loader) {
  ModuleDescription module;
  if (!loader->GET_MODULE_DESCRIPTION(&module)) return Fail(loader, "GET_MODULE_DESCRIPTION");
  PrintField("name", FieldText(module.Name));
  PrintField("serial number", FieldText(module.SerialNumber));
  const char revision[2] = {module.Revision, '\0'};
  PrintField("revision", module.Revision != '\0' ? revision : "none");

  FirmwareDescription firmware;
  BootLoaderDescription bootLoader;
  PldInfo pld;
  if (!loader->GET_FIRMWARE_DESCRIPTION(&firmware)) return Fail(loader, "GET_FIRMWARE_DESCRIPTION");
  PrintVersion("firmware", FieldText(firmware.McuName), firmware);
  if (!loader->GET_BOOT_LOADER_DESCRIPTION(&bootLoader)) {
    return Fail(loader, "GET_BOOT_LOADER_DESCRIPTION");
  }
  PrintVersion("boot loader", FieldText(bootLoader.McuName), bootLoader);
  if (!loader->GET_PLD_INFO(&pld)) return Fail(loader, "GET_PLD_INFO");
  PrintVersion("PLD", FieldText(pld.PldName), pld);

  uint8_t userFlash[R4690_USER_FLASH_SIZE];
  if (!loader->READ_USER_FLASH(userFlash)) return Fail(loader, "READ_USER_FLASH");
  std::printf("%-16s", "user flash");
  for (int i = 0; i < 8; ++i) std::printf(" %02x", userFlash[i]);
  std::printf(" ...\n");

  uint8_t word[4];
  if (loader->GetArray(0, word, sizeof word)) return Fail(loader, "GetArray at 0 succeeding");
  PrintError(loader, "GetArray at 0");
  return 0;
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
  void* made = CreateInstance(interfaceName, R4690_DRIVER_QDEV, 0);
  if (made == nullptr) {
    std::printf("CreateInstance(\"%s\") gave no object\n", interfaceName);
    return 1;
  }
  IR4690_BOOT_LOADER* loader = bootLoader ? static_cast<IR4690_BOOT_LOADER*>(made) : nullptr;
  IQUSBBASE* object = bootLoader ? loader : static_cast<IQUSBBASE*>(made);

  uint16_t slot = 0;
  while (slot < R4690_SLOT_COUNT && !object->OpenQDevice(slot)) ++slot;
  if (slot == R4690_SLOT_COUNT) return Fail(object, "OpenQDevice in slots 0 to 126");
  std::printf("%-16s %u\n", "slot", static_cast<unsigned>(slot));

  char name[16] = {};
  if (!object->GetModuleName(name)) return Fail(object, "GetModuleName");
  PrintField("model name", FieldText(name));
  uint8_t speed = 0;
  if (!object->GetUsbSpeed(&speed)) return Fail(object, "GetUsbSpeed");
  PrintField("USB speed", speed == 1 ? "high speed (480 Mbit/s)" : "full speed (12 Mbit/s)");

  if (loader != nullptr && Describe(loader) != 0) return 1;

  const bool released = object->ReleaseInstance();
  return released ? 0 : 1;
}
