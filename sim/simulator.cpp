// The in-process simulator: the rack of modules behind the platform's device endpoints, on every
// system.
#include "sim/simulator.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/device_endpoint.h"
#include "platform/folder_lock.h"
#include "platform/win32.h"
#include "sim/embedded_images.h"
#include "sim/rack.h"
#include "sim/scenario_json.h"
#include "sim/state_store.h"

namespace sim {

struct Simulator::Impl {
  Scenario scenario;
  EmbeddedImages images = LookupEmbeddedImages();
  Rack rack;
  bool built = false;  // the rack holds the scenario's modules

  std::mutex control;  // serialises LoadScenario, Start, Stop
  std::atomic<bool> running{false};
  std::string deviceDir;
  std::unique_ptr<qdev::EndpointServer> server;
  std::vector<std::unique_ptr<qdev::DeviceHandler>> endpoints;
  RequestObserver observer;     // changed only while stopped
  std::set<uint16_t> restored;  // slots whose memories came from the state folder at Start
  // The state folder's, from the start that first used it until this object ends or starts with
  // another folder: no other simulator serves from it meanwhile. A power cycle (Stop, Start)
  // keeps it, so that no other holder can come between, not even a child process of this one
  // that holds a copy of the lock's descriptor until it runs its program.
  std::unique_ptr<qdev::FolderLock> stateLock;
  std::string lockedDir;

  // Set while the devices go away, so that an answer held back waits no longer. Held-back answers
  // wait on it with the platform's timed wait, which the wait scale shortens as it shortens the
  // clients' time-outs: a delay keeps its relation to a request's time-out at any scale.
  HANDLE stopping = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~Impl() {
    if (stopping != nullptr) CloseHandle(stopping);
  }
  // False when the devices went away first.
  bool HoldBack(uint32_t ms) { return WaitForSingleObject(stopping, ms) == WAIT_TIMEOUT; }

  // Power loss: the server thread that meets it starts `stopper`, which takes the devices away.
  mutable std::mutex power;
  mutable std::condition_variable powerChanged;
  bool stopRequested = false;  // Stop is under way: no new stopper
  bool stopperStarted = false;
  bool devicesGone = false;  // the stopper has finished
  uint64_t events = 0;       // power losses, changes that could not be saved, interrupts
  uint64_t eventsSeen = 0;   // as many as WaitForEvent has returned for
  std::thread stopper;

  void Notify() {
    std::lock_guard<std::mutex> lock(power);
    ++events;
    powerChanged.notify_all();
  }

  void OnPowerLoss() {
    std::lock_guard<std::mutex> lock(power);
    if (stopRequested || stopperStarted) return;
    stopperStarted = true;
    SetEvent(stopping);
    // The server can't stop itself from its own thread. It sends the reply of this request
    // before it lets the devices go, so the client sees the reply first.
    stopper = std::thread([this] {
      server->Stop();
      std::lock_guard<std::mutex> done(power);
      devicesGone = true;
      ++events;
      powerChanged.notify_all();
    });
  }

  bool BuildIfNeeded(std::string* error) {
    if (built) return true;
    if (!rack.Build(scenario, images, error)) return false;
    built = true;
    return true;
  }

  bool HeldOpen(uint16_t slot) const {
    for (const ModuleConfig& m : scenario.modules) {
      if (m.slot == slot) return m.heldOpen;
    }
    return false;
  }

  // One simulator at a time serves from a state folder: two would each write what they alone
  // know, and the last writer's memories would win.
  static bool LockStateFolder(const std::string& dir, qdev::FolderLock* lock, std::string* error) {
    switch (lock->Lock(dir, error)) {
      case qdev::FolderLock::Result::kLocked:
        return true;
      case qdev::FolderLock::Result::kInUse:
        *error = "the state folder " + dir + " is in use by another simulator";
        return false;
      case qdev::FolderLock::Result::kFailed:
        break;
    }
    return false;
  }

  bool StartLocked(const SimulatorOptions& o, std::string* error);
  void StopLocked();

  // One device name of a module: hands its requests to the rack.
  class Endpoint : public qdev::DeviceHandler {
   public:
    Endpoint(Impl* impl, std::string name) : impl_(impl), name_(std::move(name)) {}

    bool Handle(const qdev::DeviceRequest& request, qdev::DeviceReply* reply) override {
      Reply r = impl_->rack.Serve(name_, request.ioControlCode, request.input, request.output);
      if (impl_->observer) impl_->observer(name_, request);
      if (r.answered && r.delayMs != 0 && !impl_->HoldBack(r.delayMs)) return false;
      if (r.powerLost) impl_->OnPowerLoss();
      // A refusal may be a change that could not be saved, which whoever waits must hear of.
      if (r.error != 0 && impl_->rack.HasStoreError()) impl_->Notify();
      if (!r.answered) return false;  // pending until the client gives up
      reply->error = r.error;
      reply->information = r.information;
      reply->data = std::move(r.data);
      return true;
    }

   private:
    Impl* impl_;
    std::string name_;
  };
};

// Every check comes before anything is written: the state folder is locked (a live simulator's
// folder refuses it; this object may hold it from an earlier start) and its saved memories are
// read, then the endpoints are claimed (a live simulator's devices refuse them) and the traffic
// file is opened, and only then are state files written. A failure releases what this start
// claimed and leaves the modules as they were.
bool Simulator::Impl::StartLocked(const SimulatorOptions& o, std::string* error) {
  if (running) {
    *error = "the simulator is already running";
    return false;
  }
  if (!BuildIfNeeded(error)) return false;
  if (stopping == nullptr) {
    *error = "cannot create an event (error " + std::to_string(GetLastError()) + ")";
    return false;
  }

  StateStore store;
  std::vector<SavedMemories> saved;
  const bool keepState = !o.stateDir.empty();
  std::unique_ptr<qdev::FolderLock> newLock;  // of a folder that this object does not hold yet
  if (keepState && lockedDir != o.stateDir) newLock = std::make_unique<qdev::FolderLock>();
  if (keepState && (!store.Open(o.stateDir, error) ||
                    (newLock != nullptr && !LockStateFolder(o.stateDir, newLock.get(), error)) ||
                    !rack.ReadStore(store, o.fresh, &saved, error))) {
    return false;
  }
  auto s = std::make_unique<qdev::EndpointServer>(o.deviceDir);
  std::vector<std::unique_ptr<qdev::DeviceHandler>> handlers;
  for (const auto& device : rack.Devices()) {
    handlers.push_back(std::make_unique<Endpoint>(this, device.first));
    if (!s->AddDevice(device.first, handlers.back().get(), error)) return false;
#ifndef _WIN32
    if (HeldOpen(device.second)) s->HoldOpen(device.first);
#endif
  }
  if (!o.trafficFile.empty()) {
    if (!rack.traffic().OpenFile(o.trafficFile, error)) return false;
  } else {
    rack.traffic().WriteTo(o.trafficStream);
  }
  if (keepState && !rack.AttachStore(store, saved, error)) return false;
  if (!keepState) rack.DetachStore();
  restored.clear();
  for (const SavedMemories& m : saved) restored.insert(m.slot);
  rack.traffic().SetLinesKept(o.trafficLinesKept);
  rack.traffic().Clear();
  if (o.noFaults) {
    for (const ModuleConfig& m : scenario.modules) rack.SetFaults(m.slot, {});
  }
  {
    std::lock_guard<std::mutex> lock(power);
    stopRequested = false;
    stopperStarted = false;
    devicesGone = false;
  }
  ResetEvent(stopping);
  rack.PowerUp();

  server = std::move(s);
  endpoints = std::move(handlers);
  if (!server->Start(error)) {
    server.reset();
    endpoints.clear();
    return false;
  }
  deviceDir = server->DeviceDir();
  if (newLock != nullptr || !keepState) {
    stateLock = std::move(newLock);
    lockedDir = keepState ? o.stateDir : std::string();
  }
  running = true;
  return true;
}

void Simulator::Impl::StopLocked() {
  if (!running) return;
  {
    std::lock_guard<std::mutex> lock(power);
    stopRequested = true;
  }
  SetEvent(stopping);
  if (stopper.joinable()) stopper.join();
  server->Stop();
  server.reset();
  endpoints.clear();
  running = false;
}

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {
  std::string ignored;
  impl_->BuildIfNeeded(&ignored);
}

// An invalid scenario leaves no modules; Start then reports why.
Simulator::Simulator(const Scenario& scenario) : impl_(std::make_unique<Impl>()) {
  impl_->scenario = scenario;
  std::string ignored;
  impl_->BuildIfNeeded(&ignored);
}

Simulator::~Simulator() {
  Stop();
}

bool Simulator::LoadScenario(const std::string& json, std::string* error) {
  Scenario s;
  if (!ParseScenario(json, &s, error)) return false;
  return SetScenario(s, error);
}

bool Simulator::SetScenario(const Scenario& scenario, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->control);
  if (impl_->running) {
    *error = "the scenario cannot change while the simulator runs";
    return false;
  }
  if (!impl_->rack.Build(scenario, impl_->images, error)) return false;
  impl_->scenario = scenario;
  impl_->built = true;
  return true;
}

bool Simulator::Start(const SimulatorOptions& options, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->control);
  return impl_->StartLocked(options, error);
}

bool Simulator::Start(const std::string& deviceDir, std::string* error) {
  SimulatorOptions o;
  o.deviceDir = deviceDir;
  return Start(o, error);
}

void Simulator::Stop() {
  std::lock_guard<std::mutex> lock(impl_->control);
  impl_->StopLocked();
}

bool Simulator::WaitForPowerLoss(int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->power);
  return impl_->powerChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [this] { return impl_->devicesGone; });
}

bool Simulator::WaitForEvent(int timeoutMs) {
  std::unique_lock<std::mutex> lock(impl_->power);
  auto happened = [this] { return impl_->events != impl_->eventsSeen; };
  if (timeoutMs < 0) {
    impl_->powerChanged.wait(lock, happened);
  } else if (!impl_->powerChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), happened)) {
    return false;
  }
  impl_->eventsSeen = impl_->events;
  return true;
}

void Simulator::Interrupt() {
  impl_->Notify();
}

std::string Simulator::DeviceDir() const {
  std::lock_guard<std::mutex> lock(impl_->control);
  return impl_->deviceDir;
}

std::vector<std::string> Simulator::DeviceNames() const {
  std::vector<std::string> names;
  for (const auto& d : impl_->rack.Devices()) names.push_back(d.first);
  return names;
}

std::vector<std::string> Simulator::Traffic() const {
  return impl_->rack.traffic().Lines();
}

void Simulator::ClearTraffic() {
  impl_->rack.traffic().Clear();
}

bool Simulator::ReadMemory(uint16_t slot, uint32_t address, uint32_t size,
                           std::vector<uint8_t>* data) const {
  return impl_->rack.Peek(slot, address, size, data);
}

std::vector<uint8_t> Simulator::McuFlash(uint16_t slot) const {
  return impl_->rack.McuFlash(slot);
}

std::vector<uint8_t> Simulator::BootFlash(uint16_t slot) const {
  return impl_->rack.BootFlash(slot);
}

bool Simulator::ApplicationRunning(uint16_t slot) const {
  return impl_->rack.ApplicationRunning(slot);
}

bool Simulator::MemoriesFromStateFolder(uint16_t slot) const {
  std::lock_guard<std::mutex> lock(impl_->control);
  return impl_->restored.count(slot) != 0;
}

bool Simulator::SetFaults(uint16_t slot, const std::vector<Fault>& faults) {
  return impl_->rack.SetFaults(slot, faults);
}

std::string Simulator::TakeStateError() {
  return impl_->rack.TakeStoreError();
}

bool Simulator::SetRequestObserver(RequestObserver observer) {
  std::lock_guard<std::mutex> lock(impl_->control);
  if (impl_->running) return false;
  impl_->observer = std::move(observer);
  return true;
}

}  // namespace sim
