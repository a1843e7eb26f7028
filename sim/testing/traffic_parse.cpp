// Traffic lines read back into the entries that wrote them.
#include "sim/testing/traffic_parse.h"

#include <cstdint>
#include <map>
#include <vector>

#include "contract/driver_contract.h"
#include "sim/user_text.h"  // ParseNumber

namespace sim {

namespace dc = driver_contract;

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    const size_t space = text.find(' ', start);
    words.push_back(text.substr(start, space - start));
    if (space == std::string::npos) return words;
    start = space + 1;
  }
}

// A field's number: "0x" and hexadecimal digits, or decimal digits.
bool Field(const std::map<std::string, std::string>& fields, const char* key, uint64_t max,
           uint32_t* value) {
  const auto it = fields.find(key);
  uint64_t n = 0;
  if (it == fields.end() || !ParseNumber(it->second, max, &n)) return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

// The words of a line are read loosely (a name, or an address, where the format puts one) and the
// line then formatted again from what was read: only a line that the format writes reads back.
bool ParseTrafficLine(const std::string& stamped, TrafficEntry* entry) {
  const std::string line = WithoutTimeStamp(stamped);
  const std::vector<std::string> words = Words(line);
  if (words.size() < 4) return false;
  std::map<std::string, std::string> fields;
  size_t i = 1;
  for (; i < words.size() && words[i] != "->"; ++i) {
    const size_t equals = words[i].find('=');
    if (equals != std::string::npos)
      fields[words[i].substr(0, equals)] = words[i].substr(equals + 1);
  }
  if (i + 1 >= words.size()) return false;

  uint32_t ioctl = 0, length = 0;
  if (!Field(fields, "ioctl", UINT32_MAX, &ioctl) || !Field(fields, "len", UINT32_MAX, &length)) {
    return false;
  }
  TrafficEntry e;
  if (fields.count("dir") != 0) {
    uint32_t direction = 0, code = 0, value = 0, index = 0;
    if (!Field(fields, "dir", 0xFFFF, &direction) || !Field(fields, "req", 0xFFFF, &code) ||
        !Field(fields, "value", 0xFFFF, &value) || !Field(fields, "index", 0xFFFF, &index) ||
        !CarriesHeader(ioctl, dc::kVendorRequestSize)) {
      return false;
    }
    const dc::VendorRequest header{static_cast<uint16_t>(direction), static_cast<uint16_t>(code),
                                   static_cast<uint16_t>(value), static_cast<uint16_t>(index)};
    e.request = MakeRequest(words[0], ioctl, dc::kVendorRequestSize, &header, length);
  } else {
    uint32_t inputSize = 0;
    if (fields.count("in") != 0 && !Field(fields, "in", UINT32_MAX, &inputSize)) return false;
    if (CarriesHeader(ioctl, inputSize)) return false;
    e.request = MakeRequest(words[0], ioctl, inputSize, nullptr, length);
  }

  // The outcome, and how long its answer was held back.
  const std::vector<std::string> outcome(words.begin() + static_cast<ptrdiff_t>(i) + 1,
                                         words.end());
  size_t used = 1;
  if (outcome[0] == "ok") {
    e.outcome = Outcome::kOk;
  } else if (outcome[0] == "refused") {
    e.outcome = Outcome::kRefused;
  } else if (outcome[0] == "no" && outcome.size() == 2 && outcome[1] == "answer") {
    e.outcome = Outcome::kNoAnswer;
    used = 2;
  } else if (outcome[0] == "short" && outcome.size() >= 2) {
    e.outcome = Outcome::kShort;
    uint64_t n = 0;
    if (!ParseNumber(outcome[1], UINT32_MAX, &n)) return false;
    e.transferred = static_cast<uint32_t>(n);
    used = 2;
  } else {
    return false;
  }
  if (outcome.size() == used + 3 && outcome[used] == "after" && outcome[used + 2] == "ms") {
    uint64_t n = 0;
    if (!ParseNumber(outcome[used + 1], UINT32_MAX, &n)) return false;
    e.delayMs = static_cast<uint32_t>(n);
  }
  if (FormatTrafficLine(e) != line) return false;
  *entry = e;
  return true;
}

}  // namespace sim
