// The texts of the error codes as the library's callers get them: string resources of the module
// that the library is linked into (here the test executable, which links the static library),
// found by LoadStringA and reported by GetLastErrorInfo. Runs on Windows too, where the texts are
// a compiled STRINGTABLE.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "modlib/testing/error_texts.h"
#include "platform/win32.h"

namespace modlib_test {
namespace {

TEST(ErrorTexts, EveryStoredCodeHasItsTextAndTheFallbackCodeNone) {
  HMODULE module = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&CreateInstance), &module));
  const uint16_t codes[] = {
#define R4690_CODE_OF(code, name, text) code,
      R4690_MODULE_ERROR_CODES(R4690_CODE_OF)
#undef R4690_CODE_OF
  };
  char text[256];
  for (uint16_t code : codes) {
    std::memset(text, 0x7F, sizeof text);
    EXPECT_EQ(LoadStringA(module, code, text, sizeof text),
              static_cast<int>(ErrorText(code).size()))
        << code;
    EXPECT_EQ(std::string(text), ErrorText(code)) << code;
  }
  EXPECT_EQ(LoadStringA(module, module_error::kNoErrorText, text, sizeof text), 0);
}

}  // namespace
}  // namespace modlib_test
