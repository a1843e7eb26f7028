// The table between the NTSTATUS values of completed requests and the Windows error values of
// the device framing: the pairs that Windows' own translation gives for the errors that drivers
// and this system's endpoints complete requests with.
#include "platform/posix/ntstatus.h"

namespace qdev_posix {
namespace {

struct Pair {
  DWORD error;
  NtStatus status;
};

const Pair kPairs[] = {
    {ERROR_SUCCESS, kStatusSuccess},
    {ERROR_INVALID_FUNCTION, 0xC0000010},     // STATUS_INVALID_DEVICE_REQUEST
    {ERROR_ACCESS_DENIED, 0xC0000022},        // STATUS_ACCESS_DENIED
    {ERROR_INVALID_HANDLE, 0xC0000008},       // STATUS_INVALID_HANDLE
    {ERROR_NOT_ENOUGH_MEMORY, 0xC0000017},    // STATUS_NO_MEMORY
    {ERROR_GEN_FAILURE, 0xC0000001},          // STATUS_UNSUCCESSFUL
    {ERROR_NOT_SUPPORTED, 0xC00000BB},        // STATUS_NOT_SUPPORTED
    {ERROR_INVALID_PARAMETER, 0xC000000D},    // STATUS_INVALID_PARAMETER
    {ERROR_SEM_TIMEOUT, 0xC00000B5},          // STATUS_IO_TIMEOUT
    {ERROR_INSUFFICIENT_BUFFER, 0xC0000023},  // STATUS_BUFFER_TOO_SMALL
    {ERROR_OPERATION_ABORTED, kStatusCancelled},
    {ERROR_DEVICE_NOT_CONNECTED, kStatusDeviceNotConnected},
};

// NTSTATUS_FROM_WIN32: a Windows error value carried in an error status of the facility kept
// for them, which Windows translates back to the same error value.
constexpr NtStatus kWin32Facility = 0xC0070000;
constexpr NtStatus kStatusUnsuccessful = 0xC0000001;
constexpr NtStatus kCustomerBit = 0x20000000;
constexpr DWORD kErrorMrMidNotFound = 317;  // Windows' ERROR_MR_MID_NOT_FOUND

}  // namespace

NtStatus StatusFromError(DWORD error) {
  for (const Pair& p : kPairs) {
    if (p.error == error) return p.status;
  }
  return error <= 0xFFFF ? kWin32Facility | error : kStatusUnsuccessful;
}

DWORD ErrorFromStatus(NtStatus status) {
  for (const Pair& p : kPairs) {
    if (p.status == status) return p.error;
  }
  // Windows' own rules for what its table does not hold: a status of the Windows-error facility
  // (error or warning) gives its error value, a customer-defined status comes back unchanged.
  if ((status & 0xBFFF0000) == (kWin32Facility & 0xBFFF0000)) return status & 0xFFFF;
  if ((status & kCustomerBit) != 0) return status;
  return kErrorMrMidNotFound;
}

}  // namespace qdev_posix
