// The test client's device I/O.
#include "sim/sim_test_client.h"

#include "sim/sim_test_images.h"

namespace sim_test {

TestClient::TestClient(const std::string& device) {
  const std::string path = "\\\\.\\" + device;
  handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
}

TestClient::~TestClient() {
  if (IsOpen()) CloseHandle(handle_);
}

ClientResult TestClient::Request(DWORD code, std::vector<uint8_t> input,
                                 std::vector<uint8_t> output, DWORD timeoutMs) {
  ClientResult result;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD returned = 0;
  const BOOL started =
      DeviceIoControl(handle_, code, input.empty() ? nullptr : input.data(),
                      static_cast<DWORD>(input.size()), output.empty() ? nullptr : output.data(),
                      static_cast<DWORD>(output.size()), &returned, &overlapped);
  if (!started && GetLastError() != ERROR_IO_PENDING) {
    result.completed = true;
    result.error = GetLastError();
  } else if (WaitForSingleObject(event, timeoutMs) == WAIT_TIMEOUT) {
    CancelIo(handle_);
    GetOverlappedResult(handle_, &overlapped, &returned, TRUE);  // let the cancel finish
  } else {
    result.completed = true;
    if (!GetOverlappedResult(handle_, &overlapped, &result.transferred, TRUE)) {
      result.error = GetLastError();
    }
    output.resize(std::min<size_t>(output.size(), result.transferred));
    result.data = output;
  }
  CloseHandle(event);
  return result;
}

ClientResult TestClient::Vendor(uint16_t direction, uint16_t request, uint16_t value,
                                uint16_t index, std::vector<uint8_t> data, DWORD timeoutMs) {
  return Request(0x22003E, Header(direction, request, value, index), std::move(data), timeoutMs);
}

ClientResult TestClient::Read(uint32_t address, uint32_t size) {
  return Vendor(1, 0x0E, address & 0xFFFF, address >> 16, std::vector<uint8_t>(size));
}

ClientResult TestClient::Write(uint32_t address, std::vector<uint8_t> data) {
  return Vendor(0, 0x0D, address & 0xFFFF, address >> 16, std::move(data));
}

ClientResult TestClient::Run(uint16_t value) {
  return Vendor(0, 0x0F, value, 0, {});
}

std::string FieldText(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  std::string s;
  for (size_t i = at; i < at + width && i < bytes.size() && bytes[i] != 0; ++i) {
    s += static_cast<char>(bytes[i]);
  }
  return s;
}

}  // namespace sim_test
