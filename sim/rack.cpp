// Request routing, traffic and persistence for the modules of a scenario.
#include "sim/rack.h"

namespace sim {

bool Rack::Build(const Scenario& scenario, const EmbeddedImages& images, std::string* error) {
  if (!ValidateScenario(scenario, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  modules_.clear();
  devices_.clear();
  powerLost_ = false;
  for (const ModuleConfig& config : scenario.modules) {
    modules_.push_back(std::make_unique<Module>(config, images));
    Module* m = modules_.back().get();
    const std::string slot = std::to_string(config.slot);
    if (config.naming != Naming::kQDevUsb) devices_.emplace_back("QDev" + slot, m);
    if (config.naming != Naming::kQDev) devices_.emplace_back("QDevUsb" + slot, m);
  }
  return true;
}

bool Rack::AttachStore(const StateStore& store, bool fresh, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!fresh) {
    for (const auto& m : modules_) {
      std::vector<uint8_t> mcu, boot;
      switch (store.Load(m->config().slot, &mcu, &boot, error)) {
        case StateStore::LoadResult::kAbsent:
          break;
        case StateStore::LoadResult::kLoaded:
          m->RestoreMemories(mcu, boot);
          break;
        case StateStore::LoadResult::kDamaged:
          return false;
      }
    }
  }
  for (const auto& m : modules_) {
    if (!store.SaveMcuFlash(m->config().slot, m->mcuFlash(), error) ||
        !store.SaveBootFlash(m->config().slot, m->bootFlash(), error)) {
      return false;
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

void Rack::Save(const Module& module, bool mcuFlash, bool bootFlash) {
  if (!store_.IsOpen()) return;
  std::string error;
  const uint16_t slot = module.config().slot;
  const bool ok = (!mcuFlash || store_.SaveMcuFlash(slot, module.mcuFlash(), &error)) &&
                  (!bootFlash || store_.SaveBootFlash(slot, module.bootFlash(), &error));
  if (!ok && storeError_.empty()) storeError_ = error;
}

RackReply Rack::Serve(const std::string& device, uint32_t ioControlCode,
                      const std::vector<uint8_t>& input, const std::vector<uint8_t>& output) {
  std::lock_guard<std::mutex> lock(mutex_);
  RackReply reply;
  if (powerLost_) return reply;  // no power, no answer: the devices are on their way out
  Module* module = nullptr;
  for (const auto& d : devices_) {
    if (d.first == device) module = d.second;
  }
  if (module == nullptr) {
    reply.answered = true;
    reply.error = kRefusedError;
    return reply;
  }
  const Response r = module->Handle(ioControlCode, input, output);
  Save(*module, r.mcuFlashWritten, r.bootFlashWritten);

  TrafficEntry entry =
      DescribeRequest(device, ioControlCode, input, static_cast<uint32_t>(output.size()));
  entry.outcome = r.outcome;
  entry.transferred = r.transferred;
  traffic_.Add(FormatTrafficLine(entry));

  reply.answered = r.outcome != Outcome::kNoAnswer;
  reply.error = r.outcome == Outcome::kRefused ? kRefusedError : 0;
  reply.information = r.outcome == Outcome::kRefused ? 0 : r.transferred;
  reply.data = r.data;
  if (r.powerLost) {
    traffic_.Add(FormatPowerLossLine(device));
    powerLost_ = true;
    reply.powerLost = true;
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

Module* Rack::Find(uint16_t slot) const {
  for (const auto& m : modules_) {
    if (m->config().slot == slot) return m.get();
  }
  return nullptr;
}

bool Rack::HasModule(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(slot) != nullptr;
}

bool Rack::Peek(uint16_t slot, uint32_t address, uint32_t size, std::vector<uint8_t>* data) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Module* m = Find(slot);
  return m != nullptr && m->Peek(address, size, data);
}

bool Rack::Poke(uint16_t slot, uint32_t address, const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  Module* m = Find(slot);
  Memory written = Memory::kNone;
  if (m == nullptr || !m->Poke(address, data, &written)) return false;
  Save(*m, written == Memory::kMcuFlash, written == Memory::kBootFlash);
  return true;
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
