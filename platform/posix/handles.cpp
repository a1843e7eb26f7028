// Handles: the registry of live objects, CloseHandle, and the per-thread last-error value.
#include "platform/posix/handles.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

namespace qdev_posix {
namespace {

struct Registry {
  std::mutex mu;
  // Handle values count up in steps of 4 as on Windows and are never reused, so a stale handle
  // can never reach a newer object.
  uintptr_t next = 0x100;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
  uint32_t failCloseCountdown = 0;  // 0: the fault hook is disarmed
};

// Never destroyed: reader threads of devices still open at exit may use it to the very end.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<Object> object) {
  Registry& r = TheRegistry();
  try {
    std::lock_guard<std::mutex> lock(r.mu);
    uintptr_t value = r.next;
    r.objects.emplace(value, std::move(object));
    r.next += 4;
    return reinterpret_cast<HANDLE>(value);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::shared_ptr<Object> LookupHandle(HANDLE handle) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == r.objects.end() ? nullptr : it->second;
}

}  // namespace qdev_posix

namespace qdev_test {

void FailNthCloseHandle(uint32_t n) {
  qdev_posix::Registry& r = qdev_posix::TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.failCloseCountdown = n;
}

}  // namespace qdev_test

BOOL WINAPI CloseHandle(HANDLE hObject) {
  using namespace qdev_posix;
  Registry& r = TheRegistry();
  std::shared_ptr<Object> object;
  bool injectFailure = false;
  {
    std::lock_guard<std::mutex> lock(r.mu);
    if (r.failCloseCountdown != 0 && --r.failCloseCountdown == 0) injectFailure = true;
    auto it = r.objects.find(reinterpret_cast<uintptr_t>(hObject));
    if (it != r.objects.end()) {
      object = std::move(it->second);
      r.objects.erase(it);
    }
  }
  if (object) {
    object->Close();
    object.reset();
  } else if (!IsCurrentProcess(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (injectFailure) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetLastError(void) {
  return qdev_posix::lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  qdev_posix::lastError = dwErrCode;
}
