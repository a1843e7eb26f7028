// The request handling of a simulated module.
#include "sim/module.h"

#include <algorithm>
#include <cstring>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"

namespace sim {

namespace dc = driver_contract;

Module::Module(const ModuleConfig& config, const EmbeddedImages& images)
    : config_(config),
      images_(images),
      mcuFlash_(InitialMcuFlash(config, images)),
      bootFlash_(InitialBootFlash(config, images)) {
  gradeData_[0] = config.temperatureGrade;
  std::memset(pldText_, 0, sizeof pldText_);
  faults_.Set(config.faults);
}

bool Module::RestoreMemories(const std::vector<uint8_t>& mcuFlash,
                             const std::vector<uint8_t>& bootFlash) {
  if (mcuFlash.size() != kMcuFlashSize || bootFlash.size() != kBootFlashSize) return false;
  mcuFlash_ = mcuFlash;
  bootFlash_ = bootFlash;
  return true;
}

void Module::PowerUp() {
  pldConfigured_ = false;
  std::memset(pldText_, 0, sizeof pldText_);
  if (config_.configurePldAtPowerUp) ReloadPld();
  applicationRunning_ = ApplicationPresent();
  faults_.ResetCounters();
}

bool Module::ApplicationPresent() const {
  return !(mcuFlash_[0] == 0xFF && mcuFlash_[1] == 0xFF);
}

void Module::ReloadPld() {
  pldConfigured_ = false;
  std::memset(pldText_, 0, sizeof pldText_);
  const ByteRange image = ConfigurableImage(bootFlash_);
  if (image.data == nullptr) return;
  const char* embedded = EmbeddedPldText(images_, image);
  const std::string text =
      embedded != nullptr ? embedded : OtherPldText(config_.otherPldVersion, config_.otherPldText);
  std::memcpy(pldText_, text.data(), std::min(text.size(), sizeof pldText_));
  pldConfigured_ = true;
}

std::string Module::PldText() const {
  const uint8_t* end = std::find(pldText_, pldText_ + sizeof pldText_, 0);
  return std::string(pldText_, end);
}

Reply Module::Handle(const Request& request, const std::vector<uint8_t>& output,
                     MemoryChange* change) {
  MemoryChange ignored;
  if (change == nullptr) change = &ignored;
  const Fault* fault = faults_.Select(request);
  Reply r = Apply(fault, request, output, change);
  if (fault != nullptr && fault->action == FaultAction::kDelay) {
    r.delayMs = fault->delayMs;
  } else if (r.answered) {
    r.delayMs = config_.latencyMs;
  }
  return r;
}

Reply Module::Apply(const Fault* fault, const Request& request, const std::vector<uint8_t>& output,
                    MemoryChange* change) {
  const uint32_t asked = request.length;
  if (fault == nullptr) return Execute(request, output, asked, change);
  switch (fault->action) {
    case FaultAction::kFail:
      return Reply::Refused();
    case FaultAction::kNoAnswer:
      return Reply::Unanswered();
    case FaultAction::kShort: {
      if (asked == 0) break;  // nothing can be fewer than nothing
      const uint32_t k = std::min(fault->bytes.value_or(asked - 1), asked - 1);
      Reply r = Execute(request, output, k, change);
      if (r.error != 0) return r;
      r.cutShort = true;
      r.information = k;
      if (r.data.size() > k) r.data.resize(k);
      return r;
    }
    case FaultAction::kPowerLoss: {
      Reply r = Execute(request, output, asked, change);
      r.powerLost = true;
      return r;
    }
    case FaultAction::kDelay:
      break;  // carried out as without the fault; Handle sets the delay
  }
  return Execute(request, output, asked, change);
}

bool Module::Admits(const Request& request) const {
  const RequestKind* kind = request.kind;
  if (kind == nullptr) return false;
  // While the application runs, the boot loader only identifies itself and switches.
  if (applicationRunning_ && !kind->whileApplicationRuns) return false;
  if (request.hasHeader && request.header.Direction != kind->direction) return false;
  return request.length >= kind->minLength && request.length <= kind->maxLength;
}

Reply Module::Execute(const Request& request, const std::vector<uint8_t>& output,
                      uint32_t storeLimit, MemoryChange* change) {
  if (!Admits(request)) return Reply::Refused();
  switch (request.kind->code) {
    case kDeviceInfoRequest:
      return DeviceInformation();
    case dc::kRequestModuleName:
      return ModelName();
    case dc::kRequestUsbSpeed:
      return Reply::Completed({config_.usbSpeed});
    case dc::kRequestRead:
      return Read(*request.address, request.length);
    case dc::kRequestWrite:
      return Write(*request.address, output, storeLimit, change);
    case dc::kRequestRun:
      return Run(*request.address);
    case dc::kRequestReloadPld:
      ReloadPld();  // the request succeeds whatever the reload finds
      return Reply::Completed({});
    case dc::kRequestVerifyPld:
      return pldConfigured_ ? Reply::Completed({}) : Reply::Refused();
  }
  return Reply::Refused();  // a kind without a handler
}

// The driver's own record, answered whatever the MCU runs.
Reply Module::DeviceInformation() const {
  std::vector<uint8_t> info(dc::kDeviceInfoSize, 0);
  dc::SetModuleTypeCode(info.data(), config_.typeCode);
  return Reply::Completed(std::move(info));
}

Reply Module::ModelName() const {
  std::vector<uint8_t> name(dc::kModuleNameLength, 0);
  std::copy_n(config_.modelName.begin(), std::min<size_t>(config_.modelName.size(), name.size()),
              name.begin());
  return Reply::Completed(std::move(name));
}

Reply Module::Run(uint32_t address) {
  if (address == module_addresses::kApplicationEntry) {
    if (!ApplicationPresent()) return Reply::Refused();
    applicationRunning_ = true;
    return Reply::Completed({});
  }
  if (address == module_addresses::kBootLoaderEntry) {
    applicationRunning_ = false;
    return Reply::Completed({});
  }
  return Reply::Refused();
}

const uint8_t* Module::MemoryAt(const Location& where) const {
  switch (where.memory) {
    case Memory::kMcuFlash:
      return mcuFlash_.data() + where.offset;
    case Memory::kBootFlash:
      return bootFlash_.data() + where.offset;
    case Memory::kGradeData:
      return gradeData_ + where.offset;
    case Memory::kPldText:
      return pldText_ + where.offset;
    case Memory::kNone:
      break;
  }
  return nullptr;
}

Reply Module::Read(uint32_t address, uint32_t size) const {
  const Location where = Locate(address, size, AliasesEnabled(config_));
  if (!MayRead(where, pldConfigured_)) return Reply::Refused();
  const uint8_t* p = MemoryAt(where);
  return Reply::Completed(std::vector<uint8_t>(p, p + size));
}

Reply Module::Write(uint32_t address, const std::vector<uint8_t>& data, uint32_t storeLimit,
                    MemoryChange* change) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  const Location where = Locate(address, size, AliasesEnabled(config_));
  if (!MayWrite(where, size)) return Reply::Refused();
  *change = Store(where, data.data(), std::min(size, storeLimit));
  Reply r = Reply::Completed({});
  r.information = size;
  return r;
}

MemoryChange Module::Store(const Location& where, const uint8_t* data, uint32_t size) {
  MemoryChange change;
  if (size == 0) return change;
  std::vector<uint8_t>& memory = where.memory == Memory::kMcuFlash ? mcuFlash_ : bootFlash_;
  change.memory = where.memory;
  change.offset = where.offset;
  change.before.assign(memory.begin() + where.offset, memory.begin() + where.offset + size);
  std::copy_n(data, size, memory.begin() + where.offset);
  return change;
}

void Module::Revert(const MemoryChange& change) {
  if (change.memory != Memory::kMcuFlash && change.memory != Memory::kBootFlash) return;
  std::vector<uint8_t>& memory = change.memory == Memory::kMcuFlash ? mcuFlash_ : bootFlash_;
  std::copy(change.before.begin(), change.before.end(), memory.begin() + change.offset);
}

const uint8_t* Module::Current(const MemoryChange& change) const {
  return MemoryAt(Location{change.memory, change.offset});
}

bool Module::Peek(uint32_t address, uint32_t size, std::vector<uint8_t>* data) const {
  const Location where = Locate(address, size, true);
  if (where.memory == Memory::kNone || data == nullptr) return false;
  const uint8_t* p = MemoryAt(where);
  data->assign(p, p + size);
  return true;
}

bool Module::Poke(uint32_t address, const std::vector<uint8_t>& data, MemoryChange* change) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  const Location where = Locate(address, size, true);
  MemoryChange made;
  switch (where.memory) {
    case Memory::kMcuFlash:
    case Memory::kBootFlash:
      made = Store(where, data.data(), size);
      break;
    case Memory::kGradeData:
      std::copy(data.begin(), data.end(), gradeData_ + where.offset);
      break;
    case Memory::kPldText:
    case Memory::kNone:
      return false;
  }
  if (change != nullptr) *change = std::move(made);
  return true;
}

}  // namespace sim
