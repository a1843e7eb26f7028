// Traffic lines and the record that collects them.
#include "sim/traffic.h"

#include <cstdio>

namespace sim {

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
