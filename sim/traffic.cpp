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

#include "modlib/driver_contract.h"

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
