// Fuzz target: the version texts of the module's records and the two rules that choose the images
// from them. VersionNumber and GetPldVersionNumber read copies of a field exactly as wide as the
// field, unterminated when the text fills it (AddressSanitizer stops a read past the field), and
// must agree with a second reading of their rules written here; bytes beyond the field must not
// matter. The MCU rule, the PLD band and the PLD rule must agree with their tables, written here
// too, for every version those readings give.
//
// Input: up to three lines, the firmware version, the boot-loader version and the PLD version.
#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "images/image_list.h"
#include "tests/fuzz/fuzz_check.h"
#include "updater/selection.h"

namespace {

constexpr size_t kVersionWidth = 10;  // the Version field of every record

// A field of exactly `width` bytes in a block of its own: `text` cut to the width, then zero bytes;
// without a terminator when the text fills it.
std::unique_ptr<char[]> Field(std::string_view text, size_t width) {
  std::unique_ptr<char[]> field(new char[width]);
  std::memset(field.get(), 0, width);
  std::memcpy(field.get(), text.data(), std::min(text.size(), width));
  return field;
}

// The same field followed by more text that must not matter.
std::unique_ptr<char[]> FieldFollowedByText(std::string_view text, size_t width) {
  static constexpr char kMore[] = "7.7.7c 12345";
  std::unique_ptr<char[]> block(new char[width + sizeof kMore]);
  std::memcpy(block.get(), Field(text, width).get(), width);
  std::memcpy(block.get() + width, kMore, sizeof kMore);
  return block;
}

std::string_view TextOf(const char* field, size_t width) {
  return std::string_view(field, strnlen(field, width));
}

// The blanks that the standard conversions skip in the "C" locale.
bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// What a leading-number reading should give: a value, or a result out of range (the standard
// conversion then gives an infinity or a number below the smallest normal one).
struct Reading {
  bool comparable = true;  // false for what std::from_chars does not read (hexadecimal)
  bool outOfRange = false;
  double value = 0.0;
};

// The standard decimal conversion of the text's leading number, read again with std::from_chars,
// which takes neither the leading blanks nor a '+' that the standard conversion takes.
Reading LeadingNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return Reading{};  // "+-": no number
  }
  const std::string_view unsigned_ = !text.empty() && text.front() == '-' ? text.substr(1) : text;
  if (unsigned_.size() >= 2 && unsigned_[0] == '0' &&
      (unsigned_[1] == 'x' || unsigned_[1] == 'X')) {
    return Reading{false, false, 0.0};
  }
  Reading reading;
  const std::from_chars_result r =
      std::from_chars(text.data(), text.data() + text.size(), reading.value);
  if (r.ec == std::errc::invalid_argument) reading.value = 0.0;
  reading.outOfRange = r.ec == std::errc::result_out_of_range;
  return reading;
}

void CheckVersionNumber(double got, std::string_view text) {
  const Reading expected = LeadingNumber(text);
  if (!expected.comparable) return;
  if (expected.outOfRange) {
    FUZZ_CHECK(std::isinf(got) || std::fabs(got) < DBL_MIN);
  } else if (std::isnan(expected.value)) {
    FUZZ_CHECK(std::isnan(got));
  } else {
    FUZZ_CHECK(got == expected.value);
  }
}

// VersionNumber on a field of `width` bytes holding `text`; its value.
double CheckedVersionNumber(std::string_view text, size_t width) {
  const std::unique_ptr<char[]> field = Field(text, width);
  const double value = updater::VersionNumber(field.get(), width);
  CheckVersionNumber(value, TextOf(field.get(), width));
  const double followed = updater::VersionNumber(FieldFollowedByText(text, width).get(), width);
  FUZZ_CHECK(std::memcmp(&value, &followed, sizeof value) == 0);
  return value;
}

// A PLD version text as its rule reads it: the components between the dots, each shorter than
// seven characters, their values' low bytes packed, and the grade letter of the third.
struct PldVersion {
  bool parsed = false;
  uint32_t number = 0;
  uint8_t grade = 0;
};

// Blanks, a sign, decimal digits; only the low byte counts.
uint32_t ComponentValue(std::string_view c) {
  size_t i = 0;
  while (i < c.size() && IsBlank(c[i])) ++i;
  bool negative = false;
  if (i < c.size() && (c[i] == '+' || c[i] == '-')) negative = c[i++] == '-';
  int64_t value = 0;
  for (; i < c.size() && c[i] >= '0' && c[i] <= '9'; ++i) value = value * 10 + (c[i] - '0');
  return static_cast<uint32_t>(static_cast<uint64_t>(negative ? -value : value) & 0xFF);
}

PldVersion ReadPldVersion(std::string_view text) {
  constexpr size_t kLongest = 6;
  const size_t first = text.find('.');
  if (first == std::string_view::npos || first > kLongest) return {};
  const size_t second = text.find('.', first + 1);
  if (second == std::string_view::npos || second - first - 1 > kLongest) return {};
  const std::string_view build = text.substr(second + 1);
  if (build.size() > kLongest) return {};
  PldVersion v;
  v.number = ComponentValue(text.substr(0, first)) << 16 |
             ComponentValue(text.substr(first + 1, second - first - 1)) << 8 |
             ComponentValue(build);
  if (v.number == 0) return {};
  v.parsed = true;
  v.grade = build.find('c') != std::string_view::npos   ? 0
            : build.find('i') != std::string_view::npos ? 1
                                                        : 2;
  return v;
}

// GetPldVersionNumber on a Version field holding `text`; what it read.
PldVersion CheckedPldVersion(std::string_view text) {
  const std::unique_ptr<char[]> field = Field(text, kVersionWidth);
  const PldVersion expected = ReadPldVersion(TextOf(field.get(), kVersionWidth));

  constexpr uint8_t kUntouched = 0xA5;
  uint32_t number = 0xFFFFFFFF;
  uint8_t grade = kUntouched;
  const bool parsed = updater::GetPldVersionNumber(field.get(), &number, &grade);
  FUZZ_CHECK(parsed == expected.parsed);
  FUZZ_CHECK(number == expected.number);
  FUZZ_CHECK(grade == (parsed ? expected.grade : kUntouched));

  uint32_t alone = 0xFFFFFFFF;
  FUZZ_CHECK(updater::GetPldVersionNumber(field.get(), &alone, nullptr) == parsed);
  FUZZ_CHECK(alone == number);
  FUZZ_CHECK(!updater::GetPldVersionNumber(field.get(), nullptr, &grade));
  uint32_t followed = 0;
  FUZZ_CHECK(updater::GetPldVersionNumber(FieldFollowedByText(text, kVersionWidth).get(), &followed,
                                          nullptr) == parsed);
  FUZZ_CHECK(followed == number);
  return expected;
}

bool SameImage(const char* a, const char* b) {
  return a == nullptr || b == nullptr ? a == b : std::strcmp(a, b) == 0;
}

// The boot loader's integer part, its low 8 bits as an unsigned value; 0 for what is not finite.
double LowByteOfWholePart(double bl) {
  if (!std::isfinite(bl)) return 0.0;
  const double whole = std::trunc(bl);
  // From 2^63 on every double is a multiple of 2^11: its low 8 bits are 0.
  if (std::fabs(whole) >= 9223372036854775808.0) return 0.0;
  return static_cast<uint8_t>(static_cast<int64_t>(whole));
}

double KeepThreshold(const char* image) {
  return std::strtod(images::FindImage(image)->version, nullptr);
}

// The MCU rule's table: bands of V = FW + 0.0001 (FW from the boot loader when below 0.0001).
const char* ExpectedMcuImage(bool applicationPresent, double fw, double bl) {
  if (fw < 0.0001) fw = LowByteOfWholePart(bl);
  const double v = fw + 0.0001;
  struct Band {
    double lower, upper;
    const char* image;
  };
  const Band bands[] = {{0.9999, 1.9999, images::kR4690A_APPL},
                        {1.9999, 2.9999, images::kR4690B_APPL},
                        {2.9999, 3.9999, images::kR4690C_APPL}};
  for (const Band& band : bands) {
    if (band.lower < v && v < band.upper) {
      return applicationPresent && v >= KeepThreshold(band.image) ? nullptr : band.image;
    }
  }
  return nullptr;
}

// The PLD rule's table, for the grades 0 and 1 that reach it: the embedded PLD's version (as its
// list gives it) of the module's grade stays, anything else gets the image of the module's grade.
const char* ExpectedPldImage(uint32_t number, uint8_t moduleGrade, uint8_t pldGrade) {
  static const uint32_t kEmbedded =
      ReadPldVersion(images::FindImage(images::kR4690CC_PLD)->version).number;
  if (number == kEmbedded && moduleGrade == pldGrade) return nullptr;
  return moduleGrade == 0 ? images::kR4690CC_PLD : images::kR4690CI_PLD;
}

void CheckRules(double fw, double bl, const PldVersion& pld) {
  for (bool application : {false, true}) {
    FUZZ_CHECK(SameImage(updater::ChooseMcuImage(application, fw, bl),
                         ExpectedMcuImage(application, fw, bl)));
  }
  FUZZ_CHECK(updater::InPldBand(bl) == (2.9999 < bl && bl < 3.9999));
  const uint8_t pldGrades[] = {pld.grade, 0, 1};
  for (uint8_t moduleGrade : {0, 1}) {
    for (uint8_t pldGrade : pldGrades) {
      FUZZ_CHECK(SameImage(updater::ChoosePldImage(pld.number, moduleGrade, pldGrade),
                           ExpectedPldImage(pld.number, moduleGrade, pldGrade)));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view lines[3];
  for (std::string_view& line : lines) {
    const size_t end = input.find('\n');
    line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  const std::string_view fwText = lines[0], blText = lines[1], pldText = lines[2];

  // As the records hold them, and as fields exactly as wide as their whole lines.
  const double fw = CheckedVersionNumber(fwText, kVersionWidth);
  const double bl = CheckedVersionNumber(blText, kVersionWidth);
  const double fwWhole = CheckedVersionNumber(fwText, fwText.size());
  const double blWhole = CheckedVersionNumber(blText, blText.size());
  const PldVersion pld = CheckedPldVersion(pldText);

  CheckRules(fw, bl, pld);
  CheckRules(fwWhole, blWhole, pld);
  return 0;
}
