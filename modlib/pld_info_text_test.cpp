// The PLD information text parse where the pld_info_text fuzz target's second reading of the
// rules does not reach: a closing delimiter before the opening one, and the PLD's name by the
// module's revision. Markers, delimiters, widths, placeholders and the end of the text are the
// fuzz target's.
#include "modlib/pld_info_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// All of a field's bytes, zeros included.
template <size_t N>
std::string Bytes(const char (&field)[N]) {
  return std::string(field, N);
}

// The expected bytes of a field: the value, then zeros to the width.
std::string Padded(const std::string& value, size_t width) {
  std::string out = value;
  out.resize(width, '\0');
  return out;
}

PldInfo Parse(const std::string& text, char revision = 'C') {
  PldInfo info;
  std::memset(&info, 0x5A, sizeof info);  // the parse must write every byte
  pld_info_text::ParsePldInfoText(text.data(), text.size(), revision, &info);
  return info;
}

// At most the field's width after the opening delimiter, never past the end of the text.
TEST(PldTextParse, ClosingDelimiterBeforeTheOpeningOne) {
  const struct {
    std::string text, version, created, comments;
  } rows[] = {
      {"<Version> x{0123456789AB", "0123456789", "????????", "Invalid Pld Comments"},
      {"<Version> {ab", "ab", "????????", "Invalid Pld Comments"},
      {"(build) xyz", "????????", "xyz", "Invalid Pld Comments"},
      {"<Comments>}{ab", "????????", "????????", "ab"},
  };
  for (const auto& r : rows) {
    const PldInfo info = Parse(r.text);
    EXPECT_EQ(Bytes(info.Version), Padded(r.version, 10)) << r.text;
    EXPECT_EQ(Bytes(info.Created), Padded(r.created, 14)) << r.text;
    EXPECT_EQ(Bytes(info.Comments), Padded(r.comments, 128)) << r.text;
  }
}

TEST(PldNameByRevision, NameFollowsRevision) {
  const std::pair<char, const char*> cases[] = {{'A', "ALTERA ACEX EP1K10TC144"},
                                                {'B', "ALTERA Cyclone EP1C3T144"},
                                                {'C', "ALTERA Cyclone IV EP4CE6E22"},
                                                {'D', "Unknown PLD type"},
                                                {'c', "Unknown PLD type"},
                                                {'\0', "Unknown PLD type"}};
  for (const auto& [revision, name] : cases) {
    const PldInfo info = Parse("<Version>{3.0.7c", revision);
    EXPECT_EQ(Bytes(info.PldName), Padded(name, 45)) << revision;
  }
}

}  // namespace
