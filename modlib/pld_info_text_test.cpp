// The PLD information text parse over crafted texts: well-formed and damaged markers, values
// longer than their fields, delimiters in the wrong order, texts without a zero byte.
#include "modlib/pld_info_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

// Parses `text` as the first bytes of a 512-byte buffer that ends in zeros; memory holds
// `size` bytes, so the sanitizer build catches a read past them.
PldInfo Parse(const std::string& text, char revision = 'C', size_t size = 512) {
  std::vector<char> memory(size, '\0');
  std::memcpy(memory.data(), text.data(), std::min(text.size(), size));
  PldInfo info;
  std::memset(&info, 0x5A, sizeof info);  // the parse must write every byte
  pld_info_text::ParsePldInfoText(memory.data(), 512, revision, &info);
  return info;
}

const std::string kUnknown = "????????";
const std::string kNoComments = "Invalid Pld Comments";
const std::string k128(128, 'k');

struct TextCase {
  const char* label;
  std::string text, version, created, comments;  // the fields' expected bytes before padding
};

class PldTextParse : public testing::TestWithParam<TextCase> {};

TEST_P(PldTextParse, FieldsFollowTheText) {
  const TextCase& c = GetParam();
  const PldInfo info = Parse(c.text);
  EXPECT_EQ(Bytes(info.Version), Padded(c.version, 10));
  EXPECT_EQ(Bytes(info.Created), Padded(c.created, 14));
  EXPECT_EQ(Bytes(info.Comments), Padded(c.comments, 128));
  EXPECT_EQ(Bytes(info.Manufacturer), Padded("Tevron Ltd.", 25));
  EXPECT_EQ(Bytes(info.Author), Padded("Dorvanov K.E.", 25));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, PldTextParse, testing::Values(
  TextCase{"Commercial", "<Version>{3.0.7c (build Nov 12 2020)} <Comments>{R46-90 PLD "
           "configuration, commercial grade}", "3.0.7c", "Nov 12 2020",
           "R46-90 PLD configuration, commercial grade"},
  // missing markers and delimiters
  TextCase{"Empty", "", kUnknown, kUnknown, kNoComments},
  TextCase{"NoVersionMarker", "{3.0.7c (build May 1)} <Comments>{c}", kUnknown, "May 1", "c"},
  TextCase{"VersionWithoutBrace", "<Version>3.0.7c (build May 1)", kUnknown, "May 1", kNoComments},
  TextCase{"NoBuildMarker", "<Version>{3.0.7i }", "3.0.7i", kUnknown, kNoComments},
  TextCase{"CommentsNeverClosed", "<Comments>{never closed", kUnknown, kUnknown, kNoComments},
  // values longer than their fields fill them without a terminator
  TextCase{"VersionTooLong", "<Version>{12345678901 x", "1234567890", kUnknown, kNoComments},
  TextCase{"CreatedTooLong", "(build 123456789012345)", kUnknown, "12345678901234", kNoComments},
  TextCase{"CommentsTooLong", "<Comments>{" + k128 + "zz}", kUnknown, kUnknown, k128},
  // empty values: the closing delimiter right after the opening one
  TextCase{"EmptyVersionAndCreated", "<Version>{ (build )", "", "", kNoComments},
  TextCase{"EmptyComments", "<Comments>{}", kUnknown, kUnknown, ""},
  // the closing delimiter before the opening one: at most the field's width after the opening
  // delimiter, never past the end of the text
  TextCase{"BlankBeforeBrace", "<Version> x{0123456789AB", "0123456789", kUnknown, kNoComments},
  TextCase{"BlankBeforeBraceAtEnd", "<Version> {ab", "ab", kUnknown, kNoComments},
  TextCase{"ParenthesisBeforeBlank", "(build) xyz", kUnknown, "xyz", kNoComments},
  TextCase{"ClosingBraceBeforeOpening", "<Comments>}{ab", kUnknown, kUnknown, "ab"},
  // text after the first zero byte is not part of the text
  TextCase{"StopsAtZero", std::string("<Version>{9.9\0 (build X)", 24), kUnknown, kUnknown,
           kNoComments}),
  [](const testing::TestParamInfo<TextCase>& info) { return info.param.label; });
// clang-format on

// A text that fills all 512 bytes has no zero byte: the search stays within them even though
// the bytes that follow in memory would complete the values, and a value opened at the end
// ends there.
TEST(PldTextParseBounds, FullBufferWithoutZero) {
  std::string text(600, 'x');
  text.replace(512 - 10, 10, "<Version>{");
  text.replace(512, 11, " (build ok)");
  PldInfo info = Parse(text, 'C', 600);
  EXPECT_EQ(Bytes(info.Version), Padded(kUnknown, 10));
  EXPECT_EQ(Bytes(info.Created), Padded(kUnknown, 14));

  text.assign(512, 'z');
  text.replace(0, 11, "<Comments>}");
  text[509] = '{';
  info = Parse(text, 'C', 512);
  EXPECT_EQ(Bytes(info.Comments), Padded("zz", 128));
}

TEST(PldNameByRevision, NameFollowsRevision) {
  const std::pair<char, const char*> cases[] = {{'A', "ALTERA ACEX EP1K10TC144"},
                                                {'B', "ALTERA Cyclone EP1C3T144"},
                                                {'C', "ALTERA Cyclone IV EP4CE6E22"},
                                                {'D', "Unknown PLD type"},
                                                {'c', "Unknown PLD type"},
                                                {'\0', "Unknown PLD type"}};
  for (const auto& [revision, name] : cases) {
    EXPECT_EQ(Bytes(Parse("<Version>{3.0.7c", revision).PldName), Padded(name, 45)) << revision;
  }
}

}  // namespace
