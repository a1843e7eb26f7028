// A minimal driver client for the simulator's tests: opens a device through the platform's Win32
// subset and issues one synchronous request on it (so a request that is never answered blocks).
// Test support only (systems without Windows).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/win32.h"
#include "sim/testing/test_helpers.h"

namespace sim_test {

struct ClientResult {
  DWORD error = 0;  // GetLastError of a failed open or request, 0 on success
  DWORD transferred = 0;
  std::vector<uint8_t> data;  // the output buffer, cut to the bytes transferred
};

// One request on a device ("QDev0"), opened for it and closed after it.
inline ClientResult Request(const std::string& device, DWORD code, std::vector<uint8_t> input,
                            std::vector<uint8_t> output) {
  ClientResult result;
  const std::string path = "\\\\.\\" + device;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (handle == INVALID_HANDLE_VALUE ||
      !DeviceIoControl(handle, code, input.empty() ? nullptr : input.data(),
                       static_cast<DWORD>(input.size()), output.empty() ? nullptr : output.data(),
                       static_cast<DWORD>(output.size()), &result.transferred, nullptr)) {
    result.error = GetLastError();
  }
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  output.resize(std::min<size_t>(output.size(), result.transferred));
  result.data = output;
  return result;
}

// A vendor request on IOCTL_VENDOR_REQUEST; `data` is the output buffer.
inline ClientResult Vendor(const std::string& device, uint16_t direction, uint16_t request,
                           uint16_t value, uint16_t index, std::vector<uint8_t> data) {
  return Request(device, IOCTL_VENDOR_REQUEST, Header(direction, request, value, index),
                 std::move(data));
}

}  // namespace sim_test
