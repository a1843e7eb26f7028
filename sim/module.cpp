// The request handling of a simulated module.
#include "sim/module.h"

#include <algorithm>
#include <cstring>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"

namespace sim {

namespace dc = driver_contract;

namespace {

constexpr uint16_t kRunApplication = 0x0000;  // Value of request 0x0F: start the application
constexpr uint16_t kRunBootLoader = 0x3C00;   // Value of request 0x0F: back to the boot loader

bool IsVendorCode(uint32_t code) {
  return code == IOCTL_VENDOR_REQUEST || code == IOCTL_USB_VENDOR_REQUEST;
}

Response Refused() {
  return Response{};
}

Response Completed(std::vector<uint8_t> data) {
  Response r;
  r.outcome = Outcome::kOk;
  r.transferred = static_cast<uint32_t>(data.size());
  r.data = std::move(data);
  return r;
}

}  // namespace

RequestKey KeyOf(uint32_t ioControlCode, const std::vector<uint8_t>& input, uint32_t outputSize) {
  RequestKey key;
  key.size = outputSize;
  if (ioControlCode == IOCTL_GET_DEVICE_INFO) {
    key.request = kDeviceInfoRequest;
  } else if (IsVendorCode(ioControlCode) && input.size() == dc::kVendorRequestSize) {
    const dc::VendorRequest h = dc::DecodeVendorRequest(input.data());
    key.request = h.RequestCode;
    if (h.RequestCode == dc::kRequestRead || h.RequestCode == dc::kRequestWrite) {
      key.hasAddress = true;
      key.address = static_cast<uint32_t>(h.Index) << 16 | h.Value;
    } else if (h.RequestCode == dc::kRequestRun) {
      key.hasAddress = true;
      key.address = SEL_MCU_FLASH | h.Value;
    }
  } else {
    key.request = 0xFFFFFFFF;  // matches no request filter
  }
  return key;
}

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

Response Module::Handle(uint32_t ioControlCode, const std::vector<uint8_t>& input,
                        const std::vector<uint8_t>& output) {
  const uint32_t asked = static_cast<uint32_t>(output.size());
  const Fault* fault = faults_.Select(KeyOf(ioControlCode, input, asked));
  if (fault == nullptr) return Execute(ioControlCode, input, output, asked);
  switch (fault->action) {
    case FaultAction::kFail:
      return Refused();
    case FaultAction::kNoAnswer: {
      Response r;
      r.outcome = Outcome::kNoAnswer;
      return r;
    }
    case FaultAction::kShort: {
      if (asked == 0) break;  // nothing can be fewer than nothing
      const uint32_t k = std::min(fault->bytes.value_or(asked - 1), asked - 1);
      Response r = Execute(ioControlCode, input, output, k);
      if (r.outcome != Outcome::kOk) return r;
      r.outcome = Outcome::kShort;
      r.transferred = k;
      if (r.data.size() > k) r.data.resize(k);
      return r;
    }
    case FaultAction::kPowerLoss: {
      Response r = Execute(ioControlCode, input, output, asked);
      r.powerLost = true;
      return r;
    }
  }
  return Execute(ioControlCode, input, output, asked);
}

Response Module::Execute(uint32_t ioControlCode, const std::vector<uint8_t>& input,
                         const std::vector<uint8_t>& output, uint32_t writeLimit) {
  if (ioControlCode == IOCTL_GET_DEVICE_INFO) {
    // The driver's own record, answered whatever the MCU runs.
    if (output.size() < dc::kDeviceInfoSize) return Refused();
    std::vector<uint8_t> info(dc::kDeviceInfoSize, 0);
    dc::SetModuleTypeCode(info.data(), config_.typeCode);
    return Completed(std::move(info));
  }
  if (!IsVendorCode(ioControlCode) || input.size() != dc::kVendorRequestSize) return Refused();
  const dc::VendorRequest h = dc::DecodeVendorRequest(input.data());
  return VendorRequest(h.Direction, h.RequestCode, h.Value, h.Index, output, writeLimit);
}

Response Module::VendorRequest(uint16_t direction, uint16_t code, uint16_t value, uint16_t index,
                               const std::vector<uint8_t>& output, uint32_t writeLimit) {
  const size_t length = output.size();
  const bool toHost = direction == dc::kDirectionToHost;
  const bool toModule = direction == dc::kDirectionToModule;
  // While the application runs, the boot loader only identifies itself and switches.
  if (applicationRunning_ && code != dc::kRequestRun && code != dc::kRequestModuleName &&
      code != dc::kRequestUsbSpeed) {
    return Refused();
  }
  const uint32_t address = static_cast<uint32_t>(index) << 16 | value;
  switch (code) {
    case dc::kRequestModuleName: {
      if (!toHost || length != dc::kModuleNameLength) return Refused();
      std::vector<uint8_t> name(dc::kModuleNameLength, 0);
      std::copy_n(config_.modelName.begin(),
                  std::min<size_t>(config_.modelName.size(), name.size()), name.begin());
      return Completed(std::move(name));
    }
    case dc::kRequestUsbSpeed:
      if (!toHost || length != dc::kUsbSpeedLength) return Refused();
      return Completed({config_.usbSpeed});
    case dc::kRequestRead:
      if (!toHost) return Refused();
      return Read(address, static_cast<uint32_t>(length));
    case dc::kRequestWrite:
      if (!toModule) return Refused();
      return Write(address, output, writeLimit);
    case dc::kRequestRun:
      if (!toModule || length != 0) return Refused();
      if (value == kRunApplication) {
        if (!ApplicationPresent()) return Refused();
        applicationRunning_ = true;
        return Completed({});
      }
      if (value == kRunBootLoader) {
        applicationRunning_ = false;
        return Completed({});
      }
      return Refused();
    case dc::kRequestReloadPld:
      if (!toModule || length != 0) return Refused();
      ReloadPld();  // the request succeeds whatever the reload finds
      return Completed({});
    case dc::kRequestVerifyPld:
      if (!toModule || length != 0) return Refused();
      return pldConfigured_ ? Completed({}) : Refused();
    default:
      return Refused();
  }
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

Response Module::Read(uint32_t address, uint32_t size) {
  if (size > dc::kMaxTransferSize) return Refused();
  const Location where = Locate(address, size, AliasesEnabled(config_));
  if (!MayRead(where, pldConfigured_)) return Refused();
  const uint8_t* p = MemoryAt(where);
  return Completed(std::vector<uint8_t>(p, p + size));
}

Response Module::Write(uint32_t address, const std::vector<uint8_t>& data, uint32_t writeLimit) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  if (size > dc::kMaxTransferSize) return Refused();
  const Location where = Locate(address, size, AliasesEnabled(config_));
  if (!MayWrite(where, size)) return Refused();
  Response r = Completed({});
  r.transferred = size;
  r.change = Store(where, data.data(), std::min(size, writeLimit));
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
