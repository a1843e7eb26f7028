// Internal to the platform layer: the event object behind CreateEventA, which device I/O also
// signals when an overlapped request completes, the sources that a wait for an event drives, and
// the scaled times of the test facilities.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/win32.h"

namespace qdev_posix {

// The real time that a timed wait of `ms` nominal milliseconds lasts under the wait scale, and
// that a Sleep of `ms` lasts under the time scale.
std::chrono::microseconds ScaledWait(DWORD ms);
std::chrono::microseconds ScaledSleep(DWORD ms);

// When a wait ends: never, or at a point of the steady clock.
struct Deadline {
  bool infinite = true;
  std::chrono::steady_clock::time_point at;

  static Deadline After(DWORD ms) {  // a nominal time under the wait scale; INFINITE: never
    Deadline d;
    if (ms != INFINITE) {
      d.infinite = false;
      d.at = std::chrono::steady_clock::now() + ScaledWait(ms);
    }
    return d;
  }
  static Deadline Now() {
    Deadline d;
    d.infinite = false;
    d.at = std::chrono::steady_clock::now();
    return d;
  }
  bool Passed() const { return !infinite && std::chrono::steady_clock::now() >= at; }
};

class Event;

// What sets an event when a request completes, and what a thread that waits for the event must
// drive for that to happen: a device, whose replies are read by the threads that wait for them
// (posix/device_io.cpp), so that a reply wakes its waiter directly.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // Reads the source's replies, completing their requests, until `event` is signalled or the
  // deadline passes (a passed deadline still reads what has arrived).
  virtual void Drive(Event* event, const Deadline& deadline) = 0;
  // Someone else set an event of this source: whoever drives the source looks again.
  virtual void Wake() = 0;
};

class Event : public Object {
 public:
  Event(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}

  void Set();           // SetEvent: wakes every waiter, those that drive a source too
  void SetCompleted();  // a source's request has completed: the thread that drives it knows
  void Reset();
  // True when the event was (or became) signalled within `ms` nominal milliseconds (INFINITE:
  // no limit). An auto-reset event is reset by the wait that it releases.
  bool Wait(DWORD ms);
  bool IsSignalled();

  // A request of `source` will set this event; until RemoveSource, waits drive it.
  void AddSource(const std::shared_ptr<EventSource>& source);
  void RemoveSource(const EventSource* source);

 private:
  const bool manualReset_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_;
  uint64_t sourcesAdded_ = 0;  // a plain wait looks again when a source comes
  size_t turn_ = 0;            // which of several sources a wait drives next
  std::vector<std::shared_ptr<EventSource>> sources_;
};

}  // namespace qdev_posix
