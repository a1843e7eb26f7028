// Synchronisation and time: events and waits, critical sections, Sleep, GetTickCount64, and the
// two scales of the test facilities: the time scale of Sleep and the platform clock, and the wait
// scale of timed waits.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "platform/posix/event.h"
#include "platform/posix/handles.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Storage),
              "a pthread mutex must fit in a CRITICAL_SECTION");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "a CRITICAL_SECTION must be aligned for a pthread mutex");

namespace qdev_posix {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A scale from the environment: an integer >= 1, else 1.
uint32_t ScaleFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return 1;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  return *end == '\0' && value >= 1 && value <= UINT32_MAX ? static_cast<uint32_t>(value) : 1;
}

// The platform clock: ticks = base + (now - origin) * scale. A change of scale starts a new
// segment at the current tick count, so the clock never runs backwards. The wait scale lives here
// too, so that both scales are read from the environment once, at the first timed call.
struct Clock {
  std::mutex mu;
  bool initialised = false;
  uint32_t scale = 1;      // Sleep and the clock
  uint32_t waitScale = 1;  // timed waits
  // The two scales again, for readers that take no lock (every timed wait); 0 until read.
  std::atomic<uint32_t> scaleNow{0};
  std::atomic<uint32_t> waitScaleNow{0};
  SteadyClock::time_point origin;
  uint64_t base = 0;

  void InitialiseLocked() {
    if (initialised) return;
    initialised = true;
    scale = ScaleFromEnvironment("QDEV_TIME_SCALE");
    waitScale = ScaleFromEnvironment("QDEV_WAIT_SCALE");
    PublishLocked();
    origin = SteadyClock::now();
    base = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(origin.time_since_epoch()).count());
  }

  void PublishLocked() {
    scaleNow.store(scale, std::memory_order_relaxed);
    waitScaleNow.store(waitScale, std::memory_order_relaxed);
  }

  uint64_t TicksLocked(SteadyClock::time_point now) const {
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - origin).count();
    return base + static_cast<uint64_t>(elapsed) * scale / 1000;
  }
};

// Never destroyed, so that threads still running at exit may keep using it.
Clock& TheClock() {
  static Clock* clock = new Clock;
  return *clock;
}

uint32_t CurrentScale() {
  Clock& c = TheClock();
  if (const uint32_t scale = c.scaleNow.load(std::memory_order_relaxed)) return scale;
  std::lock_guard<std::mutex> lock(c.mu);
  c.InitialiseLocked();
  return c.scale;
}

uint32_t CurrentWaitScale() {
  Clock& c = TheClock();
  if (const uint32_t scale = c.waitScaleNow.load(std::memory_order_relaxed)) return scale;
  std::lock_guard<std::mutex> lock(c.mu);
  c.InitialiseLocked();
  return c.waitScale;
}

std::chrono::microseconds Scaled(DWORD ms, uint32_t scale) {
  return std::chrono::microseconds(static_cast<uint64_t>(ms) * 1000 / scale);
}

std::atomic<uint32_t> failCreateEventCountdown{0};

pthread_mutex_t* MutexOf(LPCRITICAL_SECTION cs) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->Storage));
}

}  // namespace

std::chrono::microseconds ScaledWait(DWORD ms) {
  return Scaled(ms, CurrentWaitScale());
}

std::chrono::microseconds ScaledSleep(DWORD ms) {
  return Scaled(ms, CurrentScale());
}

void Event::Set() {
  std::vector<std::shared_ptr<EventSource>> sources;
  {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = true;
    sources = sources_;
  }
  cv_.notify_all();
  for (const auto& source : sources) source->Wake();
}

void Event::SetCompleted() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  signalled_ = false;
}

bool Event::IsSignalled() {
  std::lock_guard<std::mutex> lock(mu_);
  return signalled_;
}

void Event::AddSource(const std::shared_ptr<EventSource>& source) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& s : sources_) {
      if (s == source) return;
    }
    sources_.push_back(source);
    ++sourcesAdded_;
  }
  cv_.notify_all();
}

void Event::RemoveSource(const EventSource* source) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = sources_.begin(); it != sources_.end(); ++it) {
    if (it->get() == source) {
      sources_.erase(it);
      return;
    }
  }
}

bool Event::Wait(DWORD ms) {
  const Deadline deadline = Deadline::After(ms);
  bool drove = false;  // a wait whose time is up still reads what its source has received
  for (;;) {
    std::shared_ptr<EventSource> source;
    size_t count = 0;
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (signalled_) {
        if (!manualReset_) signalled_ = false;
        return true;
      }
      count = sources_.size();
      if (deadline.Passed() && (drove || count == 0)) return false;
      if (count == 0) {
        // A plain event, or its request has not been issued yet: wait for a signal or a source.
        const uint64_t seen = sourcesAdded_;
        auto woken = [&] { return signalled_ || sourcesAdded_ != seen; };
        if (deadline.infinite) {
          cv_.wait(lock, woken);
        } else {
          cv_.wait_until(lock, deadline.at, woken);
        }
        continue;
      }
      source = sources_[turn_++ % count];
    }
    // One source is driven to the end of the wait; several (requests on different devices that
    // share the event) take turns of a millisecond.
    Deadline turn = deadline;
    if (count > 1) {
      const auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
      if (turn.infinite || slice < turn.at) turn.at = slice;
      turn.infinite = false;
    }
    source->Drive(this, turn);
    drove = true;
  }
}

}  // namespace qdev_posix

namespace qdev_test {

void SetTimeScale(uint32_t scale) {
  qdev_posix::Clock& c = qdev_posix::TheClock();
  std::lock_guard<std::mutex> lock(c.mu);
  c.InitialiseLocked();
  auto now = qdev_posix::SteadyClock::now();
  c.base = c.TicksLocked(now);
  c.origin = now;
  c.scale = scale == 0 ? 1 : scale;
  c.PublishLocked();
}

uint32_t TimeScale() {
  return qdev_posix::CurrentScale();
}

void SetWaitScale(uint32_t scale) {
  qdev_posix::Clock& c = qdev_posix::TheClock();
  std::lock_guard<std::mutex> lock(c.mu);
  c.InitialiseLocked();
  c.waitScale = scale == 0 ? 1 : scale;
  c.PublishLocked();
}

uint32_t WaitScale() {
  return qdev_posix::CurrentWaitScale();
}

void FailNthCreateEvent(uint32_t n) {
  qdev_posix::failCreateEventCountdown.store(n);
}

void ClearFaults() {
  FailNthCloseHandle(0);
  FailNthCreateEvent(0);
  FailNthResourceCall(0);
}

}  // namespace qdev_test

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES /*lpEventAttributes*/, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR /*lpName*/) {
  if (qdev_posix::FaultFires(qdev_posix::failCreateEventCountdown)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::shared_ptr<qdev_posix::Event> event;
  try {
    event = std::make_shared<qdev_posix::Event>(bManualReset != FALSE, bInitialState != FALSE);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = qdev_posix::RegisterHandle(std::move(event));
  if (handle == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Windows leaves the last error at 0 for a new unnamed event.
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = qdev_posix::LookupHandleAs<qdev_posix::Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = qdev_posix::LookupHandleAs<qdev_posix::Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (qdev_posix::IsCurrentProcess(hHandle)) {
    // The process is signalled when it ends, which its own threads never see. A timed wait, so
    // it follows the wait scale.
    if (dwMilliseconds == INFINITE) Sleep(INFINITE);
    std::this_thread::sleep_for(qdev_posix::ScaledWait(dwMilliseconds));
    return WAIT_TIMEOUT;
  }
  std::shared_ptr<qdev_posix::Object> object = qdev_posix::LookupHandle(hHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  auto* event = dynamic_cast<qdev_posix::Event*>(object.get());
  if (event == nullptr) {
    // Only events are waitable here; Windows would also wait on a device handle.
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  return event->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(qdev_posix::ScaledSleep(dwMilliseconds));
}

uint64_t WINAPI GetTickCount64(void) {
  qdev_posix::Clock& c = qdev_posix::TheClock();
  std::lock_guard<std::mutex> lock(c.mu);
  c.InitialiseLocked();
  return c.TicksLocked(qdev_posix::SteadyClock::now());
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  auto* mutex = new (lpCriticalSection->Storage) pthread_mutex_t;
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_lock(qdev_posix::MutexOf(lpCriticalSection));
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_unlock(qdev_posix::MutexOf(lpCriticalSection));
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_destroy(qdev_posix::MutexOf(lpCriticalSection));
}
