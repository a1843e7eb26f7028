// The device calls of the platform layer, answered by an installed driver in-process
// (scripted_device.h).
#include "tests/fuzz/scripted_device.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/event.h"
#include "platform/posix/handles.h"
#include "platform/posix/ntstatus.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_check.h"

namespace scripted_device {
namespace {

using qdev_posix::Event;
using qdev_posix::NtStatus;

std::atomic<Driver*> gDriver{nullptr};
std::atomic<int> gOpenDevices{0};

void Complete(OVERLAPPED* record, const std::shared_ptr<Event>& event, NtStatus status,
              DWORD information) {
  record->InternalHigh = information;
  record->Internal = status;
  if (event) event->Set();
}

BOOL Report(const OVERLAPPED* record, LPDWORD bytes) {
  if (bytes != nullptr) *bytes = static_cast<DWORD>(record->InternalHigh);
  const auto status = static_cast<NtStatus>(record->Internal);
  if (qdev_posix::StatusSucceeded(status)) return TRUE;
  SetLastError(qdev_posix::ErrorFromStatus(status));
  return FALSE;
}

class Device : public qdev_posix::Object {
 public:
  Device(std::string name, bool overlapped) : name_(std::move(name)), overlapped_(overlapped) {
    ++gOpenDevices;
  }

  void Close() override {
    CancelAll();
    --gOpenDevices;
  }

  BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::shared_ptr<Event> event;
    if (overlapped != nullptr && overlapped->hEvent != nullptr) {
      event = qdev_posix::LookupHandleAs<Event>(overlapped->hEvent);
      if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
      }
    }
    OVERLAPPED local{};
    OVERLAPPED* record = overlapped != nullptr ? overlapped : &local;
    record->Internal = qdev_posix::kStatusPending;
    record->InternalHigh = 0;
    if (event) event->Reset();

    Request request;
    request.device = name_;
    request.ioControlCode = code;
    const auto* inBytes = static_cast<const uint8_t*>(in);
    auto* outBytes = static_cast<uint8_t*>(out);
    request.input.assign(inBytes, inBytes + inSize);
    request.output.assign(outBytes, outBytes + outSize);
    Driver* driver = gDriver.load();
    const Answer answer = driver != nullptr ? driver->Handle(request) : Answer{};

    if (answer.answered) {
      const size_t n = std::min<size_t>(answer.data.size(), outSize);
      if (n != 0) std::memcpy(out, answer.data.data(), n);
      Complete(record, event, qdev_posix::StatusFromError(answer.error), answer.information);
    } else {
      std::lock_guard<std::mutex> lock(mu_);
      pending_.push_back({record, event});
    }

    if (overlapped_ && overlapped != nullptr) {
      if (bytesReturned != nullptr) *bytesReturned = 0;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
    // Without overlapped I/O the call waits for its answer, which would never come.
    FUZZ_CHECK(answer.answered);
    return Report(record, bytesReturned);
  }

  void CancelAll() {
    std::vector<Pending> cancelled;
    {
      std::lock_guard<std::mutex> lock(mu_);
      cancelled.swap(pending_);
    }
    for (const Pending& p : cancelled) Complete(p.record, p.event, qdev_posix::kStatusCancelled, 0);
  }

 private:
  struct Pending {
    OVERLAPPED* record;
    std::shared_ptr<Event> event;
  };

  const std::string name_;
  const bool overlapped_;
  std::mutex mu_;
  std::vector<Pending> pending_;
};

}  // namespace

void Install(Driver* driver) {
  gDriver = driver;
}

int OpenDevices() {
  return gOpenDevices;
}

}  // namespace scripted_device

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD /*dwDesiredAccess*/, DWORD /*dwShareMode*/,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD /*dwCreationDisposition*/, DWORD dwFlagsAndAttributes,
                          HANDLE /*hTemplateFile*/) {
  static const char kDevicePrefix[] = "\\\\.\\";
  scripted_device::Driver* driver = scripted_device::gDriver.load();
  if (lpFileName == nullptr ||
      std::strncmp(lpFileName, kDevicePrefix, sizeof kDevicePrefix - 1) != 0 || driver == nullptr ||
      !driver->Open(lpFileName + sizeof kDevicePrefix - 1)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = qdev_posix::RegisterHandle(std::make_shared<scripted_device::Device>(
      lpFileName + sizeof kDevicePrefix - 1, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0));
  if (handle == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  auto device = qdev_posix::LookupHandleAs<scripted_device::Device>(hDevice);
  if (!device) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return device->Control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                         lpBytesReturned, lpOverlapped);
}

BOOL WINAPI GetOverlappedResult(HANDLE /*hFile*/, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  if (lpOverlapped == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpOverlapped->Internal == qdev_posix::kStatusPending) {
    if (!bWait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    // Nothing completes a scripted request but CancelIo or closing its handle: this wait on a
    // request still pending would never end.
    FUZZ_CHECK(!"GetOverlappedResult waits for a request that nobody completes");
  }
  return scripted_device::Report(lpOverlapped, lpNumberOfBytesTransferred);
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  if (qdev_posix::IsCurrentProcess(hFile)) return TRUE;
  auto device = qdev_posix::LookupHandleAs<scripted_device::Device>(hFile);
  if (!device) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  device->CancelAll();
  return TRUE;
}
