// Internal to the platform layer: the NTSTATUS values that OVERLAPPED::Internal holds, as on
// Windows, and their translation to and from the Windows error values that the device framing
// carries and that GetLastError reports.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace qdev_posix {

typedef uint32_t NtStatus;

constexpr NtStatus kStatusSuccess = 0x00000000;
constexpr NtStatus kStatusPending = STATUS_PENDING;
constexpr NtStatus kStatusCancelled = 0xC0000120;
constexpr NtStatus kStatusDeviceNotConnected = 0xC000009D;

// Windows' NT_SUCCESS: success and informational values (STATUS_PENDING among them).
constexpr bool StatusSucceeded(NtStatus status) {
  return static_cast<int32_t>(status) >= 0;
}

// The status with which a request completes that the endpoint answered with `error`: the status
// that Windows translates to that error, or, for an error outside the table of known pairs,
// NTSTATUS_FROM_WIN32(error) (0xC0070000 | error), which Windows also translates back to it. An
// error above 0xFFFF fits neither and becomes STATUS_UNSUCCESSFUL.
NtStatus StatusFromError(DWORD error);

// What GetLastError reports for a failed status, by Windows' rules: the inverse of
// StatusFromError; a customer-defined status unchanged; ERROR_MR_MID_NOT_FOUND (317) for any
// other status.
DWORD ErrorFromStatus(NtStatus status);

}  // namespace qdev_posix
