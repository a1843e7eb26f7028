// The traffic record: one line per request that a simulated module served, in a fixed format
// that tests compare exactly:
//
//   QDev0 ioctl=0x22003E dir=1 req=0x0E read value=0x3000 index=0x9100 addr=0x91003000 len=16 -> ok
//   QDev0 ioctl=0x22003E dir=0 req=0x0F run value=0x3C00 index=0x0000 addr=0x83003C00 len=0 -> ok
//   QDev0 ioctl=0x22005E deviceInfo len=80 -> ok after 40 ms
//   QDevUsb2 ioctl=0x220012 in=5 len=0 -> refused
//   QDev0 power lost
//
// A vendor request shows its header fields, the name of its kind after its code and, when its
// kind carries one, the module address; any other code, or a vendor request whose input is not
// an 8-byte header (shown as in=N), shows only its kind's name (when the code has one) and the
// sizes. len is the output-buffer size. Outcomes: "ok", "refused", "no answer", "short N" (N bytes
// transferred), followed by "after N ms" when the answer was held back. A power loss adds its own
// line after the request that caused it.
//
// The record's file (or stream) gives every line a time stamp, the milliseconds since it was
// opened, in a column of its own ahead of the line: "[   1234 ms] QDev0 ...". Comparisons strip
// it (WithoutTimeStamp, and the scripts' r4690_without_time_stamps); the in-memory lines have none.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "sim/request.h"

namespace sim {

// What a traffic line shows: the request and what became of it.
struct TrafficEntry {
  Request request;
  Outcome outcome = Outcome::kOk;
  uint32_t transferred = 0;  // kShort: bytes transferred
  uint32_t delayMs = 0;      // the answer was held back this long (not with kNoAnswer)
};

std::string FormatTrafficLine(const TrafficEntry& entry);
std::string FormatPowerLossLine(const std::string& device);

// The time-stamp column of a line of the record's file: "[   1234 ms] ".
std::string TimeStamp(uint64_t milliseconds);
// A line without its time-stamp column; a line without one as it is.
std::string WithoutTimeStamp(const std::string& line);

// The lines in memory, and optionally a file or stream that receives each line as it is added,
// time-stamped and flushed, so that a killed simulator leaves a complete record. In memory it
// keeps the newest `linesKept` lines since the last Clear (older ones are dropped), so that a
// simulator that serves for days stays the same size. Thread-safe.
class TrafficRecord {
 public:
  static constexpr size_t kDefaultLinesKept = 10000;  // far more than one run of the utility

  // Truncates or creates the file, which then receives the lines, time stamps counting from
  // now; false with a one-line reason.
  bool OpenFile(const std::string& path, std::string* error);
  // The stream (standard output, say) receives the lines instead of a file, time stamps counting
  // from now; null: neither. It must outlive its use here.
  void WriteTo(std::ostream* stream);
  void SetLinesKept(size_t linesKept);  // drops the oldest lines beyond it at once
  void Add(const std::string& line);
  std::vector<std::string> Lines() const;
  void Clear();  // the in-memory lines only; the file keeps growing

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
  size_t linesKept_ = kDefaultLinesKept;
  std::ofstream file_;
  std::ostream* output_ = nullptr;  // &file_, a stream given to WriteTo, or null
  std::chrono::steady_clock::time_point start_;
};

}  // namespace sim
