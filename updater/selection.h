// The rules that choose, from what the module reports about itself, which embedded images the
// update writes: at most one MCU application image and at most one PLD image. Pure decisions on
// numbers and texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace updater {

// The leading decimal number of a version text field, read no further than the field's width;
// 0 when the text begins with no number.
double VersionNumber(const char* field, size_t width);

// The MCU image for the module (an image name), or null when none is to be written.
// fw is the firmware version (0 without an application), bl the boot-loader version.
const char* ChooseMcuImage(bool applicationPresent, double fw, double bl);

// Whether a boot loader of this version has a PLD that the update examines (major version 3).
bool InPldBand(double bl);

// The PLD image for the module (an image name), or null when none is to be written.
const char* ChoosePldImage(uint32_t pldVersionNumber, uint8_t moduleGrade, uint8_t pldGrade);

constexpr uint32_t kKnownPldVersion = 0x30007;  // 3.0.7, the version of the embedded PLD images

// Parses a PLD version text "major.minor.build<grade letter>" of at most 10 characters into
// (major << 16) | (minor << 8) | build. grade (may be null) becomes 0 for a "c" in the build
// part, 1 for an "i", else 2. False (number 0, grade untouched) when the text does not parse or
// packs to 0, and when number is null.
bool GetPldVersionNumber(const char* versionText, uint32_t* number, uint8_t* grade);

}  // namespace updater
