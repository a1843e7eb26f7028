// Test facilities of the platform layer on systems without Windows: a faster platform clock and
// fault hooks that make selected platform calls fail, so that tests reach the paths that real
// Windows takes only under rare conditions. Nothing in a shipped program calls these.
#pragma once

#ifndef _WIN32

#include <cstdint>

namespace qdev_test {

// Runs the platform clock `scale` times faster: every Sleep and every timed wait lasts
// 1/scale of its nominal time, and GetTickCount64 advances `scale` ms per real ms, so a 5000 ms
// time-out still measures 5000 on the platform clock. 0 counts as 1. Without a call, the scale
// comes from $QDEV_TIME_SCALE (an integer >= 1, read once at first use), else 1.
void SetTimeScale(uint32_t scale);
uint32_t TimeScale();

// Makes the n-th next CloseHandle fail (1: the very next one): it returns FALSE with
// ERROR_INVALID_HANDLE, but still releases the object, so nothing leaks. 0 disarms the hook.
void FailNthCloseHandle(uint32_t n);

// Makes the n-th next CreateEventA fail (1: the very next one): it returns NULL with
// ERROR_NOT_ENOUGH_MEMORY and creates nothing. 0 disarms the hook.
void FailNthCreateEvent(uint32_t n);

// Disarms every fault hook.
void ClearFaults();

}  // namespace qdev_test

#endif  // !_WIN32
