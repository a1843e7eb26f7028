// Fault selection for a simulated module.
#include "sim/faults.h"

namespace sim {

bool Touches(const Request& request, uint32_t target) {
  if (!request.address) return false;
  const uint32_t start = *request.address;
  if (request.length == 0) return target == start;
  return target >= start && static_cast<uint64_t>(target) - start < request.length;
}

void FaultPlan::Set(const std::vector<Fault>& faults) {
  faults_ = faults;
  counts_.assign(faults_.size(), 0);
}

void FaultPlan::ResetCounters() {
  counts_.assign(faults_.size(), 0);
}

const Fault* FaultPlan::Select(const Request& request) {
  const Fault* fired = nullptr;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (f.request && *f.request != request.code) continue;
    if (f.address && !Touches(request, *f.address)) continue;
    ++counts_[i];
    const bool fires = f.nth == 0 || counts_[i] == f.nth;
    if (fires && fired == nullptr) fired = &f;
  }
  return fired;
}

}  // namespace sim
