// Test support: the text that the library's list gives a code, for comparing what
// GetLastErrorInfo and LoadStringA report with the list itself.
#pragma once

#include <cstdint>
#include <string>

#include "modlib/error_codes.h"

namespace modlib_test {

// The list's text for the code, or "" for a code that the list does not hold.
inline std::string ErrorText(uint16_t code) {
#define R4690_TEXT_OF(c, name, text) \
  if (code == c) return text;
  R4690_MODULE_ERROR_CODES(R4690_TEXT_OF)
#undef R4690_TEXT_OF
  return "";
}

}  // namespace modlib_test
