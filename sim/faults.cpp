// Fault selection for a simulated module.
#include "sim/faults.h"

namespace sim {

bool Touches(const RequestKey& key, uint32_t target) {
  if (!key.hasAddress) return false;
  if (key.size == 0) return target == key.address;
  return target >= key.address && static_cast<uint64_t>(target) - key.address < key.size;
}

void FaultPlan::Set(const std::vector<Fault>& faults) {
  faults_ = faults;
  counts_.assign(faults_.size(), 0);
}

void FaultPlan::ResetCounters() {
  counts_.assign(faults_.size(), 0);
}

const Fault* FaultPlan::Select(const RequestKey& key) {
  const Fault* fired = nullptr;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (f.request && *f.request != key.request) continue;
    if (f.address && !Touches(key, *f.address)) continue;
    ++counts_[i];
    const bool fires = f.nth == 0 || counts_[i] == f.nth;
    if (fires && fired == nullptr) fired = &f;
  }
  return fired;
}

}  // namespace sim
