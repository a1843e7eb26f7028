// The codes that the module interface library stores in an interface object's last-error code,
// each with the short English text that GetLastErrorInfo reports for it. The list below is the
// one place where a code, its name and its text are written: the constants come from it, and so
// do the library's string resources (a STRINGTABLE on Windows, the platform's string table
// elsewhere). A code is meaningful only after an operation has failed.
//
// The resource compiler reads this header too (RC_INVOKED): it sees the list and nothing else.
#pragma once

// X(code, name, text), in the order of the layer that stores the code: the base interface and
// its driver transport, then the boot-loader interface, then the C interface (r4690module.h, which
// names its codes R4690_ERROR_...).
// clang-format off
#define R4690_MODULE_ERROR_CODES(X)                                                              \
  X(100, kNone, "No operation of this interface object has failed yet.")                         \
  X(102, kOpenDevice, "The module's device cannot be opened: no module in this slot, or no "    \
    "driver.")                                                                                   \
  X(111, kDeviceInUse, "The module's device cannot be opened: another program holds the module.") \
  X(103, kOpenModuleName, "The module's model name could not be read while opening it.")          \
  X(104, kOpenUsbSpeed, "The module's USB speed could not be read while opening it.")             \
  X(105, kOpenBadSpeed, "The module reported a USB speed that is neither full nor high speed.")   \
  X(106, kCloseHandle, "The module's device could not be closed.")                               \
  X(107, kNoDevice, "No module is open.")                                                        \
  X(108, kNullBuffer, "No buffer was given for the model name.")                                  \
  X(109, kRequestFailed, "The module did not answer the request for its model name or USB "       \
    "speed.")                                                                                    \
  X(110, kUnknownModel, "The USB speed cannot be read: the module's model name is not known.")   \
  X(877, kDeviceInfo, "The module's device information cannot be read, or the module is not of " \
    "an accepted type.")                                                                         \
  X(1001, kOperationFailed, "A request to the module failed, or the operation is not possible "   \
    "now: no module open, MCU application running, no buffer or size, address not accepted, "    \
    "or not an R46-90.")                                                                          \
  X(1501, kRecordUnreadable, "A description record or the PLD information of the module cannot " \
    "be read.")                                                                                  \
  X(519, kPldOrUserFlashRequest, "The module did not carry out the PLD restart, the PLD "          \
    "verification or the user-flash write.")                                                     \
  X(528, kUserFlashWriteDisabled, "Writing the user flash is not enabled.")                      \
  X(503, kNoUserFlashBuffer, "No buffer was given for the user flash.")                          \
  X(516, kUserFlashUnreadable, "The user flash cannot be read.")                                 \
  X(501, kNoBootLoader, "The module could not be returned to its boot loader for the user-flash " \
    "write.")                                                                                    \
  X(2001, kNullHandle, "No module handle was given.")                                            \
  X(2002, kNullArgument, "A pointer that the operation needs is null, or a size is 0.")          \
  X(2003, kNoMemory, "The library ran out of memory.")                                           \
  X(2004, kSerialNotFound, "No module with this serial number answers in virtual slots 0 to "    \
    "126.")
// clang-format on

#ifndef RC_INVOKED

#include <cstdint>

namespace module_error {

#define R4690_MODULE_ERROR_CONSTANT(code, name, text) \
  constexpr uint16_t name = code;                     \
  static_assert(sizeof(text) <= 256, "LastErrorInfo::ErrorString holds 255 characters");
R4690_MODULE_ERROR_CODES(R4690_MODULE_ERROR_CONSTANT)
#undef R4690_MODULE_ERROR_CONSTANT

// Reported in LastErrorInfo::ErrorNumber, never stored: no text exists for the stored code.
constexpr uint16_t kNoErrorText = 199;

}  // namespace module_error

#endif  // RC_INVOKED
