// The PLD information text parse where the pld_info_text fuzz target's second reading of the
// rules does not reach: a closing delimiter before the opening one, and the PLD's name by the
// module's revision. Markers, delimiters, widths, placeholders and the end of the text are the
// fuzz target's.
#include "modlib/pld_info_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

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
