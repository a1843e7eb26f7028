// Fault selection, in the manner of a test VFS's "fail the n-th call" counters: each fault counts
// the requests that match its filters, and fires on every one of them or on the n-th alone.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/request.h"
#include "sim/scenario.h"

namespace sim {

// Whether a request's range [address, address + length) touches `target`; a request without data
// touches only its own address, and one without an address touches nothing.
bool Touches(const Request& request, uint32_t target);

class FaultPlan {
 public:
  // Replaces the faults; their counters start from zero.
  void Set(const std::vector<Fault>& faults);
  // Counters back to zero, as at power-up.
  void ResetCounters();
  // Counts the request for every fault it matches and returns the first fault that fires, or
  // null.
  const Fault* Select(const Request& request);

 private:
  std::vector<Fault> faults_;
  std::vector<uint32_t> counts_;  // requests matched so far, one per fault
};

}  // namespace sim
