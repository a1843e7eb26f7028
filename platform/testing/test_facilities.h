// Test facilities of the platform layer on systems without Windows: faster sleeps, waits and
// clock, and fault hooks that make selected platform calls fail, so that tests reach the paths
// that real Windows takes only under rare conditions. Nothing in a shipped program calls these.
// They act on the layer's insides, so the layer itself defines them (posix/handles.cpp,
// posix/resources.cpp, posix/sync.cpp): the one place where shipped code includes a testing/
// header.
#pragma once

#ifndef _WIN32

#include <cstdint>

namespace qdev_test {

// Two scales make time pass faster. The time scale runs Sleep and the platform clock: a
// Sleep lasts 1/scale of its nominal time and GetTickCount64 advances `scale` ms per real ms, so a
// 6 s sleep still measures 6000 on the clock. The wait scale shortens every timed wait
// (WaitForSingleObject with a time-out) to 1/scale of its nominal time; it is separate so that a
// request's time-out stays long, and an answered request never times out on a busy machine,
// unless a test waits for that time-out on purpose. A timed wait measures its nominal time on
// the clock only when both scales are equal.
//
// 0 counts as 1. Without a call, each comes from the environment, read once at the first timed
// call: $QDEV_TIME_SCALE and $QDEV_WAIT_SCALE (integers >= 1), else 1. Setting only the time
// scale therefore leaves waits at their full length. A change of the time scale never turns the
// clock back.
void SetTimeScale(uint32_t scale);
uint32_t TimeScale();
void SetWaitScale(uint32_t scale);
uint32_t WaitScale();

// Makes the n-th next CloseHandle fail (1: the very next one): it returns FALSE with
// ERROR_INVALID_HANDLE, but still releases the object, so nothing leaks. 0 disarms the hook.
void FailNthCloseHandle(uint32_t n);

// Makes the n-th next CreateEventA fail (1: the very next one): it returns NULL with
// ERROR_NOT_ENOUGH_MEMORY and creates nothing. 0 disarms the hook.
void FailNthCreateEvent(uint32_t n);

// Makes the n-th next LoadResource or LockResource call fail (1: the very next one): it returns
// NULL with ERROR_NOT_ENOUGH_MEMORY. 0 disarms the hook.
void FailNthResourceCall(uint32_t n);

// Disarms every fault hook.
void ClearFaults();

}  // namespace qdev_test

#endif  // !_WIN32
