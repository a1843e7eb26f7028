// The names of the five firmware images embedded in the executable (RCDATA resources).
#pragma once

#include <cstdint>

namespace images {

constexpr char kR4690A_APPL[] = "R4690A_APPL";  // MCU application, hardware revision A
constexpr char kR4690B_APPL[] = "R4690B_APPL";  // MCU application, hardware revision B
constexpr char kR4690C_APPL[] = "R4690C_APPL";  // MCU application, hardware revision C
constexpr char kR4690CC_PLD[] = "R4690CC_PLD";  // PLD configuration, commercial grade
constexpr char kR4690CI_PLD[] = "R4690CI_PLD";  // PLD configuration, industrial grade

// Where an MCU image carries its firmware description: its last 256 bytes.
constexpr uint32_t kDescriptionBlockFromEnd = 256;

}  // namespace images
