/* describe-module-c: the module interface library's C interface (modlib/r4690module.h) as a C
 * program uses it. Opens a module, the first one in virtual slots 0 to 126 or the one with the
 * serial number given, prints its four descriptions and the start of its user flash, then
 * provokes a failure (a read at an address that selects no memory) and prints its code and text.
 * Plain C89, built through pkg-config:
 *
 *   cc -std=c89 -pedantic main.c $(pkg-config --cflags --libs r4690module) -o describe-module-c
 *   describe-module-c [SERIAL]
 *
 * On an unexpected failure it prints the error's code and text and exits 1. */
#include <stdio.h>

#include "modlib/r4690module.h"

/* A text field's length: its bytes up to the first zero byte, bounded by its width. */
static int TextLength(const char* field, int width) {
  int n = 0;
  while (n < width && field[n] != '\0') ++n;
  return n;
}
#define TEXT(field) TextLength(field, (int)sizeof(field)), field

static void PrintError(const char* what, int32_t code) {
  char text[256];
  r4690_error_text(code, text, sizeof text);
  printf("%s failed: error %ld: %s\n", what, (long)code, text);
}

static int Fail(R4690Module* module, const char* what, int32_t code) {
  PrintError(what, code);
  r4690_close(module);
  return 1;
}

static int Describe(R4690Module* module) {
  ModuleDescription description;
  FirmwareDescription firmware;
  BootLoaderDescription bootLoader;
  PldInfo pld;
  uint8_t userFlash[R4690_USER_FLASH_SIZE];
  uint8_t word[4];
  int32_t code;
  int i;

  if ((code = r4690_module_description(module, &description)) != R4690_OK) {
    return Fail(module, "r4690_module_description", code);
  }
  printf("%-16s %.*s\n", "name", TEXT(description.Name));
  printf("%-16s %.*s\n", "serial number", TEXT(description.SerialNumber));
  if (description.Revision != '\0') {
    printf("%-16s %c\n", "revision", description.Revision);
  } else {
    printf("%-16s none\n", "revision");
  }
  if ((code = r4690_firmware_description(module, &firmware)) != R4690_OK) {
    return Fail(module, "r4690_firmware_description", code);
  }
  printf("%-16s %.*s %.*s (%.*s)\n", "firmware", TEXT(firmware.McuName), TEXT(firmware.Version),
         TEXT(firmware.Created));
  if ((code = r4690_boot_loader_description(module, &bootLoader)) != R4690_OK) {
    return Fail(module, "r4690_boot_loader_description", code);
  }
  printf("%-16s %.*s %.*s (%.*s)\n", "boot loader", TEXT(bootLoader.McuName),
         TEXT(bootLoader.Version), TEXT(bootLoader.Created));
  if ((code = r4690_pld_info(module, &pld)) != R4690_OK) {
    return Fail(module, "r4690_pld_info", code);
  }
  printf("%-16s %.*s %.*s (%.*s)\n", "PLD", TEXT(pld.PldName), TEXT(pld.Version),
         TEXT(pld.Created));
  if ((code = r4690_read_user_flash(module, userFlash)) != R4690_OK) {
    return Fail(module, "r4690_read_user_flash", code);
  }
  printf("%-16s", "user flash");
  for (i = 0; i < 8; ++i) printf(" %02x", userFlash[i]);
  printf(" ...\n");

  code = r4690_read_memory(module, 0, word, sizeof word);
  if (code == R4690_OK || r4690_last_error(module) != code) {
    return Fail(module, "r4690_read_memory at 0, expected to fail,", code);
  }
  PrintError("r4690_read_memory at 0", code);
  return 0;
}

int main(int argc, char** argv) {
  R4690Module* module = NULL;
  uint16_t slot = 0;
  int32_t code = R4690_OK;

  if (argc > 2) {
    fprintf(stderr, "usage: describe-module-c [SERIAL]\n");
    return 2;
  }
  if (argc == 2) {
    code = r4690_open_serial(argv[1], R4690_DRIVER_QDEV, &module, &slot);
    if (code != R4690_OK) return Fail(NULL, "r4690_open_serial", code);
  } else {
    for (slot = 0; slot < R4690_SLOT_COUNT; ++slot) {
      code = r4690_open_slot(slot, R4690_DRIVER_QDEV, &module);
      if (code == R4690_OK) break;
    }
    if (code != R4690_OK) return Fail(NULL, "r4690_open_slot in slots 0 to 126", code);
  }
  printf("%-16s %u\n", "slot", (unsigned)slot);
  if (Describe(module) != 0) return 1;
  code = r4690_close(module);
  if (code != R4690_OK) return Fail(NULL, "r4690_close", code);
  return 0;
}
