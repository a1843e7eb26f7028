// Internal to the platform layer: the event object behind CreateEventA, which device I/O also
// signals when an overlapped request completes, and the scaled times of the test facilities.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/posix/handles.h"
#include "platform/win32.h"

namespace qdev_posix {

// The real time that a timed wait of `ms` nominal milliseconds lasts under the wait scale, and
// that a Sleep of `ms` lasts under the time scale.
std::chrono::microseconds ScaledWait(DWORD ms);
std::chrono::microseconds ScaledSleep(DWORD ms);

class Event : public Object {
 public:
  Event(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}

  void Set();
  void Reset();
  // True when the event was (or became) signalled within `ms` nominal milliseconds (INFINITE:
  // no limit). An auto-reset event is reset by the wait that it releases.
  bool Wait(DWORD ms);

 private:
  const bool manualReset_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_;
};

}  // namespace qdev_posix
