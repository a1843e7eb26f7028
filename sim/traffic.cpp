// Traffic lines and the record that collects them.
#include "sim/traffic.h"

#include <cstdio>
#include <map>

#include "contract/driver_contract.h"
#include "sim/user_text.h"  // ParseNumber

namespace sim {

namespace dc = driver_contract;

std::string FormatTrafficLine(const TrafficEntry& e) {
  const Request& r = e.request;
  char buffer[200];
  std::string line = r.device;
  std::snprintf(buffer, sizeof buffer, " ioctl=0x%06X", r.ioControlCode);
  line += buffer;
  const std::string name = r.kind != nullptr ? std::string(" ") + r.kind->name : std::string();
  if (r.hasHeader) {
    std::snprintf(buffer, sizeof buffer, " dir=%u req=0x%02X", r.header.Direction,
                  r.header.RequestCode);
    line += buffer + name;
    std::snprintf(buffer, sizeof buffer, " value=0x%04X index=0x%04X", r.header.Value,
                  r.header.Index);
    line += buffer;
    if (r.address) {
      std::snprintf(buffer, sizeof buffer, " addr=0x%08X", *r.address);
      line += buffer;
    }
  } else {
    line += name;
    if (r.inputSize != 0) line += " in=" + std::to_string(r.inputSize);
  }
  line += " len=" + std::to_string(r.length) + " -> ";
  switch (e.outcome) {
    case Outcome::kOk:
      line += "ok";
      break;
    case Outcome::kRefused:
      line += "refused";
      break;
    case Outcome::kNoAnswer:
      return line + "no answer";
    case Outcome::kShort:
      line += "short " + std::to_string(e.transferred);
      break;
  }
  if (e.delayMs != 0) line += " after " + std::to_string(e.delayMs) + " ms";
  return line;
}

std::string FormatPowerLossLine(const std::string& device) {
  return device + " power lost";
}

std::string TimeStamp(uint64_t milliseconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "[%7llu ms] ",
                static_cast<unsigned long long>(milliseconds));
  return buffer;
}

std::string WithoutTimeStamp(const std::string& line) {
  if (line.empty() || line[0] != '[') return line;
  size_t i = 1;
  while (i < line.size() && line[i] == ' ') ++i;
  const size_t digits = i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  if (i == digits || line.compare(i, 5, " ms] ") != 0) return line;
  return line.substr(i + 5);
}

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

bool TrafficRecord::OpenFile(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  output_ = nullptr;
  file_.close();
  file_.clear();
  file_.open(path, std::ios::out | std::ios::trunc);
  if (!file_) {
    *error = "cannot write the traffic file " + path;
    return false;
  }
  output_ = &file_;
  start_ = std::chrono::steady_clock::now();
  return true;
}

void TrafficRecord::WriteTo(std::ostream* stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.close();
  output_ = stream;
  start_ = std::chrono::steady_clock::now();
}

void TrafficRecord::SetLinesKept(size_t linesKept) {
  std::lock_guard<std::mutex> lock(mutex_);
  linesKept_ = linesKept;
  while (lines_.size() > linesKept_) lines_.pop_front();
}

void TrafficRecord::Add(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
  while (lines_.size() > linesKept_) lines_.pop_front();
  if (output_ == nullptr) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  // One write per line, flushed: a killed run keeps its record, and a line written to a stream
  // that others write to as well stays whole.
  const std::string stamped = TimeStamp(static_cast<uint64_t>(ms)) + line + "\n";
  output_->write(stamped.data(), static_cast<std::streamsize>(stamped.size()));
  output_->flush();
}

std::vector<std::string> TrafficRecord::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<std::string>(lines_.begin(), lines_.end());
}

void TrafficRecord::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace sim
