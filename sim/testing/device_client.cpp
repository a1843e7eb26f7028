// The test client's device I/O.
#include "sim/testing/device_client.h"

#include <algorithm>

#include "contract/driver_contract.h"
#include "sim/testing/test_helpers.h"

namespace sim_test {

ClientResult Request(const std::string& device, DWORD code, std::vector<uint8_t> input,
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

ClientResult Vendor(const std::string& device, uint16_t direction, uint16_t request, uint16_t value,
                    uint16_t index, std::vector<uint8_t> data) {
  return Request(device, IOCTL_VENDOR_REQUEST, Header(direction, request, value, index),
                 std::move(data));
}

}  // namespace sim_test
