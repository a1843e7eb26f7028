// The library's texts. The texts of the error codes as the library's callers get them: string
// resources of the module that the library is linked into (here the test executable, which links
// the static library), found by LoadStringA and reported by GetLastErrorInfo; runs on Windows too,
// where the texts are a compiled STRINGTABLE. And the PLD information text parse where the
// pld_info_text fuzz target's second reading of the rules does not reach: a closing delimiter
// before the opening one, and the PLD's name by the module's revision. Markers, delimiters,
// widths, placeholders and the end of the text are the fuzz target's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "modlib/pld_info_text.h"
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

// All of a field's bytes, zeros included, and what they must be: the value, then zeros.
#define EXPECT_FIELD(field, value)            \
  EXPECT_EQ(std::string(field, sizeof field), \
            std::string(value).append(sizeof field - std::strlen(value), '\0'))

PldInfo Parse(const std::string& text, char revision = 'C') {
  PldInfo info;
  std::memset(&info, 0x5A, sizeof info);  // the parse must write every byte
  pld_info_text::ParsePldInfoText(text.data(), text.size(), revision, &info);
  return info;
}

// At most the field's width after the opening delimiter, never past the end of the text.
TEST(PldTextParse, ClosingDelimiterBeforeTheOpeningOne) {
  const struct {
    std::string text;
    const char *version, *created, *comments;
  } rows[] = {
      {"<Version> x{0123456789AB", "0123456789", "????????", "Invalid Pld Comments"},
      {"<Version> {ab", "ab", "????????", "Invalid Pld Comments"},
      {"(build) xyz", "????????", "xyz", "Invalid Pld Comments"},
      {"<Comments>}{ab", "????????", "????????", "ab"},
  };
  for (const auto& r : rows) {
    const PldInfo info = Parse(r.text);
    EXPECT_FIELD(info.Version, r.version) << r.text;
    EXPECT_FIELD(info.Created, r.created) << r.text;
    EXPECT_FIELD(info.Comments, r.comments) << r.text;
  }
}

TEST(PldNameByRevision, NameFollowsRevision) {
  // clang-format off
  const std::pair<char, const char*> cases[] = {
      {'A', "ALTERA ACEX EP1K10TC144"}, {'B', "ALTERA Cyclone EP1C3T144"},
      {'C', "ALTERA Cyclone IV EP4CE6E22"}, {'D', "Unknown PLD type"}, {'c', "Unknown PLD type"},
      {'\0', "Unknown PLD type"}};
  // clang-format on
  for (const auto& [revision, name] : cases) {
    EXPECT_FIELD(Parse("<Version>{3.0.7c", revision).PldName, name) << revision;
  }
}

}  // namespace
}  // namespace modlib_test
