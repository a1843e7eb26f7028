// Numbers, echoes and near names of what a person typed.
#include "sim/user_text.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits of `base` from `from` to the end, at least one; false past max.
bool ParseDigits(const std::string& text, size_t from, uint64_t base, uint64_t max,
                 uint64_t* value) {
  if (from >= text.size()) return false;
  uint64_t n = 0;
  for (size_t i = from; i < text.size(); ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0 || static_cast<uint64_t>(d) >= base) return false;
    if (n > (max - static_cast<uint64_t>(d)) / base) return false;
    n = n * base + static_cast<uint64_t>(d);
  }
  *value = n;
  return true;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Edits from a to b, ignoring case: insertions, deletions, substitutions and swaps of neighbours.
size_t Distance(const std::string& a, const std::string& b) {
  const size_t n = a.size(), m = b.size();
  std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
  for (size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (size_t i = 1; i <= n; ++i) {
    for (size_t j = 1; j <= m; ++j) {
      const size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

}  // namespace

bool ParseHexadecimal(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  return ParseDigits(text, 2, 16, max, value);
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return ParseHexadecimal(text, max, value);
  }
  return ParseDigits(text, 0, 10, max, value);
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

std::string NearestName(const std::string& word, const std::vector<std::string>& known) {
  // Two edits for names of five letters or more, one for shorter ones; the first nearest wins.
  std::string best;
  size_t bestDistance = 3;
  for (const std::string& name : known) {
    const size_t allowed = name.size() >= 5 ? 2 : 1;
    const size_t lengths = std::max(word.size(), name.size()) - std::min(word.size(), name.size());
    if (lengths > allowed) continue;  // too far apart, however long the word
    const size_t d = Distance(word, name);
    if (d <= allowed && d < bestDistance) {
      best = name;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace sim
