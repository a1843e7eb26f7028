// A minimal driver client for the simulator's tests: opens a device through the platform's
// Win32 subset and issues one overlapped request at a time, as the module library does.
// Test support only (systems without Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim_test {

struct ClientResult {
  bool completed = false;  // false: still pending at the time-out, then cancelled
  DWORD error = 0;         // GetLastError of a failed request, 0 on success
  DWORD transferred = 0;
  std::vector<uint8_t> data;  // the output buffer, cut to the bytes transferred
};

class TestClient {
 public:
  explicit TestClient(const std::string& device);  // "QDev0"
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  ClientResult Request(DWORD code, std::vector<uint8_t> input, std::vector<uint8_t> output,
                       DWORD timeoutMs = 5000);
  ClientResult Vendor(uint16_t direction, uint16_t request, uint16_t value, uint16_t index,
                      std::vector<uint8_t> data, DWORD timeoutMs = 5000);
  ClientResult Read(uint32_t address, uint32_t size);
  ClientResult Write(uint32_t address, std::vector<uint8_t> data);
  ClientResult Run(uint16_t value);

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The text of a zero-padded field.
std::string FieldText(const std::vector<uint8_t>& bytes, size_t at, size_t width);

}  // namespace sim_test
