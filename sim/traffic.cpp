// Traffic lines and the record that collects them.
#include "sim/traffic.h"

#include <cstdio>

#include "contract/driver_contract.h"

namespace sim {

std::string FormatTrafficLine(const TrafficEntry& e) {
  const Request& r = e.request;
  char buffer[160];
  if (r.hasHeader) {
    std::snprintf(buffer, sizeof buffer,
                  "%s ioctl=0x%06X dir=%u req=0x%02X value=0x%04X index=0x%04X len=%u -> ",
                  r.device.c_str(), r.ioControlCode, r.header.Direction, r.header.RequestCode,
                  r.header.Value, r.header.Index, r.length);
  } else if (r.inputSize != 0) {
    std::snprintf(buffer, sizeof buffer, "%s ioctl=0x%06X in=%u len=%u -> ", r.device.c_str(),
                  r.ioControlCode, r.inputSize, r.length);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s ioctl=0x%06X len=%u -> ", r.device.c_str(),
                  r.ioControlCode, r.length);
  }
  std::string line = buffer;
  switch (e.outcome) {
    case Outcome::kOk:
      return line + "ok";
    case Outcome::kRefused:
      return line + "refused";
    case Outcome::kNoAnswer:
      return line + "no answer";
    case Outcome::kShort:
      return line + "short " + std::to_string(e.transferred);
  }
  return line;
}

std::string FormatPowerLossLine(const std::string& device) {
  return device + " power lost";
}

namespace {

// The request part of a traffic line, after the device name, decoded as the simulator decodes a
// request; *outcomeAt is where the outcome begins. A line has the header form exactly where the
// simulator sees a header. Each form ends in %n, which is reached only when all of it matched.
bool ParseRequest(const std::string& device, const char* text, Request* request, int* outcomeAt) {
  namespace dc = driver_contract;
  unsigned ioctl = 0, direction = 0, requestCode = 0, value = 0, index = 0, inputSize = 0,
           length = 0;
  int end = -1;
  std::sscanf(text, "ioctl=0x%X dir=%u req=0x%X value=0x%X index=0x%X len=%u -> %n", &ioctl,
              &direction, &requestCode, &value, &index, &length, &end);
  if (end >= 0) {
    if (!CarriesHeader(ioctl, dc::kVendorRequestSize)) return false;
    const dc::VendorRequest header{static_cast<uint16_t>(direction),
                                   static_cast<uint16_t>(requestCode), static_cast<uint16_t>(value),
                                   static_cast<uint16_t>(index)};
    *request = MakeRequest(device, ioctl, dc::kVendorRequestSize, &header, length);
  } else {
    std::sscanf(text, "ioctl=0x%X in=%u len=%u -> %n", &ioctl, &inputSize, &length, &end);
    if (end < 0) std::sscanf(text, "ioctl=0x%X len=%u -> %n", &ioctl, &length, &end);
    if (end < 0 || CarriesHeader(ioctl, inputSize)) return false;
    *request = MakeRequest(device, ioctl, inputSize, nullptr, length);
  }
  *outcomeAt = end;
  return true;
}

}  // namespace

bool ParseTrafficLine(const std::string& line, TrafficEntry* entry) {
  const size_t space = line.find(' ');
  if (space == std::string::npos) return false;
  TrafficEntry e;
  const char* rest = line.c_str() + space + 1;
  int outcomeAt = 0;
  if (!ParseRequest(line.substr(0, space), rest, &e.request, &outcomeAt)) return false;
  const std::string outcome = rest + outcomeAt;
  unsigned transferred = 0;
  if (outcome == "ok") {
    e.outcome = Outcome::kOk;
  } else if (outcome == "refused") {
    e.outcome = Outcome::kRefused;
  } else if (outcome == "no answer") {
    e.outcome = Outcome::kNoAnswer;
  } else if (std::sscanf(outcome.c_str(), "short %u", &transferred) == 1) {
    e.outcome = Outcome::kShort;
    e.transferred = transferred;
  } else {
    return false;
  }
  // Only what the format writes reads back: anything else around the fields is no traffic line.
  if (FormatTrafficLine(e) != line) return false;
  *entry = e;
  return true;
}

bool TrafficRecord::OpenFile(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.close();
  file_.clear();
  file_.open(path, std::ios::out | std::ios::trunc);
  if (!file_) {
    *error = "cannot write the traffic file " + path;
    return false;
  }
  return true;
}

void TrafficRecord::Add(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
  if (file_.is_open()) file_ << line << std::endl;  // flushed: a killed run keeps its record
}

std::vector<std::string> TrafficRecord::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void TrafficRecord::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace sim
