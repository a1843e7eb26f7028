// The device calls of the platform layer, answered by an installed driver in-process
// (scripted_device.h). The library opens its devices for overlapped I/O and waits on each
// request's event; a request made otherwise is a finding.
#include "tests/fuzz/scripted_device.h"

#include <atomic>
#include <mutex>

#include "platform/posix/event.h"
#include "platform/posix/handles.h"
#include "platform/posix/ntstatus.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_check.h"

namespace scripted_device {
namespace {

using qdev_posix::Event;

std::atomic<Driver*> gDriver{nullptr};
std::atomic<int> gOpenDevices{0};

void Complete(OVERLAPPED* record, Event& event, qdev_posix::NtStatus status, DWORD information) {
  record->InternalHigh = information;
  record->Internal = status;
  event.Set();
}

class Device : public qdev_posix::Object {
 public:
  explicit Device(std::string name) : name_(std::move(name)) { ++gOpenDevices; }

  void Close() override {
    CancelAll();
    --gOpenDevices;
  }

  BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               OVERLAPPED* overlapped) {
    FUZZ_CHECK(overlapped != nullptr && overlapped->hEvent != nullptr);
    const std::shared_ptr<Event> event = qdev_posix::LookupHandleAs<Event>(overlapped->hEvent);
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0) || !event) {
      SetLastError(event ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
      return FALSE;
    }
    overlapped->Internal = qdev_posix::kStatusPending;
    overlapped->InternalHigh = 0;
    event->Reset();
    Request request;
    request.device = name_;
    request.ioControlCode = code;
    request.input.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
    request.output.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + outSize);
    Driver* driver = gDriver.load();
    const Answer answer = driver != nullptr ? driver->Handle(request) : Answer{};
    if (answer.answered) {
      const size_t n = std::min<size_t>(answer.data.size(), outSize);
      if (n != 0) std::memcpy(out, answer.data.data(), n);
      Complete(overlapped, *event, qdev_posix::StatusFromError(answer.error), answer.information);
    } else {
      std::lock_guard<std::mutex> lock(mu_);
      pending_.push_back({overlapped, event});
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }

  void CancelAll() {
    std::vector<std::pair<OVERLAPPED*, std::shared_ptr<Event>>> cancelled;
    {
      std::lock_guard<std::mutex> lock(mu_);
      cancelled.swap(pending_);
    }
    for (auto& [record, event] : cancelled)
      Complete(record, *event, qdev_posix::kStatusCancelled, 0);
  }

 private:
  const std::string name_;
  std::mutex mu_;
  std::vector<std::pair<OVERLAPPED*, std::shared_ptr<Event>>> pending_;
};

}  // namespace

void Install(Driver* driver) {
  gDriver = driver;
}

int OpenDevices() {
  return gOpenDevices;
}

}  // namespace scripted_device

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                          DWORD dwFlagsAndAttributes, HANDLE) {
  static const char kPrefix[] = "\\\\.\\";
  scripted_device::Driver* driver = scripted_device::gDriver.load();
  if (lpFileName == nullptr || std::strncmp(lpFileName, kPrefix, sizeof kPrefix - 1) != 0 ||
      driver == nullptr || !driver->Open(lpFileName + sizeof kPrefix - 1)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FUZZ_CHECK((dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0);
  HANDLE handle = qdev_posix::RegisterHandle(
      std::make_shared<scripted_device::Device>(lpFileName + sizeof kPrefix - 1));
  if (handle == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD,
                            LPOVERLAPPED lpOverlapped) {
  auto device = qdev_posix::LookupHandleAs<scripted_device::Device>(hDevice);
  if (!device) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return device->Control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                         lpOverlapped);
}

BOOL WINAPI GetOverlappedResult(HANDLE, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  FUZZ_CHECK(lpOverlapped != nullptr);
  if (lpOverlapped->Internal == qdev_posix::kStatusPending) {
    // Nothing completes a scripted request but CancelIo or closing its handle: a wait on a
    // request still pending would never end.
    FUZZ_CHECK(!bWait);
    SetLastError(ERROR_IO_INCOMPLETE);
    return FALSE;
  }
  if (lpNumberOfBytesTransferred != nullptr) {
    *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
  }
  const auto status = static_cast<qdev_posix::NtStatus>(lpOverlapped->Internal);
  if (qdev_posix::StatusSucceeded(status)) return TRUE;
  SetLastError(qdev_posix::ErrorFromStatus(status));
  return FALSE;
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  if (qdev_posix::IsCurrentProcess(hFile)) return TRUE;
  auto device = qdev_posix::LookupHandleAs<scripted_device::Device>(hFile);
  if (device) device->CancelAll();
  if (!device) SetLastError(ERROR_INVALID_HANDLE);
  return device ? TRUE : FALSE;
}
