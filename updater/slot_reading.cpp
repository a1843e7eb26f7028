// Reading every slot: the base interface opens and names what is there; an R46-90 is read by
// the update sequence itself, read only.
#include "updater/slot_reading.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "modlib/error_codes.h"

namespace updater {

namespace {

// Slots are looked at this many at once: enough that modules which stop answering time out
// together, few enough for a small machine.
constexpr size_t kReaders = 16;

constexpr char kModelName[] = "R46-90";

SlotReading ReadSlot(const UpdateDependencies& deps, uint16_t slot, bool leaveRunning) {
  SlotReading reading;
  reading.slot = slot;
  IQUSBBASE* base = deps.createBase();
  if (base == nullptr) {
    reading.kind = SlotKind::kUnknownDevice;
    return reading;
  }
  if (!base->OpenQDevice(slot)) {
    LastErrorInfo info = {};
    base->GetLastErrorInfo(&info);
    base->ReleaseInstance();
    reading.error = static_cast<uint16_t>(info.ErrorNumber);
    reading.kind =
        reading.error == module_error::kDeviceInUse ? SlotKind::kHeld : SlotKind::kUnknownDevice;
    return reading;
  }
  char name[16] = {};  // GetModuleName fills 7 bytes
  const bool named = base->GetModuleName(name);
  base->ReleaseInstance();
  reading.model = name;
  if (!named || std::strcmp(name, kModelName) != 0) {
    reading.kind = SlotKind::kOtherModel;
    return reading;
  }
  RunSettings settings;
  settings.slot = slot;
  settings.readOnly = true;
  settings.leaveRunning = leaveRunning;
  settings.stopEndsProcess = false;
  reading.run = RunModule(deps, settings);
  return reading;
}

// Whether a slot is empty: its device does not open, and nobody holds it.
bool Empty(const SlotReading& reading) {
  return reading.kind == SlotKind::kUnknownDevice && reading.error == module_error::kOpenDevice;
}

}  // namespace

void ForEachOnThreads(size_t count, size_t threads, const std::function<void(size_t)>& work) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  for (size_t t = 0; t < std::min(count, threads); ++t) {
    pool.emplace_back([&] {
      for (size_t i; (i = next++) < count;) work(i);
    });
  }
  for (std::thread& thread : pool) thread.join();
}

std::vector<SlotReading> ReadSlots(const UpdateDependencies& deps, bool leaveRunning) {
  std::vector<SlotReading> all(kSlotCount);
  ForEachOnThreads(kSlotCount, kReaders, [&](size_t slot) {
    all[slot] = ReadSlot(deps, static_cast<uint16_t>(slot), leaveRunning);
  });
  std::vector<SlotReading> found;
  for (SlotReading& reading : all) {
    if (!Empty(reading)) found.push_back(std::move(reading));
  }
  return found;
}

}  // namespace updater
