// Internal to the platform layer: the registry of live handle objects. A HANDLE is an opaque
// number that maps to a live object here, so a call on a handle that was closed or never existed
// fails with ERROR_INVALID_HANDLE instead of touching freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/win32.h"

namespace qdev_posix {

// What a handle refers to: a device connection or an event.
class Object {
 public:
  virtual ~Object() = default;
  // Called once, by CloseHandle, when the handle goes away. Other threads may still hold a
  // reference for a call in progress; the object itself lives until the last of them ends.
  virtual void Close() {}
};

// INVALID_HANDLE_VALUE is also the current process's pseudo-handle on Windows, and the calls
// that accept a process handle treat it so: closing it does nothing, and a wait on it never
// ends while the process runs.
inline bool IsCurrentProcess(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE;
}

// Publishes an object; returns its new handle, or nullptr when memory runs out.
HANDLE RegisterHandle(std::shared_ptr<Object> object);

// The live object behind a handle, or nullptr.
std::shared_ptr<Object> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Counts one call against a fault hook's countdown (0: disarmed); true when this call is to fail.
inline bool FaultFires(std::atomic<uint32_t>& countdown) {
  uint32_t n = countdown.load();
  while (n != 0) {
    if (countdown.compare_exchange_weak(n, n - 1)) return n == 1;
  }
  return false;
}

}  // namespace qdev_posix
