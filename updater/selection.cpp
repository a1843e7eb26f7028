// Which embedded images the update writes, decided from the versions and temperature grades that
// the module reports, and the parser for the PLD's version text.
#include "updater/selection.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "images/image_list.h"

namespace updater {

namespace {

// Added to the firmware version before it is placed in a band and compared with a keep
// threshold: a version text read into a double holds "3.2" only to within a rounding error, and
// with the margin it still reaches the threshold that the text names.
constexpr double kVersionMargin = 0.0001;

// The value of a version text "major.minor" at compile time: exactly what the decimal
// conversion of the text gives (one correctly rounded division).
constexpr double VersionValue(const char* text) {
  double digits = 0.0;
  double scale = 1.0;
  bool fraction = false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '.') {
      fraction = true;
      continue;
    }
    digits = digits * 10.0 + (*p - '0');
    if (fraction) scale *= 10.0;
  }
  return digits / scale;
}

// The version of an embedded MCU image, from the list of images.
constexpr double ImageVersion(const char* name) {
  return VersionValue(images::FindImage(name)->version);
}

// One MCU revision band: lower < V < upper selects it; an installed application whose V has
// reached keep, the version of the band's embedded image, is left in place.
struct McuBand {
  double lower;
  double upper;
  double keep;
  const char* image;
};

constexpr McuBand kMcuBands[] = {
    {0.9999, 1.9999, ImageVersion(images::kR4690A_APPL), images::kR4690A_APPL},
    {1.9999, 2.9999, ImageVersion(images::kR4690B_APPL), images::kR4690B_APPL},
    {2.9999, 3.9999, ImageVersion(images::kR4690C_APPL), images::kR4690C_APPL},
};

// The boot loader's major version, reduced to its low 8 bits as an unsigned value: it stands for
// the hardware revision when no application version is known. A value that is not finite has no
// integer part and counts as 0.
double BootLoaderMajor(double bl) {
  const double whole = std::trunc(bl);
  if (!std::isfinite(whole)) return 0.0;
  double low = std::fmod(whole, 256.0);  // exact for every finite double
  if (low < 0) low += 256.0;
  return low;
}

constexpr size_t kPldVersionChars = 10;        // the width of PldInfo::Version
constexpr std::ptrdiff_t kComponentLimit = 7;  // a component this long or longer is refused

// The value of one version component [begin, end): leading blanks, optional sign, leading digits.
// Components are at most 6 characters, so the value fits in a long.
uint32_t ComponentByte(const char* begin, const char* end) {
  char text[kComponentLimit] = {};
  std::memcpy(text, begin, static_cast<size_t>(end - begin));
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<uint32_t>(value) & 0xFFu;
}

}  // namespace

double VersionNumber(const char* field, size_t width) {
  if (field == nullptr) return 0.0;
  size_t n = 0;
  while (n < width && field[n] != '\0') ++n;
  // A full field has no terminator; strtod must not run on into the next field.
  const std::string text(field, n);
  return std::strtod(text.c_str(), nullptr);
}

const char* ChooseMcuImage(bool applicationPresent, double fw, double bl) {
  if (fw < kVersionMargin) fw = BootLoaderMajor(bl);
  const double v = fw + kVersionMargin;
  for (const McuBand& band : kMcuBands) {
    if (band.lower < v && v < band.upper) {
      if (applicationPresent && v >= band.keep) return nullptr;
      return band.image;
    }
  }
  return nullptr;
}

bool InPldBand(double bl) {
  return 2.9999 < bl && bl < 3.9999;
}

const char* ChoosePldImage(uint32_t pldVersionNumber, uint8_t moduleGrade, uint8_t pldGrade) {
  if (pldVersionNumber == kKnownPldVersion && moduleGrade == pldGrade) return nullptr;
  switch (moduleGrade) {
    case 0:
      return images::kR4690CC_PLD;
    case 1:
      return images::kR4690CI_PLD;
    default:
      // The update refuses such a grade before it gets here; there is no image for it.
      return nullptr;
  }
}

bool GetPldVersionNumber(const char* versionText, uint32_t* number, uint8_t* grade) {
  if (number == nullptr) return false;
  *number = 0;
  if (versionText == nullptr) return false;

  // The version field may be full and unterminated: look no further than its width.
  char text[kPldVersionChars + 1] = {};
  size_t length = 0;
  while (length < kPldVersionChars && versionText[length] != '\0') {
    text[length] = versionText[length];
    ++length;
  }
  const char* const end = text + length;

  const char* firstDot = std::strchr(text, '.');
  if (firstDot == nullptr || firstDot - text >= kComponentLimit) return false;
  const char* secondDot = std::strchr(firstDot + 1, '.');
  if (secondDot == nullptr || secondDot - (firstDot + 1) >= kComponentLimit) {
    return false;
  }
  const char* build = secondDot + 1;  // runs to the end, further dots included
  if (end - build >= kComponentLimit) return false;

  const uint32_t packed = ComponentByte(text, firstDot) << 16 |
                          ComponentByte(firstDot + 1, secondDot) << 8 | ComponentByte(build, end);
  if (packed == 0) return false;
  *number = packed;

  if (grade != nullptr) {
    const size_t buildLength = static_cast<size_t>(end - build);
    if (std::memchr(build, 'c', buildLength) != nullptr) {
      *grade = 0;
    } else if (std::memchr(build, 'i', buildLength) != nullptr) {
      *grade = 1;
    } else {
      *grade = 2;
    }
  }
  return true;
}

}  // namespace updater
