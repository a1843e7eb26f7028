// A reader of the string literals in a C++ source file.
#include "tests/guide/string_literals.h"

#include <cctype>
#include <cstddef>

namespace guide_check {

namespace {

bool IsIdentifierChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}

  bool Run(std::vector<StringLiteral>* literals, std::string* error) {
    bool lineStart = true;  // only blanks since the last line feed
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        lineStart = true;
        continue;
      }
      if (c == ' ' || c == '\t') {
        ++pos_;
        continue;
      }
      if (lineStart && c == '#' && IsIncludeLine()) {
        SkipToLineEnd();
        continue;
      }
      lineStart = false;
      if (SkipComment()) continue;
      if (c == '\'') {
        // A digit separator (0x1'0000) follows a digit; anything else opens a character literal.
        if (pos_ > 0 && std::isdigit(static_cast<unsigned char>(s_[pos_ - 1])) != 0) {
          ++pos_;
          continue;
        }
        std::string ignored;
        if (!ReadQuoted('\'', &ignored, error)) return false;
        continue;
      }
      if (c == '"') {
        if (pos_ > 0 && IsIdentifierChar(s_[pos_ - 1])) {
          *error = "line " + std::to_string(line_) + ": a prefixed or raw string literal";
          return false;
        }
        StringLiteral literal{line_, std::string()};
        if (!ReadQuoted('"', &literal.text, error)) return false;
        // Literals separated only by blanks, line feeds and comments are one literal.
        for (;;) {
          SkipBlanksAndComments();
          if (pos_ >= s_.size() || s_[pos_] != '"') break;
          if (!ReadQuoted('"', &literal.text, error)) return false;
        }
        literals->push_back(literal);
        continue;
      }
      ++pos_;
    }
    return true;
  }

 private:
  bool IsIncludeLine() const {
    size_t p = pos_ + 1;
    while (p < s_.size() && (s_[p] == ' ' || s_[p] == '\t')) ++p;
    return s_.compare(p, 7, "include") == 0;
  }

  void SkipToLineEnd() {
    while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
  }

  // Skips one comment at pos_; false when there is none.
  bool SkipComment() {
    if (s_.compare(pos_, 2, "//") == 0) {
      SkipToLineEnd();
      return true;
    }
    if (s_.compare(pos_, 2, "/*") == 0) {
      const size_t end = s_.find("*/", pos_ + 2);
      const size_t stop = end == std::string::npos ? s_.size() : end + 2;
      for (; pos_ < stop; ++pos_) {
        if (s_[pos_] == '\n') ++line_;
      }
      return true;
    }
    return false;
  }

  void SkipBlanksAndComments() {
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (!SkipComment()) {
        return;
      }
    }
  }

  // Reads a quoted literal that starts at pos_, appending its decoded bytes to *text.
  bool ReadQuoted(char quote, std::string* text, std::string* error) {
    ++pos_;
    while (pos_ < s_.size() && s_[pos_] != quote) {
      if (s_[pos_] == '\n') break;
      char c = s_[pos_++];
      if (c != '\\') {
        *text += c;
        continue;
      }
      if (pos_ >= s_.size()) break;
      c = s_[pos_++];
      if (c >= '0' && c <= '7') {
        // Up to three octal digits.
        int value = c - '0';
        for (int i = 0; i < 2 && pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '7'; ++i) {
          value = value * 8 + (s_[pos_++] - '0');
        }
        *text += static_cast<char>(value);
        continue;
      }
      switch (c) {
        case 'n':
          *text += '\n';
          break;
        case 'r':
          *text += '\r';
          break;
        case 't':
          *text += '\t';
          break;
        case '\\':
        case '\'':
        case '"':
        case '?':
          *text += c;
          break;
        default:
          *error = "line " + std::to_string(line_) + ": an escape sequence \\" + c +
                   " that this reader does not decode";
          return false;
      }
    }
    if (pos_ >= s_.size() || s_[pos_] != quote) {
      *error = "line " + std::to_string(line_) + ": an unterminated literal";
      return false;
    }
    ++pos_;
    return true;
  }

  const std::string& s_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

bool ReadStringLiterals(const std::string& source, std::vector<StringLiteral>* literals,
                        std::string* error) {
  return Reader(source).Run(literals, error);
}

}  // namespace guide_check
