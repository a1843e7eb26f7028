// Comparison of names without regard to letter case, as Windows compares device, resource and
// interface names here: ASCII letters only, whatever the locale. Plain C++, for both systems.
#pragma once

#include <string_view>

namespace qdev {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether two texts are equal once ASCII letters are lower-cased.
constexpr bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace qdev
