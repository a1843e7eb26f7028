// Reads the JSON text of a scenario into a document, never throwing: a failure is one line that
// says what stopped the reading and where (line and column), and nesting is bounded while the
// text is read, before anything walks the document recursively.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace sim {

// False with a one-line reason: "malformed JSON at line L, column C", "number out of range at
// line L, column C" (a number that no double holds, 1e400), or "nested deeper than N levels at
// line L, column C" (a top value and `maxNesting` levels of arrays and objects inside it are
// fine).
bool ReadJson(const std::string& text, int maxNesting, nlohmann::json* document,
              std::string* error);

}  // namespace sim
