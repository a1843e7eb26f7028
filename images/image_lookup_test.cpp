// The embedded images as the update sequence finds them: each name resolves to exactly the
// committed bytes, the MCU images carry their description and vector table where the module
// expects them, the PLD images have the framing the PLD's loader needs and no readable text.
#include "images/image_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "images/committed_images_for_test.h"
#include "images/image_names.h"
#include "modlib/records.h"

namespace {

using images::ImageRange;
using images::LookupImage;
using images::LookupStep;

std::vector<uint8_t> Bytes(const ImageRange& r) {
  return {r.data, r.data + r.size};
}

uint16_t WordAt(const std::vector<uint8_t>& b, size_t offset) {
  return static_cast<uint16_t>(b[offset] | (b[offset + 1] << 8));
}

template <size_t N>
void ExpectZeroFilled(const char (&field)[N], const char* label) {
  const size_t used = FieldText(field).size();
  ASSERT_LT(used, N) << label << " has no terminating zero";
  for (size_t i = used; i < N; ++i) EXPECT_EQ(field[i], '\0') << label << " byte " << i;
}

struct SizeCase {
  const char* name;
  uint32_t size;
};

class ImageSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(ImageSizeTest, ResolvesToExactlyTheCommittedBytes) {
  const ImageRange r = LookupImage(GetParam().name);
  ASSERT_EQ(r.failedStep, LookupStep::kNone);
  ASSERT_NE(r.data, nullptr);
  EXPECT_EQ(r.size, GetParam().size);
  EXPECT_EQ(Bytes(r), images_test::ReadCommittedImage(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(AllImages, ImageSizeTest,
                         testing::Values(SizeCase{images::kR4690A_APPL, 12288},
                                         SizeCase{images::kR4690B_APPL, 12288},
                                         SizeCase{images::kR4690C_APPL, 8192},
                                         SizeCase{images::kR4690CC_PLD, 122223},
                                         SizeCase{images::kR4690CI_PLD, 122006}),
                         [](const auto& info) { return std::string(info.param.name); });

struct McuCase {
  const char* name;
  uint32_t descriptionOffset;
  const char* version;
  const char* created;
  char revision;
};

class McuImageTest : public testing::TestWithParam<McuCase> {
 protected:
  void SetUp() override {
    const ImageRange r = LookupImage(GetParam().name);
    ASSERT_EQ(r.failedStep, LookupStep::kNone);
    image_ = Bytes(r);
    ASSERT_EQ(image_.size(), GetParam().descriptionOffset + 256u);
  }
  std::vector<uint8_t> image_;
};

TEST_P(McuImageTest, DescriptionBlockParsesBack) {
  const McuCase& c = GetParam();
  FirmwareDescription d;
  std::memcpy(&d, image_.data() + c.descriptionOffset, sizeof d);
  EXPECT_EQ(FieldText(d.McuName), "AVR ATmega162");
  EXPECT_EQ(FieldText(d.Version), c.version);
  EXPECT_EQ(FieldText(d.Created), c.created);
  EXPECT_EQ(FieldText(d.Manufacturer), "Tevron Ltd.");
  EXPECT_FALSE(FieldText(d.Author).empty());
  // "Standard firmware of the R46-90 module for hardware revision X", code page 1251.
  const std::string comments =
      std::string(
          "\xd1\xf2\xe0\xed\xe4\xe0\xf0\xf2\xed\xe0\xff \xef\xf0\xee\xf8\xe8\xe2\xea\xe0 "
          "\xec\xee\xe4\xf3\xeb\xff R46-90 \xe4\xeb\xff \xe0\xef\xef\xe0\xf0\xe0\xf2\xed"
          "\xee\xe9 \xf0\xe5\xe2\xe8\xe7\xe8\xe8 ") +
      c.revision;
  EXPECT_EQ(FieldText(d.Comments), comments);

  // Every field is zero-terminated and zero-filled, and the block ends in 29 zero bytes.
  ExpectZeroFilled(d.McuName, "McuName");
  ExpectZeroFilled(d.Version, "Version");
  ExpectZeroFilled(d.Created, "Created");
  ExpectZeroFilled(d.Manufacturer, "Manufacturer");
  ExpectZeroFilled(d.Author, "Author");
  ExpectZeroFilled(d.Comments, "Comments");
  for (size_t i = c.descriptionOffset + sizeof d; i < image_.size(); ++i)
    EXPECT_EQ(image_[i], 0) << "offset " << i;
}

TEST_P(McuImageTest, VectorTableIsTwentyEightJumps) {
  const uint32_t codeWords = GetParam().descriptionOffset / 2;
  uint16_t defaultHandler = 0;
  for (size_t entry = 0; entry < 28; ++entry) {
    EXPECT_EQ(WordAt(image_, entry * 4), 0x940C) << "entry " << entry;  // JMP, target < 64 Ki
    const uint16_t target = WordAt(image_, entry * 4 + 2);
    if (entry == 0) {
      EXPECT_EQ(target, 112 / 2) << "reset starts right after the table";
    } else {
      if (entry == 1) defaultHandler = target;
      EXPECT_EQ(target, defaultHandler) << "entry " << entry;
      EXPECT_GT(target, 112 / 2);
      EXPECT_LT(target, codeWords);
    }
  }
}

TEST_P(McuImageTest, CodeFollowsTableAndUserAreaIsZero) {
  const uint32_t at = GetParam().descriptionOffset;
  // Start-up code right after the table clears the zero register: EOR r1,r1.
  EXPECT_EQ(WordAt(image_, 112), 0x2411);
  // The 512 bytes before the description are the module's user flash area: left empty.
  for (uint32_t i = at - 512; i < at; ++i) ASSERT_EQ(image_[i], 0) << "offset " << i;
}

INSTANTIATE_TEST_SUITE_P(
    McuImages, McuImageTest,
    testing::Values(McuCase{images::kR4690A_APPL, 0x2F00, "1.8", "Oct 31 2008", 'A'},
                    McuCase{images::kR4690B_APPL, 0x2F00, "2.5", "Nov 11 2020", 'B'},
                    McuCase{images::kR4690C_APPL, 0x1F00, "3.2", "Nov 12 2020", 'C'}),
    [](const auto& info) { return std::string(info.param.name); });

class PldImageTest : public testing::TestWithParam<const char*> {};

bool IsTextByte(uint8_t b) {
  return (b >= 0x20 && b < 0x7F) || b == '\t';
}

TEST_P(PldImageTest, FramedAndFreeOfText) {
  const ImageRange r = LookupImage(GetParam());
  ASSERT_EQ(r.failedStep, LookupStep::kNone);
  const std::vector<uint8_t> b = Bytes(r);
  ASSERT_GT(b.size(), 33u + 74u);

  for (size_t i = 0; i < 32; ++i) ASSERT_EQ(b[i], 0xFF) << "offset " << i;
  EXPECT_EQ(b[32], 0x6A);

  size_t trailing = 0;
  while (trailing < b.size() && b[b.size() - 1 - trailing] == 0xFF) ++trailing;
  EXPECT_EQ(trailing, 74u);

  size_t run = 0, longest = 0, longestEnd = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    run = IsTextByte(b[i]) ? run + 1 : 0;
    if (run > longest) longest = run, longestEnd = i;
  }
  EXPECT_LT(longest, 4u) << "text run ending at offset " << longestEnd;
}

INSTANTIATE_TEST_SUITE_P(PldImages, PldImageTest,
                         testing::Values(images::kR4690CC_PLD, images::kR4690CI_PLD),
                         [](const auto& info) { return std::string(info.param); });

TEST(PldImages, DifferBetweenGrades) {
  EXPECT_NE(Bytes(LookupImage(images::kR4690CC_PLD)), Bytes(LookupImage(images::kR4690CI_PLD)));
}

TEST(LookupImage, NamesCompareWithoutCase) {
  const ImageRange lower = LookupImage("r4690cc_pld");
  ASSERT_EQ(lower.failedStep, LookupStep::kNone);
  EXPECT_EQ(lower.data, LookupImage(images::kR4690CC_PLD).data);
}

TEST(LookupImage, UnknownNamesFailAtFindResource) {
  for (const char* name : {"R4690D_APPL", "R4690A_APP", "R4690A_APPL_", "R4690CC", "", "#10"}) {
    const ImageRange r = LookupImage(name);
    EXPECT_EQ(r.failedStep, LookupStep::kFindResource) << name;
    EXPECT_EQ(r.data, nullptr) << name;
    EXPECT_EQ(r.size, 0u) << name;
  }
}

}  // namespace
