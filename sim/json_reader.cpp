// A JSON reader over the library's event interface, which reports every failure with its place
// instead of throwing it.
#include "sim/json_reader.h"

#include <utility>
#include <vector>

namespace sim {

namespace {

using nlohmann::json;

// Line and column (both from 1) of the byte at `offset`.
std::string Place(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Where the first array or object that opens inside `levels` others begins. Only called for a
// text read without fault up to there, so strings are the only thing to step over.
size_t TooDeepAt(const std::string& text, int levels) {
  int open = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (open++ == levels) return i;
    } else if (c == ']' || c == '}') {
      --open;
    }
  }
  return text.size();
}

// Builds the document from the reader's events and keeps what stopped it.
class DocumentBuilder : public nlohmann::json_sax<json> {
 public:
  DocumentBuilder(json* root, int maxNesting) : root_(root), maxNesting_(maxNesting) {}

  bool null() override { return Add(json(nullptr)); }
  bool boolean(bool value) override { return Add(json(value)); }
  bool number_integer(number_integer_t value) override { return Add(json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return Add(json(value)); }
  bool number_float(number_float_t value, const string_t&) override { return Add(json(value)); }
  bool string(string_t& value) override { return Add(json(std::move(value))); }
  bool binary(binary_t& value) override { return Add(json::binary(std::move(value))); }
  bool start_object(std::size_t) override { return Open(json::object()); }
  bool start_array(std::size_t) override { return Open(json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool key(string_t& value) override {
    key_ = std::move(value);
    return true;
  }

  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& e) override {
    // 406: a number that no double holds; its place is where it begins.
    if (e.id == 406) {
      failure_ = Failure::kNumberOutOfRange;
      position_ = position >= token.size() ? position - token.size() : 0;
    } else {
      failure_ = Failure::kMalformed;
      position_ = position == 0 ? 0 : position - 1;
    }
    return false;
  }

  enum class Failure { kNone, kMalformed, kNumberOutOfRange, kTooDeep };
  Failure failure() const { return failure_; }
  size_t position() const { return position_; }

 private:
  // Puts a value where the reading stands: the root, the end of an array, an object's key.
  json* Put(json value) {
    if (open_.empty()) {
      *root_ = std::move(value);
      return root_;
    }
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    json& slot = parent[key_];
    slot = std::move(value);
    return &slot;
  }
  bool Add(json value) {
    Put(std::move(value));
    return true;
  }
  bool Open(json container) {
    if (static_cast<int>(open_.size()) > maxNesting_) {
      failure_ = Failure::kTooDeep;
      return false;
    }
    open_.push_back(Put(std::move(container)));
    return true;
  }
  bool Close() {
    open_.pop_back();
    return true;
  }

  json* root_;
  int maxNesting_;
  std::vector<json*> open_;  // the arrays and objects being read, innermost last
  std::string key_;          // of the next value of the innermost object
  Failure failure_ = Failure::kNone;
  size_t position_ = 0;  // of the failure, as an offset into the text
};

}  // namespace

bool ReadJson(const std::string& text, int maxNesting, json* document, std::string* error) {
  json root;
  DocumentBuilder builder(&root, maxNesting);
  if (json::sax_parse(text, &builder)) {
    *document = std::move(root);
    return true;
  }
  switch (builder.failure()) {
    case DocumentBuilder::Failure::kNumberOutOfRange:
      *error = "number out of range at " + Place(text, builder.position());
      break;
    case DocumentBuilder::Failure::kTooDeep:
      *error = "nested deeper than " + std::to_string(maxNesting) + " levels at " +
               Place(text, TooDeepAt(text, maxNesting + 1));
      break;
    case DocumentBuilder::Failure::kNone:
    case DocumentBuilder::Failure::kMalformed:
      *error = "malformed JSON at " + Place(text, builder.position());
      break;
  }
  return false;
}

}  // namespace sim
