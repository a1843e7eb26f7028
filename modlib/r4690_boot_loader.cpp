// TR4690_BOOT_LOADER's operations: opening an R46-90, block transfers, running the MCU
// application or the boot loader, the PLD requests, the description reads and the user flash.
#include "modlib/r4690_boot_loader.h"

#include <algorithm>
#include <cstring>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "modlib/critical_section_lock.h"
#include "modlib/pld_info_text.h"

namespace {

using driver_contract::VendorRequest;
namespace addr = module_addresses;

uint16_t LowWord(uint32_t address) {
  return static_cast<uint16_t>(address);
}
uint16_t HighWord(uint32_t address) {
  return static_cast<uint16_t>(address >> 16);
}

// The model name as the module sends it: six characters and a zero byte.
constexpr char kR4690ModelName[driver_contract::kModuleNameLength] = {'R', '4', '6', '-',
                                                                      '9', '0', '\0'};

}  // namespace

TR4690_BOOT_LOADER::TR4690_BOOT_LOADER(HINSTANCE instanceHandle, uint8_t driverKind,
                                       int32_t skipNameCheck)
    : TQUSBBASE(instanceHandle, driverKind, skipNameCheck),
      BootLoaderLock(),
      ModuleDescriptionCache(),
      FirmwareDescriptionCache(),
      BootLoaderDescriptionCache(),
      McuApplicationRunning(false),
      UserFlashWriteEnabled(false),
      PldInfoText() {
  InitializeCriticalSection(&BootLoaderLock);
}

TR4690_BOOT_LOADER::~TR4690_BOOT_LOADER() = default;

bool TR4690_BOOT_LOADER::OpenQDevice(uint16_t slot) {
  // With DriverKind 1 the type code decides between the two attempts; otherwise the first one
  // already ignores it.
  if (!OpenDeviceInSlot(slot, kR4690ModuleTypeCode) &&
      !OpenDeviceInSlot(slot, kR4690AltModuleTypeCode)) {
    return false;
  }

  if (SkipNameCheck == 0) {
    char name[driver_contract::kModuleNameLength];
    if (!TQUSBBASE::GetModuleName(name) ||
        std::memcmp(name, kR4690ModelName, sizeof kR4690ModelName) != 0) {
      LastErrorCode = module_error::kOperationFailed;
      TQUSBBASE::CloseDevice();
      return false;
    }
  }

  if (!RunMcuApplication(addr::kBootLoaderEntry, FALSE)) {
    LastErrorCode = module_error::kOperationFailed;
    TQUSBBASE::CloseDevice();
    return false;
  }
  return true;
}

bool TR4690_BOOT_LOADER::CloseDevice() {
  if (TQUSBBASE::CloseDevice()) return true;
  LastErrorCode = module_error::kOperationFailed;
  return false;
}

bool TR4690_BOOT_LOADER::ReleaseInstance() {
  DeleteCriticalSection(&BootLoaderLock);
  // Deletes the base's lock, closes the device through CloseDevice above and destroys the whole
  // object through the virtual destructor.
  return TQUSBBASE::ReleaseInstance();
}

HANDLE TR4690_BOOT_LOADER::GetDeviceHandle() {
  return TQUSBBASE::GetDeviceHandle();
}

bool TR4690_BOOT_LOADER::GetModuleName(char* buffer) {
  if (TQUSBBASE::GetModuleName(buffer)) return true;
  LastErrorCode = module_error::kOperationFailed;
  return false;
}

bool TR4690_BOOT_LOADER::GetUsbSpeed(uint8_t* speed) {
  if (TQUSBBASE::GetUsbSpeed(speed)) return true;
  LastErrorCode = module_error::kOperationFailed;
  return false;
}

bool TR4690_BOOT_LOADER::GetLastErrorInfo(LastErrorInfo* info) {
  return TQUSBBASE::GetLastErrorInfo(info);
}

bool TR4690_BOOT_LOADER::TransferArray(uint16_t direction, uint16_t requestCode, uint32_t address,
                                       void* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  for (uint32_t offset = 0; offset < size;) {
    const uint32_t chunk = std::min(size - offset, driver_contract::kMaxTransferSize);
    const VendorRequest header{direction, requestCode, LowWord(address), HighWord(address)};
    {
      // Per chunk, so that another thread's transfer can interleave between chunks but never
      // while the application-running test and its request are under way.
      CriticalSectionLock lock(&BootLoaderLock);
      if (McuApplicationRunning ||
          !SendVendorRequest(VendorRequestCode, header, bytes + offset, chunk)) {
        LastErrorCode = module_error::kOperationFailed;
        return false;
      }
    }
    address += chunk;
    offset += chunk;
  }
  return true;
}

bool TR4690_BOOT_LOADER::GetArray(uint32_t address, void* buffer, uint32_t size) {
  return TransferArray(driver_contract::kDirectionToHost, driver_contract::kRequestRead, address,
                       buffer, size);
}

bool TR4690_BOOT_LOADER::PutArray(uint32_t address, const void* buffer, uint32_t size) {
  // The driver takes a write's data from the output buffer and only reads it.
  return TransferArray(driver_contract::kDirectionToModule, driver_contract::kRequestWrite, address,
                       const_cast<void*>(buffer), size);
}

bool TR4690_BOOT_LOADER::RunMcuApplication(uint32_t address, BOOL flag) {
  uint16_t index = 0;
  if (address == addr::kApplicationEntry) {
    index = flag ? 1 : 0;
  } else if (address != addr::kBootLoaderEntry) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }

  // Until the module has answered, neither program is known to run; a failed request leaves the
  // boot-loader services open rather than refusing them.
  McuApplicationRunning = false;
  const VendorRequest header{driver_contract::kDirectionToModule, driver_contract::kRequestRun,
                             LowWord(address), index};
  if (!SendVendorRequest(VendorRequestCode, header, nullptr, 0)) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }
  McuApplicationRunning = address < addr::kBootLoaderEntry;
  return true;
}

bool TR4690_BOOT_LOADER::SendPldRequest(uint16_t requestCode) {
  const VendorRequest header{driver_contract::kDirectionToModule, requestCode, 0, 0};
  if (!SendVendorRequest(IOCTL_VENDOR_REQUEST, header, nullptr, 0)) {
    LastErrorCode = module_error::kPldOrUserFlashRequest;
    return false;
  }
  return true;
}

bool TR4690_BOOT_LOADER::StartReloadPld() {
  if (McuApplicationRunning) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }
  return SendPldRequest(driver_contract::kRequestReloadPld);
}

bool TR4690_BOOT_LOADER::VerifyPld() {
  if (McuApplicationRunning) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }
  // Revision 'A' has no verification, and neither does a module whose description is unread.
  const auto revision = static_cast<unsigned char>(ModuleDescriptionCache.Revision);
  if (revision < 'B' || revision > 'Z') return true;
  return SendPldRequest(driver_contract::kRequestVerifyPld);
}

bool TR4690_BOOT_LOADER::RecordReadAllowed(const void* record) {
  if (DeviceHandle == INVALID_HANDLE_VALUE || McuApplicationRunning || record == nullptr) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }
  return true;
}

bool TR4690_BOOT_LOADER::ReadRecord(void* cache, uint32_t size, uint32_t first, uint32_t second) {
  // A failed first read leaves its 1001 in LastErrorCode even when the second one succeeds.
  if (GetArray(first, cache, size)) return true;
  if (second != 0 && GetArray(second, cache, size)) return true;
  LastErrorCode = module_error::kRecordUnreadable;
  return false;
}

bool TR4690_BOOT_LOADER::ReadDescription(void* record, void* cache, uint32_t size, uint32_t first,
                                         uint32_t second) {
  if (!RecordReadAllowed(record) || !ReadRecord(cache, size, first, second)) return false;
  std::memcpy(record, cache, size);
  return true;
}

bool TR4690_BOOT_LOADER::GET_MODULE_DESCRIPTION(ModuleDescription* record) {
  return ReadDescription(record, &ModuleDescriptionCache, sizeof ModuleDescriptionCache,
                         addr::kModuleDescription, addr::kModuleDescriptionMcu);
}

bool TR4690_BOOT_LOADER::GET_FIRMWARE_DESCRIPTION(FirmwareDescription* record) {
  return ReadDescription(record, &FirmwareDescriptionCache, sizeof FirmwareDescriptionCache,
                         addr::kFirmwareDescription, addr::kFirmwareDescriptionMcu);
}

bool TR4690_BOOT_LOADER::GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* record) {
  return ReadDescription(record, &BootLoaderDescriptionCache, sizeof BootLoaderDescriptionCache,
                         addr::kBootLoaderDescription, 0);
}

bool TR4690_BOOT_LOADER::GET_PLD_INFO(PldInfo* record) {
  if (!RecordReadAllowed(record)) return false;
  std::memset(record, 0, sizeof *record);
  std::memset(PldInfoText, 0, sizeof PldInfoText);
  if (!GetArray(SEL_PLD_INFO, PldInfoText, sizeof PldInfoText)) {
    LastErrorCode = module_error::kRecordUnreadable;
    return false;
  }
  pld_info_text::ParsePldInfoText(PldInfoText, sizeof PldInfoText, ModuleDescriptionCache.Revision,
                                  record);
  return true;
}

bool TR4690_BOOT_LOADER::ENABLE_USER_FLASH_WRITE(BOOL enable) {
  UserFlashWriteEnabled = enable != 0;
  return true;
}

bool TR4690_BOOT_LOADER::READ_USER_FLASH(uint8_t* buffer) {
  if (buffer == nullptr) {
    LastErrorCode = module_error::kNoUserFlashBuffer;
    return false;
  }
  if (!GetArray(addr::kUserFlashAlias, buffer, addr::kUserFlashSize) &&
      !GetArray(addr::kUserFlashAB, buffer, addr::kUserFlashSize)) {
    LastErrorCode = module_error::kUserFlashUnreadable;
    return false;
  }
  return true;
}

bool TR4690_BOOT_LOADER::WRITE_USER_FLASH(const uint8_t* buffer) {
  if (!UserFlashWriteEnabled) {
    LastErrorCode = module_error::kUserFlashWriteDisabled;
    return false;
  }
  if (buffer == nullptr) {
    LastErrorCode = module_error::kNoUserFlashBuffer;
    return false;
  }

  CriticalSectionLock lock(&BootLoaderLock);
  if (McuApplicationRunning && !RunMcuApplication(addr::kBootLoaderEntry, FALSE)) {
    LastErrorCode = module_error::kNoBootLoader;
    return false;
  }

  const char revision = ModuleDescriptionCache.Revision;
  uint32_t target = revision == 'A' || revision == 'B' ? addr::kUserFlashAB : addr::kUserFlashAlias;
  // The driver takes a write's data from the output buffer and only reads it.
  uint8_t* bytes = const_cast<uint8_t*>(buffer);
  for (uint32_t offset = 0; offset < addr::kUserFlashSize;) {
    const uint32_t chunk =
        std::min(addr::kUserFlashSize - offset, driver_contract::kMaxTransferSize);
    const VendorRequest header{driver_contract::kDirectionToModule, driver_contract::kRequestWrite,
                               LowWord(target), HighWord(target)};
    if (!SendVendorRequest(IOCTL_VENDOR_REQUEST, header, bytes + offset, chunk)) {
      LastErrorCode = module_error::kPldOrUserFlashRequest;
      return false;
    }
    target += chunk;
    offset += chunk;
  }
  return true;
}
