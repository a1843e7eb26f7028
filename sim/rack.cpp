// Request routing, traffic and persistence for the modules of a scenario.
#include "sim/rack.h"

#include "contract/driver_contract.h"

namespace sim {

namespace dc = driver_contract;

bool Rack::Build(const Scenario& scenario, const EmbeddedImages& images, std::string* error) {
  if (!ValidateScenario(scenario, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  modules_.clear();
  devices_.clear();
  powerLost_ = false;
  for (const ModuleConfig& config : scenario.modules) {
    modules_.push_back(std::make_unique<Module>(config, images));
    Module* m = modules_.back().get();
    if (config.naming != Naming::kQDevUsb) {
      devices_.emplace_back(dc::DeviceName(dc::DeviceNaming::kQDev, config.slot).text, m);
    }
    if (config.naming != Naming::kQDev) {
      devices_.emplace_back(dc::DeviceName(dc::DeviceNaming::kQDevUsb, config.slot).text, m);
    }
  }
  return true;
}

bool Rack::ReadStore(const StateStore& store, bool fresh, std::vector<SavedMemories>* saved,
                     std::string* error) const {
  std::lock_guard<std::mutex> lock(mutex_);
  saved->clear();
  if (fresh) return true;
  for (const auto& m : modules_) {
    SavedMemories s;
    s.slot = m->config().slot;
    switch (store.Load(s.slot, &s.mcuFlash, &s.bootFlash, error)) {
      case StateStore::LoadResult::kAbsent:
        break;
      case StateStore::LoadResult::kLoaded:
        saved->push_back(std::move(s));
        break;
      case StateStore::LoadResult::kDamaged:
        return false;
    }
  }
  return true;
}

bool Rack::AttachStore(const StateStore& store, const std::vector<SavedMemories>& saved,
                       std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto savedOf = [&saved](uint16_t slot) -> const SavedMemories* {
    for (const SavedMemories& s : saved) {
      if (s.slot == slot) return &s;
    }
    return nullptr;
  };
  for (const auto& m : modules_) {
    if (savedOf(m->config().slot) == nullptr &&
        !store.Create(m->config().slot, m->mcuFlash(), m->bootFlash(), error)) {
      return false;
    }
  }
  for (const auto& m : modules_) {
    if (const SavedMemories* s = savedOf(m->config().slot)) {
      m->RestoreMemories(s->mcuFlash, s->bootFlash);
    }
  }
  store_ = store;
  return true;
}

void Rack::DetachStore() {
  std::lock_guard<std::mutex> lock(mutex_);
  store_ = StateStore();
}

void Rack::PowerUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& m : modules_) m->PowerUp();
  powerLost_ = false;
}

std::vector<std::pair<std::string, uint16_t>> Rack::Devices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::string, uint16_t>> out;
  for (const auto& d : devices_) out.emplace_back(d.first, d.second->config().slot);
  return out;
}

bool Rack::Keep(Module* module, const MemoryChange& change) {
  if (!store_.IsOpen() || change.memory == Memory::kNone) return true;
  std::string error;
  if (store_.WriteRange(module->config().slot, change.memory, change.offset,
                        module->Current(change), change.before.size(), &error)) {
    return true;
  }
  module->Revert(change);
  if (storeError_.empty()) storeError_ = error;
  return false;
}

Reply Rack::Serve(const std::string& device, uint32_t ioControlCode,
                  const std::vector<uint8_t>& input, const std::vector<uint8_t>& output) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (powerLost_) return Reply::Unanswered();  // no power: the devices are on their way out
  Module* module = nullptr;
  for (const auto& d : devices_) {
    if (d.first == device) module = d.second;
  }
  if (module == nullptr) return Reply::Refused();
  const Request request =
      DecodeRequest(device, ioControlCode, input, static_cast<uint32_t>(output.size()));
  MemoryChange change;
  Reply reply = module->Handle(request, output, &change);
  if (!Keep(module, change)) {
    // A change that cannot be kept is not reported as done.
    const bool powerLost = reply.powerLost;
    reply = Reply::Refused();
    reply.powerLost = powerLost;
  }
  traffic_.Add(FormatTrafficLine(
      {request, OutcomeOf(reply), reply.information, reply.answered ? reply.delayMs : 0}));
  if (reply.powerLost) {
    traffic_.Add(FormatPowerLossLine(device));
    powerLost_ = true;
  }
  return reply;
}

bool Rack::PowerLost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return powerLost_;
}

std::string Rack::TakeStoreError() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string e;
  e.swap(storeError_);
  return e;
}

bool Rack::HasStoreError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !storeError_.empty();
}

Module* Rack::Find(uint16_t slot) const {
  for (const auto& m : modules_) {
    if (m->config().slot == slot) return m.get();
  }
  return nullptr;
}

bool Rack::Peek(uint16_t slot, uint32_t address, uint32_t size, std::vector<uint8_t>* data) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr && m->Peek(address, size, data);
}

bool Rack::Poke(uint16_t slot, uint32_t address, const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  Module* m = Find(slot);
  MemoryChange change;
  return m != nullptr && m->Poke(address, data, &change) && Keep(m, change);
}

std::vector<uint8_t> Rack::McuFlash(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr ? m->mcuFlash() : std::vector<uint8_t>();
}

std::vector<uint8_t> Rack::BootFlash(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr ? m->bootFlash() : std::vector<uint8_t>();
}

bool Rack::PldConfigured(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr && m->pldConfigured();
}

std::string Rack::PldText(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr && m->pldConfigured() ? m->PldText() : std::string();
}

bool Rack::ApplicationRunning(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr && m->applicationRunning();
}

bool Rack::SetFaults(uint16_t slot, const std::vector<Fault>& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  Module* m = Find(slot);
  if (m == nullptr) return false;
  m->SetFaults(faults);
  return true;
}

}  // namespace sim
