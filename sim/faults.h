// Fault selection, in the manner of a test VFS's "fail the n-th call" counters: each fault counts
// the requests that match its filters, and fires on every one of them or on the n-th alone.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/scenario.h"

namespace sim {

// What a fault's filters look at in a request.
struct RequestKey {
  uint32_t request = 0;     // vendor request code, or kDeviceInfoRequest
  bool hasAddress = false;  // reads and writes: Index:Value; run: 0x8300:Value
  uint32_t address = 0;
  uint32_t size = 0;  // data bytes, from the output-buffer size
};

// Whether a request's address range [address, address + size) touches `target`; a request
// without data touches only its own address.
bool Touches(const RequestKey& key, uint32_t target);

class FaultPlan {
 public:
  // Replaces the faults; their counters start from zero.
  void Set(const std::vector<Fault>& faults);
  // Counters back to zero, as at power-up.
  void ResetCounters();
  // Counts the request for every fault it matches and returns the first fault that fires, or
  // null.
  const Fault* Select(const RequestKey& key);

 private:
  std::vector<Fault> faults_;
  std::vector<uint32_t> counts_;  // requests matched so far, one per fault
};

}  // namespace sim
