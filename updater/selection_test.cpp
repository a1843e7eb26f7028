// Image selection: the MCU rule and PLD band driven from version texts, the PLD rule, and the
// PLD version parser. Fields that fill their whole width, and the parser without its grade or its
// number output, are the version_texts fuzz target's. That each embedded image is chosen for its
// module and then kept is the end-to-end cases mcu_only_revision_a, _b, _c and pld_only_commercial,
// pld_only_industrial, whose second runs write nothing.
#include "updater/selection.h"

#include <gtest/gtest.h>

#include <string>

namespace updater {
namespace {

std::string NameOf(const char* image) {
  return image == nullptr ? "none" : image;
}

// V landing exactly on a keep threshold (1.7999, 2.4999, 3.1999) keeps the application; without
// one, the band's image is chosen whatever the threshold (1.99). V at a band's lower limit
// (0.9998) is in no band. A version text reading as 0 or below falls back to the boot loader's
// low 8 bits.
TEST(McuRule, ChoosesImage) {
  const struct {
    const char *fw, *bl;  // fw null without an application
    char image;           // R4690<image>_APPL, '-' for none
  } rows[] = {
      {nullptr, "1.0", 'A'},   {nullptr, "2.1", 'B'},   {nullptr, "3.5", 'C'},
      {nullptr, "4.0", '-'},   {nullptr, "0.9", '-'},   {"1.7", "3.5", 'A'},
      {"1.79", "2.0", 'A'},    {"1.8", "1.0", '-'},     {"2.4", "3.0", 'B'},
      {"2.5", "2.0", '-'},     {"3.19", "1.0", 'C'},    {"3.2", "3.0", '-'},
      {"0", "3.0", 'C'},       {"5.0", "3.0", '-'},     {"1.9999", "1.0", 'B'},
      {"1.7999", "1.0", '-'},  {"2.4999", "1.0", '-'},  {"3.1999", "1.0", '-'},
      {nullptr, "1.99", 'A'},  {"0.9998", "3.0", '-'},  {"-1.0", "2.0", 'B'},
      {"x1.5", "1.0", 'A'},    {nullptr, "259.7", 'C'}, {nullptr, "-253.5", 'C'},
      {nullptr, "256.0", '-'},
  };
  for (const auto& r : rows) {
    const bool app = r.fw != nullptr;
    const double fw = VersionNumber(app ? r.fw : "", 10), bl = VersionNumber(r.bl, 10);
    EXPECT_EQ(NameOf(ChooseMcuImage(app, fw, bl)),
              r.image == '-' ? "none" : std::string("R4690") + r.image + "_APPL")
        << "fw=" << (app ? r.fw : "none") << " bl=" << r.bl;
  }
}

TEST(PldBand, MajorVersionThreeOnly) {
  const struct {
    double bl;
    bool inBand;
  } rows[] = {{2.9999, false}, {3.0, true}, {3.9, true}, {3.9999, false}, {4.0, false}};
  for (const auto& r : rows) EXPECT_EQ(InPldBand(r.bl), r.inBand) << r.bl;
}

TEST(PldRule, ChoosesImage) {
  const struct {
    uint32_t number;  // 0: the PLD was not read
    uint8_t pldGrade, moduleGrade;
    const char* expected;
  } rows[] = {
      {0x30007, 0, 0, "none"},  {0x30007, 0, 1, "R4690CI_PLD"}, {0x30007, 1, 0, "R4690CC_PLD"},
      {0x30007, 1, 1, "none"},  {0x30006, 0, 0, "R4690CC_PLD"}, {0x30008, 1, 1, "R4690CI_PLD"},
      {0, 0, 1, "R4690CI_PLD"}, {0, 0, 0, "R4690CC_PLD"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(NameOf(ChoosePldImage(r.number, r.moduleGrade, r.pldGrade)), r.expected)
        << std::hex << r.number << " PG=" << int(r.pldGrade) << " TG=" << int(r.moduleGrade);
  }
}

constexpr uint8_t kUntouched = 0xAA;

TEST(PldVersion, Parses) {
  const struct {
    const char* text;
    uint32_t number;  // 0: the parse fails
    uint8_t grade;    // kUntouched on failure
  } rows[] = {
      {"3.0.7c", 0x30007, 0},         {"3.0.7i", 0x30007, 1},         {"3.0.7", 0x30007, 2},
      {"12.3.45", 0x0C032D, 2},       {"10.2.7c", 0x0A0207, 0},       {"3.0.7ci", 0x30007, 0},
      {"3.0.7C", 0x30007, 2},         {"1.2.3.4", 0x010203, 2},       {"3..7", 0x030007, 2},
      {"1.2.3456789", 0x01024E, 2},   {"123456.0.7", 0x400007, 2},    {"3c.0.7", 0x30007, 2},
      {" 3. 0.+7i", 0x30007, 1},      {"-1.0.0", 0xFF0000, 2},        {"0.0.0c", 0, kUntouched},
      {"0.0.0", 0, kUntouched},       {"256.0.0", 0, kUntouched},     {"3.0", 0, kUntouched},
      {"3", 0, kUntouched},           {"1234567.0.7", 0, kUntouched}, {"..1234567", 0, kUntouched},
      {"1.1234567.7", 0, kUntouched},
  };
  for (const auto& r : rows) {
    uint32_t number = 0xDEADBEEF;
    uint8_t grade = kUntouched;
    EXPECT_EQ(GetPldVersionNumber(r.text, &number, &grade), r.number != 0) << r.text;
    EXPECT_EQ(number, r.number) << r.text;
    EXPECT_EQ(grade, r.grade) << r.text;
  }
}

}  // namespace
}  // namespace updater
