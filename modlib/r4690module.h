/* The R46-90 module interface library for programs in C, and in every language that calls C
 * (Python's ctypes, C#'s P/Invoke, LabVIEW's Call Library Function node): the module's addresses
 * and the driver kinds as named constants, the module's description records as fixed-layout
 * structs, and a plain C interface to an opened module through an opaque handle.
 *
 * The header is C89 apart from <stdint.h>'s fixed-width types, and C++ reads it too: the C++
 * interfaces (modlib/interfaces.h) include it for the records, the constants and the export
 * macro. docs/library.md is the reference of every function below.
 *
 * Every function returns R4690_OK (0) or the code of its failure, one of the library's error
 * codes (r4690_error_text gives the text). No function prints; none keeps a pointer that it is
 * given beyond its call. The functions are safe to call from several threads on different
 * handles; a handle itself is used by one thread at a time. */
#ifndef R4690MODULE_H
#define R4690MODULE_H

#include <stdint.h>

/* The shared library exports the names below and CreateInstance (R4690_MODULE_EXPORT while it is
 * built) and hides everything else; its users import them (R4690_MODULE_IMPORT, which the CMake
 * package and the pkg-config file set). The static library exports nothing. */
#if defined(R4690_MODULE_EXPORT) && defined(_WIN32)
#define R4690_MODULE_API __declspec(dllexport)
#elif defined(R4690_MODULE_EXPORT)
#define R4690_MODULE_API __attribute__((visibility("default")))
#elif defined(R4690_MODULE_IMPORT) && defined(_WIN32)
#define R4690_MODULE_API __declspec(dllimport)
#else
#define R4690_MODULE_API
#endif

/* The calling convention of every function below: the C convention (cdecl on 32-bit Windows; the
 * one convention of 64-bit Windows and of other systems). */
#if defined(_WIN32)
#define R4690_CALL __cdecl
#else
#define R4690_CALL
#endif

/* Driver kinds: which devices of the module's kernel driver an interface object opens
 * (CreateInstance's DriverKind, and the driver_kind of the r4690_open functions). */
#define R4690_DRIVER_QDEVUSB 0        /* "\\.\QDevUsbN", without the module-type check */
#define R4690_DRIVER_QDEV 1           /* "\\.\QDevN", with the module-type check: the usual kind */
#define R4690_DRIVER_QDEV_UNCHECKED 2 /* "\\.\QDevN", without the check (so is 3 to 255) */

/* Virtual slots 0 to R4690_SLOT_COUNT - 1 are where a program looks for modules. */
#define R4690_SLOT_COUNT 127

/* Module addresses: 32-bit values whose top byte selects a memory of the module. */
#define R4690_SEL_MCU_FLASH 0x83000000UL       /* MCU flash; the application starts here */
#define R4690_SEL_MODULE_TG_DATA 0x8C000000UL  /* the module's temperature-grade byte */
#define R4690_SEL_PLD_INFO 0x8F000000UL        /* PLD information text, 512 bytes */
#define R4690_SEL_BOOT_FLASH 0x90000000UL      /* PLD container in boot flash, 256 KiB */
#define R4690_SEL_MCU_FLASH_ALIAS 0x91000000UL /* MCU flash again (revision C and later) */
#define R4690_APPLICATION_ENTRY 0x83000000UL   /* RunMcuApplication: start the application */
#define R4690_BOOT_LOADER_ENTRY 0x83003C00UL   /* RunMcuApplication: back to the boot loader */
#define R4690_USER_FLASH_SIZE 512              /* bytes of the user flash area */

/* The module's description records. Text fields are 8-bit and zero-padded, and have no
 * terminating zero when the text fills the field: read them bounded by their width. */
typedef struct ModuleDescription {
  char Name[16];         /* model name */
  char SerialNumber[36]; /* serial number */
  char Revision;         /* hardware revision letter ('A', 'B', 'C', ...); 0 when none */
  uint8_t Reserved[203]; /* further module data, copied unchanged */
} ModuleDescription;     /* 256 bytes */

typedef struct FirmwareDescription {
  char McuName[25];      /* MCU type name */
  char Version[10];      /* "major.minor" */
  char Created[14];      /* build date */
  char Manufacturer[25]; /* maker's company name */
  char Author[25];       /* author's name */
  char Comments[128];    /* free text, code page 1251 in the images of this release */
} FirmwareDescription;   /* 227 bytes */

typedef struct BootLoaderDescription {
  char McuName[20];      /* MCU type name */
  char Version[10];      /* "major.minor" */
  char Created[49];      /* build date, zero-terminated within the field; later bytes as read */
} BootLoaderDescription; /* 79 bytes */

typedef struct PldInfo {
  char PldName[45];      /* PLD device name, chosen by the module's revision letter */
  char Version[10];      /* PLD version text, for example "3.0.7c" */
  char Created[14];      /* PLD build date */
  char Manufacturer[25]; /* always "Tevron Ltd." */
  char Author[25];       /* always "Dorvanov K.E." */
  char Comments[128];    /* text between the braces after "<Comments>" */
} PldInfo;               /* 247 bytes */

/* Success, and the codes that the C interface adds to the library's error codes. */
#define R4690_OK 0
#define R4690_ERROR_NONE 100           /* r4690_last_error: nothing has failed yet */
#define R4690_ERROR_NO_TEXT 199        /* r4690_error_text: no text for the code */
#define R4690_ERROR_NULL_HANDLE 2001   /* no handle was given */
#define R4690_ERROR_NULL_ARGUMENT 2002 /* a pointer argument was null, or a size 0 */
#define R4690_ERROR_NO_MEMORY 2003     /* the library ran out of memory */
#define R4690_ERROR_NOT_FOUND 2004     /* no module with that serial number */

#ifdef __cplusplus
extern "C" {
#endif

/* An opened module. */
typedef struct R4690Module R4690Module;

/* Opening: the module in one virtual slot, or the first one in slots 0 to 126 whose serial number
 * is the given text. Either puts the module's MCU in its boot loader and reads its module
 * description. *module is the new handle, or NULL on failure. */
R4690_MODULE_API int32_t R4690_CALL r4690_open_slot(uint16_t slot, uint8_t driver_kind,
                                                    R4690Module** module);
R4690_MODULE_API int32_t R4690_CALL r4690_open_serial(const char* serial, uint8_t driver_kind,
                                                      R4690Module** module, uint16_t* slot);
/* Closes the module and ends the handle, whatever the result. */
R4690_MODULE_API int32_t R4690_CALL r4690_close(R4690Module* module);

R4690_MODULE_API int32_t R4690_CALL r4690_module_description(R4690Module* module,
                                                             ModuleDescription* record);
R4690_MODULE_API int32_t R4690_CALL r4690_firmware_description(R4690Module* module,
                                                               FirmwareDescription* record);
R4690_MODULE_API int32_t R4690_CALL r4690_boot_loader_description(R4690Module* module,
                                                                  BootLoaderDescription* record);
R4690_MODULE_API int32_t R4690_CALL r4690_pld_info(R4690Module* module, PldInfo* record);

/* R4690_USER_FLASH_SIZE bytes. */
R4690_MODULE_API int32_t R4690_CALL r4690_read_user_flash(R4690Module* module, uint8_t* data);
R4690_MODULE_API int32_t R4690_CALL r4690_write_user_flash(R4690Module* module,
                                                           const uint8_t* data);

R4690_MODULE_API int32_t R4690_CALL r4690_read_memory(R4690Module* module, uint32_t address,
                                                      void* data, uint32_t size);
R4690_MODULE_API int32_t R4690_CALL r4690_write_memory(R4690Module* module, uint32_t address,
                                                       const void* data, uint32_t size);

R4690_MODULE_API int32_t R4690_CALL r4690_start_application(R4690Module* module);
R4690_MODULE_API int32_t R4690_CALL r4690_start_boot_loader(R4690Module* module);
R4690_MODULE_API int32_t R4690_CALL r4690_restart_pld(R4690Module* module);
R4690_MODULE_API int32_t R4690_CALL r4690_verify_pld(R4690Module* module);

/* The code of the handle's most recent failure (R4690_ERROR_NONE before any), and the text of a
 * code, cut to size - 1 bytes and zero-terminated. */
R4690_MODULE_API int32_t R4690_CALL r4690_last_error(const R4690Module* module);
R4690_MODULE_API int32_t R4690_CALL r4690_error_text(int32_t code, char* text, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* R4690MODULE_H */
