// A minimal driver client for the simulator's tests: opens a device through the platform's Win32
// subset and issues one synchronous request on it (so a request that is never answered blocks).
// Test support only (systems without Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim_test {

struct ClientResult {
  DWORD error = 0;  // GetLastError of a failed open or request, 0 on success
  DWORD transferred = 0;
  std::vector<uint8_t> data;  // the output buffer, cut to the bytes transferred
};

// One request on a device ("QDev0"), opened for it and closed after it.
ClientResult Request(const std::string& device, DWORD code, std::vector<uint8_t> input,
                     std::vector<uint8_t> output);
// A vendor request on IOCTL_VENDOR_REQUEST; `data` is the output buffer.
ClientResult Vendor(const std::string& device, uint16_t direction, uint16_t request, uint16_t value,
                    uint16_t index, std::vector<uint8_t> data);

}  // namespace sim_test
