// The embedded images as the update sequence finds them: each name resolves to exactly the
// committed bytes, the MCU images carry their description and vector table where the module
// expects them, the PLD images have the framing the PLD's loader needs and no readable text;
// and the resource functions underneath fail as Windows' do.
#include "images/image_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "contract/little_endian.h"
#include "images/image_list.h"
#include "images/testing/committed_images.h"
#include "modlib/records.h"
#include "platform/win32.h"

namespace {

using images::LookupImage;
using images::LookupStep;

// The bytes that the lookup finds for name (none when it fails).
std::vector<uint8_t> Image(const char* name) {
  const images::ImageRange r = LookupImage(name);
  EXPECT_EQ(r.failedStep, LookupStep::kNone) << name;
  return r.data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(r.data, r.data + r.size);
}

uint16_t WordAt(const std::vector<uint8_t>& b, size_t offset) {
  return little_endian::Load16(b.data() + offset);
}

struct SizeCase {
  const char* name;
  uint32_t size;
};

class ImageSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(ImageSizeTest, ResolvesToExactlyTheCommittedBytes) {
  const std::vector<uint8_t> image = Image(GetParam().name);
  EXPECT_EQ(image.size(), GetParam().size);
  EXPECT_EQ(image, images_test::ReadCommittedImage(GetParam().name));
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

class McuImageTest : public testing::TestWithParam<McuCase> {};

TEST_P(McuImageTest, DescriptionParsesBackAndVectorsAreTwentyEightJumps) {
  const McuCase& c = GetParam();
  const std::vector<uint8_t> image = Image(c.name);
  ASSERT_EQ(image.size(), c.descriptionOffset + 256u);
  FirmwareDescription d;
  std::memcpy(&d, image.data() + c.descriptionOffset, sizeof d);
  EXPECT_EQ(FieldText(d.McuName), "AVR ATmega162");
  EXPECT_EQ(FieldText(d.Version), c.version);
  EXPECT_EQ(FieldText(d.Created), c.created);
  EXPECT_EQ(FieldText(d.Manufacturer), "Tevron Ltd.");
  EXPECT_FALSE(FieldText(d.Author).empty());
  // "Standard firmware of the R46-90 module for hardware revision X", code page 1251.
  EXPECT_EQ(FieldText(d.Comments),
            std::string("\xd1\xf2\xe0\xed\xe4\xe0\xf0\xf2\xed\xe0\xff \xef\xf0\xee\xf8\xe8\xe2\xea"
                        "\xe0 \xec\xee\xe4\xf3\xeb\xff R46-90 \xe4\xeb\xff \xe0\xef\xef\xe0\xf0\xe0"
                        "\xf2\xed\xee\xe9 \xf0\xe5\xe2\xe8\xe7\xe8\xe8 ") +
                c.revision);

  // JMP (target below 64 Ki words) on every vector: reset to the code right after the table,
  // which starts by clearing the zero register (EOR r1,r1); the others to one default handler.
  const uint16_t defaultHandler = WordAt(image, 6);
  EXPECT_GT(defaultHandler, 112 / 2);
  EXPECT_LT(defaultHandler, c.descriptionOffset / 2);
  for (size_t entry = 0; entry < 28; ++entry) {
    EXPECT_EQ(WordAt(image, entry * 4), 0x940C) << "entry " << entry;
    EXPECT_EQ(WordAt(image, entry * 4 + 2), entry == 0 ? 112 / 2 : defaultHandler) << entry;
  }
  EXPECT_EQ(WordAt(image, 112), 0x2411);
  // The 512 bytes before the description are the module's user flash area: left empty.
  EXPECT_TRUE(
      std::all_of(image.end() - 256 - 512, image.end() - 256, [](uint8_t b) { return !b; }));
}

INSTANTIATE_TEST_SUITE_P(
    McuImages, McuImageTest,
    testing::Values(McuCase{images::kR4690A_APPL, 0x2F00, "1.8", "Oct 31 2008", 'A'},
                    McuCase{images::kR4690B_APPL, 0x2F00, "2.5", "Nov 11 2020", 'B'},
                    McuCase{images::kR4690C_APPL, 0x1F00, "3.2", "Nov 12 2020", 'C'}),
    [](const auto& info) { return std::string(info.param.name); });

class PldImageTest : public testing::TestWithParam<const char*> {};

TEST_P(PldImageTest, FramedAndFreeOfText) {
  const std::vector<uint8_t> b = Image(GetParam());
  ASSERT_GT(b.size(), 33u + 74u);
  const auto isFf = [](uint8_t x) { return x == 0xFF; };
  EXPECT_TRUE(std::all_of(b.begin(), b.begin() + 32, isFf));
  EXPECT_EQ(b[32], 0x6A);
  EXPECT_EQ(std::find_if_not(b.rbegin(), b.rend(), isFf) - b.rbegin(), 74);
  size_t run = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    run = (b[i] >= 0x20 && b[i] < 0x7F) || b[i] == '\t' ? run + 1 : 0;
    ASSERT_LT(run, 4u) << "text run ending at offset " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(PldImages, PldImageTest,
                         testing::Values(images::kR4690CC_PLD, images::kR4690CI_PLD),
                         [](const auto& info) { return std::string(info.param); });

TEST(LookupImage, UnknownNamesFailAtFindResource) {
  for (const char* name : {"R4690D_APPL", "R4690A_APP", "R4690A_APPL_", "R4690CC", ""}) {
    const images::ImageRange r = LookupImage(name);
    EXPECT_EQ(r.failedStep, LookupStep::kFindResource) << name;
    EXPECT_EQ(r.data, nullptr) << name;
    EXPECT_EQ(r.size, 0u) << name;
  }
}

// The resource functions underneath, with the errors that Windows gives: the cross-built tests
// hold the real Windows functions to the same.
TEST(ResourceServices, FindLoadLockAndSizeAsOnWindows) {
  const struct {
    LPCSTR name, type;
    DWORD error;
  } misses[] = {
      {"NO_SUCH_IMAGE", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
      {images::kR4690A_APPL, MAKEINTRESOURCEA(77), ERROR_RESOURCE_TYPE_NOT_FOUND},
      {images::kR4690A_APPL, "NO_SUCH_TYPE", ERROR_RESOURCE_TYPE_NOT_FOUND},
  };
  for (const auto& m : misses) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceA(nullptr, m.name, m.type), nullptr);
    EXPECT_EQ(GetLastError(), m.error);
  }
  // "#10" is RT_RCDATA written as a string; lower case finds the upper-case name.
  HRSRC resource = FindResourceA(nullptr, "r4690c_appl", "#10");
  ASSERT_NE(resource, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, resource), 8192u);
  EXPECT_EQ(LockResource(LoadResource(nullptr, resource)), LookupImage(images::kR4690C_APPL).data);
}

}  // namespace
