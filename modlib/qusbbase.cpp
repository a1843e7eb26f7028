// TQUSBBASE's constructions, its shared open routine and its seven interface operations. Its
// driver transport (OpenDriverDevice, DriverRequest, GetDeviceInfo, SendVendorRequest) is in
// qusbbase_transport.cpp.
#include "modlib/qusbbase.h"

#include <cstring>
#include <string_view>

#include "contract/driver_contract.h"
#include "modlib/records.h"

namespace {

// The text GetLastErrorInfo reports when no string resource holds one for the code, in code page
// 1251. It reads: "Error in TQUSBBASE::GetLastErrorInfo(). The text of the last error cannot be
// obtained because the WinAPI function LoadString() failed."
constexpr char kNoErrorText[] =
    "\xCE\xF8\xE8\xE1\xEA\xE0 TQUSBBASE::GetLastErrorInfo(). \xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6"
    "\xED\xEE \xEF\xEE\xEB\xF3\xF7\xE8\xF2\xFC \xF1\xF2\xF0\xEE\xEA\xF3 \xF1 \xEF\xEE\xF1\xEB"
    "\xE5\xE4\xED\xE5\xE9 \xEE\xF8\xE8\xE1\xEA\xEE\xE9 \xEF\xEE\xF1\xEA\xEE\xEB\xFC\xEA\xF3 "
    "\xED\xE5 \xE2\xFB\xEF\xEE\xEB\xED\xE8\xEB\xE0\xF1\xFC WinAPI \xF4\xF3\xED\xEA\xF6\xE8\xFF "
    "LoadString().";
static_assert(sizeof kNoErrorText - 1 == 138);
static_assert(sizeof kNoErrorText <= sizeof LastErrorInfo::ErrorString);

constexpr uint32_t kDefaultModuleTypeCodes[8] = {38, 31, 30, 32, 39, 33, 36, 37};
constexpr uint32_t kDefaultRequestTimeout = 5000;  // milliseconds
constexpr uint8_t kSpeedNotKnown = 2;

// The plain construction has no DriverKind of its own. It takes 1, the value the utility
// passes to the boot-loader interface: the "QDev" naming that the maker's drivers of this module
// family publish, and the module-type check at open, which is what the base OpenQDevice's list
// of accepted type codes exists for; a base object should identify any of the maker's modules
// and refuse a foreign device.
constexpr uint8_t kPlainDriverKind = R4690_DRIVER_QDEV;

}  // namespace

TQUSBBASE::TQUSBBASE(HINSTANCE instanceHandle) : TQUSBBASE(instanceHandle, kPlainDriverKind, 0) {}

TQUSBBASE::TQUSBBASE(HINSTANCE instanceHandle, uint8_t driverKind, int32_t skipNameCheck)
    : InstanceHandle(instanceHandle),
      DeviceHandle(INVALID_HANDLE_VALUE),
      UsbSpeed(kSpeedNotKnown),
      SkipNameCheck(skipNameCheck),
      RequestTimeout(kDefaultRequestTimeout),
      Lock(),
      LastErrorCode(module_error::kNone),
      VendorRequestCode(0),
      DeviceInfo(),
      ModuleTypeCodes(),
      ModuleName(),
      DriverKind(driverKind) {
  std::memcpy(ModuleTypeCodes, kDefaultModuleTypeCodes, sizeof ModuleTypeCodes);
  InitializeCriticalSection(&Lock);
}

TQUSBBASE::~TQUSBBASE() = default;

bool TQUSBBASE::OpenDeviceInSlot(uint16_t slot, uint32_t moduleType) {
  if (!OpenDriverDevice(slot)) return false;

  if (DriverKind == R4690_DRIVER_QDEV) {
    if (!GetDeviceInfo()) {
      LastErrorCode = module_error::kDeviceInfo;
      CloseDevice();
      return false;
    }
    const uint32_t typeCode = driver_contract::ModuleTypeCodeOf(DeviceInfo);
    bool accepted = false;
    if (moduleType == ANY_MODULE_TYPE) {
      for (uint32_t code : ModuleTypeCodes) {
        if (code == typeCode) {
          accepted = true;
          break;
        }
      }
    } else {
      accepted = typeCode == moduleType;
    }
    // A refused type leaves the device open; the next open or close drops it.
    if (!accepted) {
      LastErrorCode = module_error::kDeviceInfo;
      return false;
    }
  }

  if (!GetModuleName(ModuleName)) {
    LastErrorCode = module_error::kOpenModuleName;
    CloseDevice();
    return false;
  }
  if (!GetUsbSpeed(&UsbSpeed)) {
    LastErrorCode = module_error::kOpenUsbSpeed;
    CloseDevice();
    return false;
  }
  if (UsbSpeed >= kSpeedNotKnown) {
    LastErrorCode = module_error::kOpenBadSpeed;
    CloseDevice();
    return false;
  }
  return true;
}

bool TQUSBBASE::OpenQDevice(uint16_t slot) {
  return OpenDeviceInSlot(slot, ANY_MODULE_TYPE);
}

bool TQUSBBASE::CloseDevice() {
  if (DeviceHandle == INVALID_HANDLE_VALUE) return true;
  const BOOL closed = CloseHandle(DeviceHandle);
  DeviceHandle = INVALID_HANDLE_VALUE;
  if (!closed) {
    LastErrorCode = module_error::kCloseHandle;
    return false;
  }
  return true;
}

bool TQUSBBASE::ReleaseInstance() {
  DeleteCriticalSection(&Lock);
  const bool closed = CloseDevice();
  delete this;
  return closed;
}

HANDLE TQUSBBASE::GetDeviceHandle() {
  return DeviceHandle;
}

bool TQUSBBASE::GetModuleName(char* buffer) {
  if (DeviceHandle == INVALID_HANDLE_VALUE) {
    LastErrorCode = module_error::kNoDevice;
    return false;
  }
  if (buffer == nullptr) {
    LastErrorCode = module_error::kNullBuffer;
    return false;
  }
  std::memset(buffer, 0, driver_contract::kModuleNameLength);
  const driver_contract::VendorRequest header{driver_contract::kDirectionToHost,
                                              driver_contract::kRequestModuleName, 0, 0};
  if (!SendVendorRequest(VendorRequestCode, header, buffer, driver_contract::kModuleNameLength)) {
    LastErrorCode = module_error::kRequestFailed;
    return false;
  }
  return true;
}

bool TQUSBBASE::GetUsbSpeed(uint8_t* speed) {
  if (DeviceHandle == INVALID_HANDLE_VALUE) {
    LastErrorCode = module_error::kNoDevice;
    return false;
  }
  // The name read by the last open decides; full-speed-only models are not asked.
  const std::string_view name = FieldText(ModuleName);
  if (name == "P310" || name == "P620") {
    *speed = 0;
    return true;
  }
  if (name != "R46-90") {
    LastErrorCode = module_error::kUnknownModel;
    return false;
  }
  const driver_contract::VendorRequest header{driver_contract::kDirectionToHost,
                                              driver_contract::kRequestUsbSpeed, 0, 0};
  if (!SendVendorRequest(VendorRequestCode, header, speed, driver_contract::kUsbSpeedLength)) {
    LastErrorCode = module_error::kRequestFailed;
    return false;
  }
  return true;
}

bool TQUSBBASE::GetLastErrorInfo(LastErrorInfo* info) {
  if (info == nullptr) return false;
  info->ErrorNumber = LastErrorCode;
  if (LoadStringA(InstanceHandle, LastErrorCode, info->ErrorString,
                  static_cast<int>(sizeof info->ErrorString)) != 0) {
    return true;
  }
  info->ErrorNumber = module_error::kNoErrorText;
  std::memset(info->ErrorString, 0, sizeof info->ErrorString);
  std::memcpy(info->ErrorString, kNoErrorText, sizeof kNoErrorText);
  return false;
}
