// Image selection: the MCU rule and PLD band driven from version texts, the PLD rule, and the
// PLD version parser, including fields that fill their whole width.
#include "updater/selection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "images/image_names.h"
#include "modlib/records.h"

namespace updater {
namespace {

std::string NameOf(const char* image) {
  return image == nullptr ? "none" : image;
}

// Versions given as the texts the module reports, converted as the update converts them.
struct McuCase {
  bool app;
  const char* fw;  // "" when no application (the description stays zero)
  const char* bl;
  const char* expected;  // image name or "none"
};

class McuRule : public testing::TestWithParam<McuCase> {};

TEST_P(McuRule, ChoosesImage) {
  const McuCase& c = GetParam();
  FirmwareDescription firmware = {};
  BootLoaderDescription bootLoader = {};
  SetFieldText(firmware.Version, c.fw);
  SetFieldText(bootLoader.Version, c.bl);
  const double fw = VersionNumber(firmware.Version, sizeof firmware.Version);
  const double bl = VersionNumber(bootLoader.Version, sizeof bootLoader.Version);
  EXPECT_EQ(NameOf(ChooseMcuImage(c.app, fw, bl)), c.expected)
      << "app=" << c.app << " fw=" << c.fw << " bl=" << c.bl;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, McuRule,
    testing::Values(
        McuCase{false, "", "1.0", "R4690A_APPL"}, McuCase{false, "", "2.1", "R4690B_APPL"},
        McuCase{false, "", "3.5", "R4690C_APPL"}, McuCase{false, "", "4.0", "none"},
        McuCase{false, "", "0.9", "none"},
        // Without an application the band's image is chosen whatever its keep threshold.
        McuCase{false, "", "1.99", "R4690A_APPL"}, McuCase{false, "", "3.9", "R4690C_APPL"},
        // "any" boot loader: the application's version decides alone.
        McuCase{true, "1.7", "0", "R4690A_APPL"}, McuCase{true, "1.7", "3.5", "R4690A_APPL"},
        McuCase{true, "1.79", "2.0", "R4690A_APPL"}, McuCase{true, "1.8", "1.0", "none"},
        McuCase{true, "1.8", "0", "none"}, McuCase{true, "2.4", "3.0", "R4690B_APPL"},
        McuCase{true, "2.5", "2.0", "none"}, McuCase{true, "3.19", "1.0", "R4690C_APPL"},
        McuCase{true, "3.2", "3.0", "none"}, McuCase{true, "0", "3.0", "R4690C_APPL"},
        McuCase{true, "5.0", "3.0", "none"}, McuCase{true, "5.0", "0", "none"},
        McuCase{true, "1.9999", "1.0", "R4690B_APPL"},
        // V that lands exactly on a keep threshold keeps the application.
        McuCase{true, "1.7999", "1.0", "none"}, McuCase{true, "2.4999", "1.0", "none"},
        McuCase{true, "3.1999", "1.0", "none"},
        // At a band's lower limit after the margin, or below band A with an application that
        // is no fallback: no band.
        McuCase{true, "0.9998", "3.0", "none"}, McuCase{true, "0.5", "3.0", "none"},
        // A version text that reads as 0 or below falls back to the boot loader.
        McuCase{true, "-1.0", "2.0", "R4690B_APPL"}, McuCase{true, "x1.5", "1.0", "R4690A_APPL"},
        // Only the boot loader's low 8 bits count: 259 is 3, -253 is 3, 256 is 0.
        McuCase{false, "", "259.7", "R4690C_APPL"}, McuCase{false, "", "-253.5", "R4690C_APPL"},
        McuCase{false, "", "256.0", "none"}, McuCase{false, "", "", "none"}));

TEST(VersionNumber, ReadsLeadingNumberWithinWidth) {
  struct Row {
    const char* text;
    size_t width;
    double expected;
  };
  const Row rows[] = {
      {"1.7", 10, 1.7},    {"3.19abc", 10, 3.19}, {"", 10, 0.0},
      {"abc", 10, 0.0},    {"  2.5", 10, 2.5},    {"-1.5", 10, -1.5},
      {"12345", 3, 123.0}, {"3.5", 0, 0.0},       {"1.2.3", 10, 1.2},
  };
  for (const Row& r : rows) {
    EXPECT_DOUBLE_EQ(VersionNumber(r.text, r.width), r.expected) << r.text << "/" << r.width;
  }
}

TEST(VersionNumber, FullFieldDoesNotRunIntoTheNextField) {
  // Ten characters fill Version; the digits of Created follow with no zero byte between.
  FirmwareDescription firmware = {};
  std::memcpy(firmware.Version, "3.19000000", 10);
  std::memcpy(firmware.Created, "12345", 5);
  EXPECT_DOUBLE_EQ(VersionNumber(firmware.Version, sizeof firmware.Version), 3.19);

  BootLoaderDescription bootLoader = {};
  std::memcpy(bootLoader.Version, "1234567890", 10);
  std::memcpy(bootLoader.Created, "999", 3);
  EXPECT_DOUBLE_EQ(VersionNumber(bootLoader.Version, sizeof bootLoader.Version), 1234567890.0);
}

TEST(PldBand, MajorVersionThreeOnly) {
  const struct {
    double bl;
    bool inBand;
  } rows[] = {{2.9999, false}, {3.0, true},  {3.9, true},  {3.9999, false},
              {4.0, false},    {0.0, false}, {-3.5, false}};
  for (const auto& r : rows) EXPECT_EQ(InPldBand(r.bl), r.inBand) << r.bl;
}

TEST(PldRule, ChoosesImage) {
  const struct {
    const char* text;  // null: the PLD was not read
    uint32_t number;
    uint8_t pldGrade;
    uint8_t moduleGrade;
    const char* expected;
  } rows[] = {
      {"3.0.7c", 0x30007, 0, 0, "none"},        {"3.0.7c", 0x30007, 0, 1, "R4690CI_PLD"},
      {"3.0.7i", 0x30007, 1, 0, "R4690CC_PLD"}, {"3.0.7i", 0x30007, 1, 1, "none"},
      {"3.0.6c", 0x30006, 0, 0, "R4690CC_PLD"}, {"3.0.8i", 0x30008, 1, 1, "R4690CI_PLD"},
      {nullptr, 0, 0, 1, "R4690CI_PLD"},        {nullptr, 0, 0, 0, "R4690CC_PLD"},
  };
  for (const auto& r : rows) {
    uint32_t number = 0;
    uint8_t pldGrade = 0;
    if (r.text != nullptr) {
      ASSERT_TRUE(GetPldVersionNumber(r.text, &number, &pldGrade)) << r.text;
    }
    ASSERT_EQ(number, r.number);
    ASSERT_EQ(pldGrade, r.pldGrade);
    EXPECT_EQ(NameOf(ChoosePldImage(number, r.moduleGrade, pldGrade)), r.expected)
        << (r.text ? r.text : "not read") << " TG=" << int(r.moduleGrade);
  }
  // No image exists for a grade the update refuses.
  EXPECT_EQ(ChoosePldImage(0x30006, 2, 0), nullptr);
}

constexpr uint8_t kUntouched = 0xAA;

struct PldVersionCase {
  const char* text;
  bool ok;
  uint32_t number;  // 0 on failure
  uint8_t grade;    // kUntouched on failure
};

class PldVersion : public testing::TestWithParam<PldVersionCase> {};

TEST_P(PldVersion, Parses) {
  const PldVersionCase& c = GetParam();
  uint32_t number = 0xDEADBEEF;
  uint8_t grade = kUntouched;
  EXPECT_EQ(GetPldVersionNumber(c.text, &number, &grade), c.ok);
  EXPECT_EQ(number, c.number);
  EXPECT_EQ(grade, c.grade);

  // Without a grade output only the number is produced.
  uint32_t numberOnly = 0xDEADBEEF;
  EXPECT_EQ(GetPldVersionNumber(c.text, &numberOnly, nullptr), c.ok);
  EXPECT_EQ(numberOnly, c.number);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PldVersion,
    testing::Values(
        PldVersionCase{"3.0.7c", true, 0x30007, 0}, PldVersionCase{"3.0.7i", true, 0x30007, 1},
        PldVersionCase{"3.0.7", true, 0x30007, 2}, PldVersionCase{"12.3.45", true, 0x0C032D, 2},
        PldVersionCase{"10.2.7c", true, 0x0A0207, 0}, PldVersionCase{"3.0.7ci", true, 0x30007, 0},
        PldVersionCase{"3.0.7ic", true, 0x30007, 0}, PldVersionCase{"3.0.7C", true, 0x30007, 2},
        PldVersionCase{"3.0.7I", true, 0x30007, 2}, PldVersionCase{"1.2.3.4", true, 0x010203, 2},
        PldVersionCase{"0.0.0c", false, 0, kUntouched},
        PldVersionCase{"0.0.0", false, 0, kUntouched},
        PldVersionCase{"256.0.0", false, 0, kUntouched},
        PldVersionCase{"3.0", false, 0, kUntouched}, PldVersionCase{"3", false, 0, kUntouched},
        PldVersionCase{"", false, 0, kUntouched},
        PldVersionCase{"1234567.0.7", false, 0, kUntouched},
        PldVersionCase{"1.1234567.7", false, 0, kUntouched},
        PldVersionCase{"..1234567", false, 0, kUntouched},
        PldVersionCase{"..123456", true, 0x000040, 2},
        PldVersionCase{"123456.0.7", true, 0x400007, 2}, PldVersionCase{"3..7", true, 0x030007, 2},
        PldVersionCase{"1.2.3456789", true, 0x01024E, 2},
        // Letters in the first two components do not set the grade.
        PldVersionCase{"3c.0.7", true, 0x30007, 2},
        // Blanks and signs as the integer conversion reads them.
        PldVersionCase{" 3. 0.+7i", true, 0x30007, 1}, PldVersionCase{"-1.0.0", true, 0xFF0000, 2},
        PldVersionCase{"x.y.zc", false, 0, kUntouched}));

TEST(PldVersion, FullFieldIsReadNoFurther) {
  // "1.2.345678" fills Version; the "9" of Created must not join the build component.
  PldInfo info = {};
  std::memcpy(info.Version, "1.2.345678", 10);
  std::memcpy(info.Created, "9i", 2);
  uint32_t number = 0;
  uint8_t grade = kUntouched;
  ASSERT_TRUE(GetPldVersionNumber(info.Version, &number, &grade));
  EXPECT_EQ(number, 0x01024Eu);
  EXPECT_EQ(grade, 2);
}

TEST(PldVersion, NumberOutputIsRequired) {
  uint8_t grade = kUntouched;
  EXPECT_FALSE(GetPldVersionNumber("3.0.7c", nullptr, &grade));
  EXPECT_EQ(grade, kUntouched);
}

}  // namespace
}  // namespace updater
