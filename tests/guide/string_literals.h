// The string literals of a C++ source file, as the compiler sees them: comments and #include
// lines skipped, character literals and digit separators told apart from strings, escape
// sequences decoded, adjacent literals joined. Enough for the utility's own sources; what it
// cannot read (raw strings, prefixed literals) is reported instead of guessed at.
#pragma once

#include <string>
#include <vector>

namespace guide_check {

struct StringLiteral {
  int line;          // where the (first part of the) literal starts, 1-based
  std::string text;  // the bytes of the literal, escapes decoded, without the terminator
};

// False with a reason naming the line when the source holds something this reader does not
// handle.
bool ReadStringLiterals(const std::string& source, std::vector<StringLiteral>* literals,
                        std::string* error);

}  // namespace guide_check
