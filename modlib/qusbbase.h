// TQUSBBASE: the base interface object shared by the maker's USB modules. It owns the driver
// handle and the driver transport (open a slot's device, carry one I/O-control request with
// overlapped completion and a time-out, read the device-information record), identifies a
// module at open (type code, model name, USB speed) and reports the last error.
//
// The transport and the shared open routine are non-virtual operations, so derived interfaces
// reuse them; the open routine calls GetModuleName, GetUsbSpeed and CloseDevice virtually, so a
// derived interface's versions run. Nothing here throws or prints; a failing operation stores a
// code of modlib/error_codes.h in LastErrorCode and a successful one leaves it alone.
#pragma once

#include <cstdint>

#include "contract/driver_contract.h"
#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "platform/win32.h"

// Module type that OpenDeviceInSlot accepts when it is any of ModuleTypeCodes.
constexpr uint32_t ANY_MODULE_TYPE = 0xFFFE;

class TQUSBBASE : public IQUSBBASE {
 public:
  // Plain form, made for the interface name "QUSBBASE".
  explicit TQUSBBASE(HINSTANCE instanceHandle);
  // Full form, the base part of the boot-loader interface.
  TQUSBBASE(HINSTANCE instanceHandle, uint8_t driverKind, int32_t skipNameCheck);
  TQUSBBASE(const TQUSBBASE&) = delete;
  TQUSBBASE& operator=(const TQUSBBASE&) = delete;

  bool OpenQDevice(uint16_t slot) override;
  bool CloseDevice() override;
  bool ReleaseInstance() override;
  HANDLE GetDeviceHandle() override;
  bool GetModuleName(char* buffer) override;
  bool GetUsbSpeed(uint8_t* speed) override;
  bool GetLastErrorInfo(LastErrorInfo* info) override;

  // Shared open routine: the slot's device, then (DriverKind 1 only) the module type, the model
  // name and the USB speed. moduleType is a code, or ANY_MODULE_TYPE for any of ModuleTypeCodes.
  bool OpenDeviceInSlot(uint16_t slot, uint32_t moduleType);

  // Driver transport (qusbbase_transport.cpp).
  bool OpenDriverDevice(uint16_t slot);
  bool DriverRequest(uint32_t code, void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize, uint32_t timeout);
  bool GetDeviceInfo();

 protected:
  // Only ReleaseInstance ends an object's life. The destructor releases the object's memory
  // alone: ReleaseInstance has already closed the device and deleted the lock.
  virtual ~TQUSBBASE();

  // One vendor request (qusbbase_transport.cpp): the header, encoded little-endian, as the input
  // buffer and the request's data (none when dataSize is 0) as the output buffer, with
  // RequestTimeout.
  bool SendVendorRequest(uint32_t code, const driver_contract::VendorRequest& header, void* data,
                         uint32_t dataSize);

  HINSTANCE InstanceHandle;    // module whose string resources hold the error texts
  HANDLE DeviceHandle;         // open driver device, INVALID_HANDLE_VALUE when none
  uint8_t UsbSpeed;            // 0 full speed, 1 high speed, 2 not known yet
  int32_t SkipNameCheck;       // read only by the boot-loader interface's open
  uint32_t RequestTimeout;     // milliseconds, for every driver request
  CRITICAL_SECTION Lock;       // exists for the object's life; no base operation enters it
  uint16_t LastErrorCode;      // code of the most recent failure
  uint32_t VendorRequestCode;  // I/O-control code of vendor requests, set by every open
  uint8_t DeviceInfo[driver_contract::kDeviceInfoSize];  // read at open (DriverKind 1)
  uint32_t ModuleTypeCodes[8];  // accepted for ANY_MODULE_TYPE, searched in this order
  char ModuleName[16];          // model name read at open; only 7 bytes are ever written
  uint8_t DriverKind;           // 0 "QDevUsb" naming, else "QDev"; 1 checks the module type

 private:
  friend struct ModlibTestPeer;  // lets the library's tests read the state they check
};
