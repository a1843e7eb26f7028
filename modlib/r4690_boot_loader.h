// TR4690_BOOT_LOADER: the interface object that drives the MCU boot loader of an R46-90 module.
// It opens the module and puts its MCU in the boot loader, moves module memory in requests of at
// most 4096 bytes, starts the MCU application or the boot loader, reloads and verifies the PLD,
// reads the module's description records and PLD information, and reads and writes the user
// flash area.
//
// Callers hold it as IR4690_BOOT_LOADER (the first base); the second base, TQUSBBASE, supplies the
// device handle, the transport and the shared open routine. Every virtual operation of TQUSBBASE
// is overridden here, so the shared open routine's virtual calls land in this class.
#pragma once

#include <cstdint>

#include "contract/module_addresses.h"
#include "modlib/interfaces.h"
#include "modlib/qusbbase.h"
#include "modlib/records.h"
#include "platform/win32.h"

// Module type codes that the boot-loader interface opens, tried in this order.
constexpr uint32_t kR4690ModuleTypeCode = 32;
constexpr uint32_t kR4690AltModuleTypeCode = 39;

class TR4690_BOOT_LOADER : public IR4690_BOOT_LOADER, public TQUSBBASE {
 public:
  TR4690_BOOT_LOADER(HINSTANCE instanceHandle, uint8_t driverKind, int32_t skipNameCheck);

  bool OpenQDevice(uint16_t slot) override;
  bool CloseDevice() override;
  bool ReleaseInstance() override;
  HANDLE GetDeviceHandle() override;
  bool GetModuleName(char* buffer) override;
  bool GetUsbSpeed(uint8_t* speed) override;
  bool GetLastErrorInfo(LastErrorInfo* info) override;

  bool GetArray(uint32_t address, void* buffer, uint32_t size) override;
  bool PutArray(uint32_t address, const void* buffer, uint32_t size) override;
  bool RunMcuApplication(uint32_t address, BOOL flag) override;
  bool StartReloadPld() override;
  bool VerifyPld() override;
  bool GET_MODULE_DESCRIPTION(ModuleDescription* record) override;
  bool GET_FIRMWARE_DESCRIPTION(FirmwareDescription* record) override;
  bool GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* record) override;
  bool GET_PLD_INFO(PldInfo* record) override;
  bool ENABLE_USER_FLASH_WRITE(BOOL enable) override;
  bool READ_USER_FLASH(uint8_t* buffer) override;
  bool WRITE_USER_FLASH(const uint8_t* buffer) override;

 protected:
  ~TR4690_BOOT_LOADER() override;

 private:
  friend struct ModlibTestPeer;  // lets the library's tests read the state they check

  // Moves size bytes in requests of at most 4096 bytes, each under the lock and refused while the
  // MCU application runs. direction/requestCode pick a read or a write.
  bool TransferArray(uint16_t direction, uint16_t requestCode, uint32_t address, void* buffer,
                     uint32_t size);
  // The checks that the description reads and GET_PLD_INFO share; false with 1001 stored.
  bool RecordReadAllowed(const void* record);
  // Reads size bytes into cache from the first address, or from the second when that fails
  // (0 for none); false with 1501 stored when no read succeeds.
  bool ReadRecord(void* cache, uint32_t size, uint32_t first, uint32_t second);
  // One description read: the shared checks, ReadRecord into the cache, then the cache copied
  // into the caller's record.
  bool ReadDescription(void* record, void* cache, uint32_t size, uint32_t first, uint32_t second);
  // A request without data sent with IOCTL_VENDOR_REQUEST, whatever the device naming.
  bool SendPldRequest(uint16_t requestCode);

  CRITICAL_SECTION BootLoaderLock;                   // re-entrant; guards block transfers
  ModuleDescription ModuleDescriptionCache;          // last one read; its Revision drives behaviour
  FirmwareDescription FirmwareDescriptionCache;      // last one read
  BootLoaderDescription BootLoaderDescriptionCache;  // last one read
  bool McuApplicationRunning;  // the module was last told to run its application
  bool UserFlashWriteEnabled;  // set only by ENABLE_USER_FLASH_WRITE
  char PldInfoText[module_addresses::kPldInfoTextSize];  // the module's PLD information text, as
                                                         // last read
};
