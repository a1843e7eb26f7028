// Fuzz target: the version texts of the module's records and the rules that choose the images
// from them (their example tables are updater/selection_test.cpp). VersionNumber and
// GetPldVersionNumber read fields exactly as wide as the field, unterminated when the text fills
// it (AddressSanitizer stops a read past the field); text after the field must not matter.
// VersionNumber must agree with the standard reading of the leading number (std::from_chars); a
// PLD version must read back from the text it packs to; and the rules must keep their shape: an
// image only of its own kind, and nothing written only when what the module has is kept.
//
// Input: up to three lines, the firmware version, the boot-loader version and the PLD version.
#include <cfloat>
#include <charconv>
#include <cmath>

#include "images/image_list.h"
#include "tests/fuzz/fuzz_check.h"
#include "updater/selection.h"

namespace {

constexpr size_t kVersionWidth = 10;  // the Version field of every record

// VersionNumber on a field of `width` bytes holding `text`, checked against std::from_chars,
// which takes neither the leading blanks nor a '+' that the standard conversion takes, nor "0x".
double CheckedVersionNumber(std::string_view text, size_t width) {
  const double value = updater::VersionNumber(fuzz::Field(text, width).get(), width);
  const double followed = updater::VersionNumber(fuzz::Field(text, width, 12).get(), width);
  FUZZ_CHECK(std::memcmp(&value, &followed, sizeof value) == 0);

  std::string_view t = text.substr(0, std::min(width, text.find('\0')));
  t.remove_prefix(std::min(t.find_first_not_of(" \t\n\v\f\r"), t.size()));
  if (!t.empty() && t.front() == '+')
    t = t.substr(1, t.substr(1, 1) == "-" ? 0 : t.npos);  // "+-": no number
  const std::string_view digits = !t.empty() && t.front() == '-' ? t.substr(1) : t;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] | 0x20) == 'x') return value;
  double expected = 0.0;
  const std::from_chars_result r = std::from_chars(t.data(), t.data() + t.size(), expected);
  FUZZ_CHECK(r.ec == std::errc::result_out_of_range
                 ? std::isinf(value) || std::fabs(value) < DBL_MIN
             : r.ec == std::errc::invalid_argument ? value == 0.0
             : std::isnan(expected)                ? std::isnan(value)
                                                   : value == expected);
  return value;
}

// GetPldVersionNumber on a Version field holding `text`: the same with or without the grade and
// with text after the field; the grade untouched by a failure; and what it parses reads back the
// same from the text that it packs to.
uint32_t CheckedPldVersion(std::string_view text, uint8_t* grade) {
  constexpr uint8_t kUntouched = 0xA5;
  const auto parse = [&](size_t extra, uint32_t* number, uint8_t* g) {
    return updater::GetPldVersionNumber(fuzz::Field(text, kVersionWidth, extra).get(), number, g);
  };
  uint32_t number = 0xFFFFFFFF, alone = 0xFFFFFFFF, followed = 0xFFFFFFFF;
  *grade = kUntouched;
  const bool parsed = parse(0, &number, grade);
  FUZZ_CHECK(parsed == (number != 0) && number <= 0xFFFFFF);
  FUZZ_CHECK(parsed ? *grade <= 2 : *grade == kUntouched);
  FUZZ_CHECK(parse(0, &alone, nullptr) == parsed && parse(12, &followed, nullptr) == parsed);
  FUZZ_CHECK(alone == number && followed == number && !parse(0, nullptr, grade));
  const std::string again = std::to_string(number >> 16) + "." +
                            std::to_string(number >> 8 & 0xFF) + "." +
                            std::to_string(number & 0xFF) + "ci-"[parsed ? *grade : 2];
  uint32_t reread = 0;
  uint8_t regrade = kUntouched;
  FUZZ_CHECK(
      !parsed || again.size() > kVersionWidth ||
      (updater::GetPldVersionNumber(fuzz::Field(again, kVersionWidth).get(), &reread, &regrade) &&
       reread == number && regrade == *grade));
  if (!parsed) *grade = 2;
  return number;
}

bool Is(const char* image, const char* name) {
  return image != nullptr && std::strcmp(image, name) == 0;
}

void CheckRules(double fw, double bl, uint32_t pld, uint8_t pldGrade) {
  // An application image or none; an application already there is kept or replaced by the same.
  const char* fresh = updater::ChooseMcuImage(false, fw, bl);
  const char* present = updater::ChooseMcuImage(true, fw, bl);
  FUZZ_CHECK(fresh == nullptr || Is(fresh, images::kR4690A_APPL) ||
             Is(fresh, images::kR4690B_APPL) || Is(fresh, images::kR4690C_APPL));
  FUZZ_CHECK(present == nullptr || Is(present, fresh));
  FUZZ_CHECK(updater::InPldBand(bl) == (2.9999 < bl && bl < 3.9999));
  // The PLD image of the module's grade, unless the module's PLD is the embedded one of its grade.
  for (uint8_t moduleGrade : {0, 1}) {
    for (uint8_t g : {pldGrade, uint8_t{0}, uint8_t{1}}) {
      const char* chosen = updater::ChoosePldImage(pld, moduleGrade, g);
      const bool keep = pld == updater::kKnownPldVersion && moduleGrade == g;
      FUZZ_CHECK(keep ? chosen == nullptr
                      : Is(chosen, moduleGrade == 0 ? images::kR4690CC_PLD : images::kR4690CI_PLD));
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
  uint8_t pldGrade = 0;
  const uint32_t pld = CheckedPldVersion(lines[2], &pldGrade);
  // As the records hold them, and as fields exactly as wide as their whole lines.
  CheckRules(CheckedVersionNumber(lines[0], kVersionWidth),
             CheckedVersionNumber(lines[1], kVersionWidth), pld, pldGrade);
  CheckRules(CheckedVersionNumber(lines[0], lines[0].size()),
             CheckedVersionNumber(lines[1], lines[1].size()), pld, pldGrade);
  return 0;
}
