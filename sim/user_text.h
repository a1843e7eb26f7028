// What a person types, read one way everywhere in the simulator (scenario files and the command
// line): numbers, echoes of the typed bytes in a refusal, and the nearest known name to a typo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A number as scenario texts and options write it: "0x" (or "0X") and hexadecimal digits. No
// blank, sign or second prefix; leading zeros are fine. False when it is none, or above max.
bool ParseHexadecimal(const std::string& text, uint64_t max, uint64_t* value);
// Decimal digits (leading zeros do not make it octal), or a hexadecimal text as above.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value);

// The bytes as one printable line: printable ASCII as it is, a backslash doubled, "\n", "\r" and
// "\t" for those, every other byte as "\xNN".
std::string Printable(const std::string& bytes);

// The known name that `word` most likely misspells (ignoring case, one or two edits, a swap of
// neighbours counting as one), or "" when none is that close.
std::string NearestName(const std::string& word, const std::vector<std::string>& known);

}  // namespace sim
