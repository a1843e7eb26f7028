// The PLD information text parse over crafted texts: well-formed and damaged markers, values
// longer than their fields, delimiters in the wrong order, texts without a zero byte.
#include "modlib/pld_info_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A field's bytes as a string, all of them, zeros included.
template <size_t N>
std::string Bytes(const char (&field)[N]) {
  return std::string(field, N);
}

// The expected bytes of a field: the value, then zeros to the width.
std::string Padded(const std::string& value, size_t width) {
  std::string out = value.substr(0, width);
  out.resize(width, '\0');
  return out;
}

PldInfo Parse(const std::string& text, char revision = 'C') {
  std::vector<char> buffer(512, '\0');
  std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size()));
  PldInfo info;
  std::memset(&info, 0x5A, sizeof info);  // the parse must write every byte
  pld_info_text::ParsePldInfoText(buffer.data(), buffer.size(), revision, &info);
  return info;
}

struct TextCase {
  const char* label;
  std::string text;
  std::string version;  // the field's expected bytes before padding
  std::string created;
  std::string comments;
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

const std::string kComments128(128, 'k');

INSTANTIATE_TEST_SUITE_P(
    Texts, PldTextParse,
    testing::Values(
        TextCase{"Commercial",
                 "<Version>{3.0.7c (build Nov 12 2020)} <Comments>{R46-90 PLD configuration, "
                 "commercial grade}",
                 "3.0.7c", "Nov 12 2020", "R46-90 PLD configuration, commercial grade"},
        TextCase{"Empty", "", "????????", "????????", "Invalid Pld Comments"},
        TextCase{"NoVersionMarker", "{3.0.7c (build Nov 12 2020)} <Comments>{c}", "????????",
                 "Nov 12 2020", "c"},
        TextCase{"VersionWithoutBlank", "<Comments>{x} <Version>{3.0.7c", "????????", "????????",
                 "x"},
        TextCase{"VersionWithoutBrace", "<Version>3.0.7c (build Nov 12 2020)", "????????",
                 "Nov 12 2020", "Invalid Pld Comments"},
        TextCase{"NoBuildMarker", "<Version>{3.0.7i }", "3.0.7i", "????????",
                 "Invalid Pld Comments"},
        TextCase{"BuildWithoutParenthesis", "<Version>{1 (build Nov", "1", "????????",
                 "Invalid Pld Comments"},
        TextCase{"CommentsWithoutClosingBrace", "<Comments>{never closed", "????????", "????????",
                 "Invalid Pld Comments"},
        // Eleven digits then a blank: the first ten fill the field without a zero.
        TextCase{"VersionLongerThanField", "<Version>{12345678901 x", "1234567890", "????????",
                 "Invalid Pld Comments"},
        TextCase{"CreatedLongerThanField", "(build 123456789012345)", "????????", "12345678901234",
                 "Invalid Pld Comments"},
        TextCase{"CommentsFillField", "<Comments>{" + kComments128 + "zz}", "????????", "????????",
                 kComments128},
        // Empty values: the closing delimiter right after the opening one.
        TextCase{"EmptyVersion", "<Version>{ (build )", "", "", "Invalid Pld Comments"},
        TextCase{"EmptyComments", "<Comments>{}", "????????", "????????", ""},
        // The closing delimiter before the opening one: at most the field's width after the
        // opening delimiter, never past the end of the text.
        TextCase{"BlankBeforeBrace", "<Version> x{0123456789ABCDEF", "0123456789", "????????",
                 "Invalid Pld Comments"},
        TextCase{"BlankBeforeBraceAtEnd", "<Version> {ab", "ab", "????????",
                 "Invalid Pld Comments"},
        TextCase{"BraceLastByte", "<Version> {", "", "????????", "Invalid Pld Comments"},
        TextCase{"ParenthesisBeforeBlank", "(build) xyz", "????????", "xyz",
                 "Invalid Pld Comments"},
        TextCase{"ParenthesisBeforeBlankLong",
                 "(build)" + std::string(3, 'y') + " " + std::string(20, 'd'), "????????",
                 std::string(14, 'd'), "Invalid Pld Comments"},
        TextCase{"ClosingBraceBeforeOpening", "<Comments>}{ab", "????????", "????????", "ab"},
        // Delimiters are searched from where the marker begins, not only after it.
        TextCase{"FirstMarkerCounts", "<Version>{1.0 <Version>{2.0 ", "1.0", "????????",
                 "Invalid Pld Comments"},
        // Text after the first zero byte is not part of the text.
        TextCase{"StopsAtZero", std::string("<Version>{9.9", 13) + '\0' + " (build X)", "????????",
                 "????????", "Invalid Pld Comments"}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.label; });

// A text that fills all 512 bytes has no zero byte: the search stays within the 512 bytes even
// though the bytes that follow in memory would complete the value.
TEST(PldTextParseBounds, FullBufferWithoutZero) {
  std::vector<char> memory(600, 'x');
  const std::string head = "<Version>{";
  std::memcpy(memory.data() + 512 - head.size(), head.data(), head.size());
  memory[512] = ' ';  // a closing blank just past the text
  std::memcpy(memory.data() + 513, "(build ok)", 10);
  PldInfo info;
  pld_info_text::ParsePldInfoText(memory.data(), 512, 'C', &info);
  EXPECT_EQ(Bytes(info.Version), Padded("????????", 10));
  EXPECT_EQ(Bytes(info.Created), Padded("????????", 14));
}

// The text's last bytes open a value whose closing delimiter came earlier: the copy ends at the
// end of the text, which fills the whole 512 bytes.
TEST(PldTextParseBounds, ReversedDelimitersAtEndOfFullBuffer) {
  std::vector<char> memory(512, 'z');  // exactly the text: a read past it is caught
  std::memcpy(memory.data(), "<Comments>}", 11);
  memory[509] = '{';
  PldInfo info;
  pld_info_text::ParsePldInfoText(memory.data(), 512, 'C', &info);
  EXPECT_EQ(Bytes(info.Comments), Padded("zz", 128));
}

struct RevisionCase {
  char revision;
  const char* name;
};

class PldNameByRevision : public testing::TestWithParam<RevisionCase> {};

TEST_P(PldNameByRevision, NameFollowsRevision) {
  const PldInfo info = Parse("<Version>{3.0.7c (build Nov 12 2020)}", GetParam().revision);
  EXPECT_EQ(Bytes(info.PldName), Padded(GetParam().name, 45));
}

INSTANTIATE_TEST_SUITE_P(Revisions, PldNameByRevision,
                         testing::Values(RevisionCase{'A', "ALTERA ACEX EP1K10TC144"},
                                         RevisionCase{'B', "ALTERA Cyclone EP1C3T144"},
                                         RevisionCase{'C', "ALTERA Cyclone IV EP4CE6E22"},
                                         RevisionCase{'D', "Unknown PLD type"},
                                         RevisionCase{'c', "Unknown PLD type"},
                                         RevisionCase{'\0', "Unknown PLD type"}));

}  // namespace
