// Builds a PldInfo record from the module's PLD information text, a zero-padded block such as
//   <Version>{3.0.7c (build Nov 12 2020)} <Comments>{R46-90 PLD configuration, commercial grade}
// The parse never fails: a value whose markers are missing gets a placeholder text.
#pragma once

#include <cstddef>

#include "modlib/records.h"

namespace pld_info_text {

// The PLD device's name for a module's hardware revision letter.
const char* PldNameForRevision(char revision);

// Fills all of *record from the text in buffer: its bytes up to the first zero byte, or all size
// bytes when there is none. Nothing beyond that is read. Every field is zero after its value, and
// a value as long as its field has no terminating zero.
void ParsePldInfoText(const char* buffer, size_t size, char revision, PldInfo* record);

}  // namespace pld_info_text
