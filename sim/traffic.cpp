// Traffic lines and the record that collects them.
#include "sim/traffic.h"

#include <cstdio>

namespace sim {

std::string FormatTrafficLine(const TrafficEntry& e) {
  char buffer[160];
  if (e.hasHeader) {
    std::snprintf(buffer, sizeof buffer,
                  "%s ioctl=0x%06X dir=%u req=0x%02X value=0x%04X index=0x%04X len=%u -> ",
                  e.device.c_str(), e.ioControlCode, e.direction, e.requestCode, e.value, e.index,
                  e.outputSize);
  } else if (e.inputSize != 0) {
    std::snprintf(buffer, sizeof buffer, "%s ioctl=0x%06X in=%u len=%u -> ", e.device.c_str(),
                  e.ioControlCode, e.inputSize, e.outputSize);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s ioctl=0x%06X len=%u -> ", e.device.c_str(),
                  e.ioControlCode, e.outputSize);
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

// The request part of a traffic line, after the device name; *outcomeAt is where the outcome
// begins.
bool ParseRequestPart(const char* text, TrafficEntry* e, int* outcomeAt) {
  unsigned direction = 0, code = 0, value = 0, index = 0;
  int end = -1;
  if (std::sscanf(text, "ioctl=0x%X dir=%u req=0x%X value=0x%X index=0x%X len=%u -> %n",
                  &e->ioControlCode, &direction, &code, &value, &index, &e->outputSize,
                  &end) == 6 &&
      end >= 0) {
    e->hasHeader = true;
    e->inputSize = 8;
    e->direction = static_cast<uint16_t>(direction);
    e->requestCode = static_cast<uint16_t>(code);
    e->value = static_cast<uint16_t>(value);
    e->index = static_cast<uint16_t>(index);
  } else if (std::sscanf(text, "ioctl=0x%X in=%u len=%u -> %n", &e->ioControlCode, &e->inputSize,
                         &e->outputSize, &end) != 3 ||
             end < 0) {
    if (std::sscanf(text, "ioctl=0x%X len=%u -> %n", &e->ioControlCode, &e->outputSize, &end) !=
            2 ||
        end < 0) {
      return false;
    }
  }
  *outcomeAt = end;
  return true;
}

}  // namespace

bool ParseTrafficLine(const std::string& line, TrafficEntry* entry) {
  const size_t space = line.find(' ');
  if (space == std::string::npos) return false;
  TrafficEntry e;
  e.device = line.substr(0, space);
  const char* rest = line.c_str() + space + 1;
  int outcomeAt = 0;
  if (!ParseRequestPart(rest, &e, &outcomeAt)) return false;
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

#include "contract/driver_contract.h"

namespace sim {

TrafficEntry DescribeRequest(const std::string& device, uint32_t ioControlCode,
                             const std::vector<uint8_t>& input, uint32_t outputSize) {
  TrafficEntry e;
  e.device = device;
  e.ioControlCode = ioControlCode;
  e.inputSize = static_cast<uint32_t>(input.size());
  e.outputSize = outputSize;
  const bool vendor =
      ioControlCode == IOCTL_VENDOR_REQUEST || ioControlCode == IOCTL_USB_VENDOR_REQUEST;
  if (vendor && input.size() == driver_contract::kVendorRequestSize) {
    const driver_contract::VendorRequest h = driver_contract::DecodeVendorRequest(input.data());
    e.hasHeader = true;
    e.direction = h.Direction;
    e.requestCode = h.RequestCode;
    e.value = h.Value;
    e.index = h.Index;
  }
  return e;
}

}  // namespace sim
