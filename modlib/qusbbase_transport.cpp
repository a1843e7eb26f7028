// TQUSBBASE (modlib/qusbbase.h), its driver transport: opening a slot's device, carrying one
// I/O-control request to the module's kernel driver with overlapped completion and a time-out,
// and reading the driver's device-information record. The rest of the class is in qusbbase.cpp.
#include <cstring>

#include "contract/driver_contract.h"
#include "modlib/qusbbase.h"
#include "platform/win32.h"

bool TQUSBBASE::OpenDriverDevice(uint16_t slot) {
  if (DeviceHandle != INVALID_HANDLE_VALUE) {
    // A device left open by an earlier open is dropped; its close result does not matter here.
    CloseHandle(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;
  }

  // The longest path, "\\.\QDevUsb65535", has 16 characters.
  char path[32];
  static_assert(sizeof driver_contract::kDeviceNamespacePrefix - 1 +
                    driver_contract::kLongestDeviceName <
                sizeof path);
  const driver_contract::DeviceNaming naming = DriverKind == R4690_DRIVER_QDEVUSB
                                                   ? driver_contract::DeviceNaming::kQDevUsb
                                                   : driver_contract::DeviceNaming::kQDev;
  wsprintfA(path, driver_contract::DevicePathFormat(naming), static_cast<int>(slot));
  VendorRequestCode =
      DriverKind == R4690_DRIVER_QDEVUSB ? IOCTL_USB_VENDOR_REQUEST : IOCTL_VENDOR_REQUEST;

  DeviceHandle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
  if (DeviceHandle == INVALID_HANDLE_VALUE) {
    // A module that another program holds is there all the same: the caller can say so.
    LastErrorCode = GetLastError() == ERROR_SHARING_VIOLATION ? module_error::kDeviceInUse
                                                              : module_error::kOpenDevice;
    return false;
  }
  return true;
}

bool TQUSBBASE::DriverRequest(uint32_t code, void* input, uint32_t inputSize, void* output,
                              uint32_t outputSize, uint32_t timeout) {
  if (DeviceHandle == INVALID_HANDLE_VALUE) {
    LastErrorCode = module_error::kNoDevice;
    return false;
  }

  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // Every caller stores a code of its own after a failed request, so none is stored here.
  if (overlapped.hEvent == nullptr) return false;

  DWORD returned = 0;  // not used: only the completed request's count decides
  if (!DeviceIoControl(DeviceHandle, code, input, inputSize, output, outputSize, &returned,
                       &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    CloseHandle(overlapped.hEvent);
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }

  if (WaitForSingleObject(overlapped.hEvent, timeout) == WAIT_TIMEOUT) {
    CancelIo(DeviceHandle);
    // The completion record, the event and the caller's buffers must outlive the request, so
    // wait until the driver has finished with the cancelled request before releasing them.
    DWORD ignored = 0;
    GetOverlappedResult(DeviceHandle, &overlapped, &ignored, TRUE);
    CloseHandle(overlapped.hEvent);
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }

  DWORD transferred = 0;
  if (!GetOverlappedResult(DeviceHandle, &overlapped, &transferred, TRUE) ||
      transferred != outputSize) {
    // The waiting GetOverlappedResult has seen the request complete, so nothing is left that
    // could still touch the record or the buffers.
    CancelIo(DeviceHandle);
    CloseHandle(overlapped.hEvent);
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }

  if (!CloseHandle(overlapped.hEvent)) {
    LastErrorCode = module_error::kOperationFailed;
    return false;
  }
  return true;
}

bool TQUSBBASE::GetDeviceInfo() {
  if (DeviceHandle == INVALID_HANDLE_VALUE) {
    LastErrorCode = module_error::kNoDevice;
    return false;
  }
  if (!DriverRequest(IOCTL_GET_DEVICE_INFO, nullptr, 0, DeviceInfo, sizeof DeviceInfo,
                     RequestTimeout)) {
    LastErrorCode = module_error::kDeviceInfo;
    return false;
  }
  return true;
}

bool TQUSBBASE::SendVendorRequest(uint32_t code, const driver_contract::VendorRequest& header,
                                  void* data, uint32_t dataSize) {
  uint8_t encoded[driver_contract::kVendorRequestSize];
  driver_contract::EncodeVendorRequest(header, encoded);
  return DriverRequest(code, encoded, sizeof encoded, dataSize != 0 ? data : nullptr, dataSize,
                       RequestTimeout);
}
