// The module interface contract: the two abstract interfaces through which a program uses an
// interface object, in their fixed slot order, the last-error record and the factory. Objects
// are made only by CreateInstance and ended only by their own ReleaseInstance; neither
// interface declares a destructor, so nobody deletes an object through one.
//
// Every operation but GetDeviceHandle returns a success flag. A failing operation stores a code
// of modlib/error_codes.h in the object's last-error code; a successful one leaves that code
// alone. No operation throws and the library prints nothing.
//
// This header, records.h, error_codes.h, r4690module.h (the records, the constants, the export
// macro and the C interface) and platform/win32_types.h (the Win32 types; on Windows simply
// <windows.h>) are the library's public headers: programs that use the shared library see nothing
// else. docs/library.md is the reference of every operation.
#pragma once

#include <cstdint>

#include "modlib/r4690module.h"
#include "modlib/records.h"
#include "platform/win32_types.h"

struct LastErrorInfo {
  char ErrorString[256];  // zero-terminated text for the code
  uint32_t ErrorNumber;   // the code
};
static_assert(sizeof(LastErrorInfo) == 260);

// The base interface that every USB module interface of the library shares.
class IQUSBBASE {
 public:
  virtual bool OpenQDevice(uint16_t slot) = 0;
  virtual bool CloseDevice() = 0;
  virtual bool ReleaseInstance() = 0;  // the result of closing the device; the object is gone
  virtual HANDLE GetDeviceHandle() = 0;
  virtual bool GetModuleName(char* buffer) = 0;  // fills 7 bytes, adds no terminator
  virtual bool GetUsbSpeed(uint8_t* speed) = 0;  // 0 full speed, 1 high speed
  virtual bool GetLastErrorInfo(LastErrorInfo* info) = 0;
};

// The boot-loader interface of the R46-90.
class IR4690_BOOT_LOADER : public IQUSBBASE {
 public:
  virtual bool GetArray(uint32_t address, void* buffer, uint32_t size) = 0;
  virtual bool PutArray(uint32_t address, const void* buffer, uint32_t size) = 0;
  virtual bool RunMcuApplication(uint32_t address, BOOL flag) = 0;
  virtual bool StartReloadPld() = 0;
  virtual bool VerifyPld() = 0;
  virtual bool GET_MODULE_DESCRIPTION(ModuleDescription* record) = 0;
  virtual bool GET_FIRMWARE_DESCRIPTION(FirmwareDescription* record) = 0;
  virtual bool GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* record) = 0;
  virtual bool GET_PLD_INFO(PldInfo* record) = 0;
  virtual bool ENABLE_USER_FLASH_WRITE(BOOL enable) = 0;     // always true
  virtual bool READ_USER_FLASH(uint8_t* buffer) = 0;         // 512 bytes
  virtual bool WRITE_USER_FLASH(const uint8_t* buffer) = 0;  // 512 bytes
};

// Interface names known to the factory, compared without regard to letter case.
constexpr char kQusbBaseInterfaceName[] = "QUSBBASE";                  // gives IQUSBBASE*
constexpr char kR4690BootLoaderInterfaceName[] = "R4690_BOOT_LOADER";  // gives IR4690_BOOT_LOADER*

// Makes an interface object by name, or gives null for a null or unknown name or when memory
// runs out. DriverKind is one of the driver kinds of r4690module.h: R4690_DRIVER_QDEVUSB (0)
// selects the "QDevUsb" device naming, any other value "QDev"; exactly R4690_DRIVER_QDEV (1) also
// checks the module type at open. A non-zero SkipNameCheck makes the boot-loader interface's
// OpenQDevice accept any model name. C linkage: the name is found as it is written, whatever
// compiled the caller. The shared library exports it beside the C interface of r4690module.h.
extern "C" R4690_MODULE_API void* CreateInstance(const char* InterfaceName, uint8_t DriverKind,
                                                 int32_t SkipNameCheck);
