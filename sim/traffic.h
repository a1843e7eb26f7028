// The traffic record: one line per request that a simulated module served, in a fixed format
// that tests compare exactly:
//
//   QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> ok
//   QDev0 ioctl=0x22005E len=80 -> ok
//   QDevUsb2 ioctl=0x220012 in=5 len=0 -> refused
//   QDev0 power lost
//
// A vendor request shows its header fields; any other code, or a vendor request whose input is
// not an 8-byte header (shown as in=N), shows only the sizes. len is the output-buffer size.
// Outcomes: "ok", "refused", "no answer", "short N" (N bytes transferred). A power loss adds its
// own line after the request that caused it.
#pragma once

#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "sim/request.h"

namespace sim {

// What a traffic line shows: the request and what became of it.
struct TrafficEntry {
  Request request;
  Outcome outcome = Outcome::kOk;
  uint32_t transferred = 0;  // kShort: bytes transferred
};

std::string FormatTrafficLine(const TrafficEntry& entry);
std::string FormatPowerLossLine(const std::string& device);
// Reads back a line that FormatTrafficLine wrote, into the request decoded as the simulator
// decodes it; false for any other line, a power-loss line among them.
bool ParseTrafficLine(const std::string& line, TrafficEntry* entry);

// The lines so far, and optionally a file that receives each line as it is added (flushed per
// line, so that a killed simulator leaves a complete record). Thread-safe.
class TrafficRecord {
 public:
  // Truncates or creates the file; false with a one-line reason.
  bool OpenFile(const std::string& path, std::string* error);
  void Add(const std::string& line);
  std::vector<std::string> Lines() const;
  void Clear();  // the in-memory lines only; the file keeps growing

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::ofstream file_;
};

}  // namespace sim
