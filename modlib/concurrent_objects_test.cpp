// Interface objects on different modules, each used from a thread of its own at the same time, one
// module stalling: whatever the platform or the library shared between objects shows here as a
// wrong result, and under ThreadSanitizer (the tsan preset) as a data race.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "contract/module_addresses.h"
#include "modlib/testing/simulated_module_fixture.h"
#include "platform/testing/test_facilities.h"

namespace modlib_test {
namespace {

constexpr uint16_t kModules = 4;
constexpr uint16_t kStalled = 3;             // never answers a write: its time-out runs meanwhile
constexpr uint32_t kBlock = 3 * 4096 + 100;  // four requests
constexpr uint32_t kAt = 0x90010000;         // boot flash, clear of the PLD container's header

struct Outcome {
  bool opened = false;
  std::string serial;
  bool wrote = false;
  bool readBack = false;
};

std::vector<uint8_t> Pattern(uint16_t slot) {
  std::vector<uint8_t> bytes(kBlock);
  for (uint32_t i = 0; i < kBlock; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + slot * 31);
  return bytes;
}

void UseModule(uint16_t slot, Outcome* out) {
  auto* object = static_cast<IR4690_BOOT_LOADER*>(CreateInstance("R4690_BOOT_LOADER", 1, 0));
  out->opened = object->OpenQDevice(slot);
  ModuleDescription module{};
  if (object->GET_MODULE_DESCRIPTION(&module)) {
    out->serial = FieldText(module.SerialNumber);
  }
  const std::vector<uint8_t> pattern = Pattern(slot);
  out->wrote = object->PutArray(kAt, pattern.data(), kBlock);
  std::vector<uint8_t> back(kBlock);
  out->readBack = object->GetArray(kAt, back.data(), kBlock) && back == pattern;
  object->ReleaseInstance();
}

TEST_F(ModuleTest, ObjectsOnSeveralModulesRunOnThreadsOfTheirOwn) {
  qdev_test::SetWaitScale(10);  // the stalled module's 5 s time-out lasts 0.5 s
  std::string modules;
  for (uint16_t slot = 0; slot < kModules; ++slot) {
    modules += (slot ? "," : "") + std::string(R"({"slot":)") + std::to_string(slot) +
               R"(,"serialNumber":"serial-)" + std::to_string(slot) + "\"" +
               (slot == kStalled ? R"(,"faults":[{"action":"noAnswer","request":"write"}]})" : "}");
  }
  Start(modules);
  for (int round = 0; round < 3; ++round) {
    std::vector<Outcome> outcomes(kModules);
    std::vector<std::thread> threads;
    for (uint16_t slot = 0; slot < kModules; ++slot) {
      threads.emplace_back(UseModule, slot, &outcomes[slot]);
    }
    for (std::thread& t : threads) t.join();
    for (uint16_t slot = 0; slot < kModules; ++slot) {
      const Outcome& o = outcomes[slot];
      const bool stalled = slot == kStalled;
      EXPECT_TRUE(o.opened) << slot;
      EXPECT_EQ(o.serial, "serial-" + std::to_string(slot));
      EXPECT_EQ(o.wrote, !stalled) << slot;
      EXPECT_EQ(o.readBack, !stalled) << slot;
      std::vector<uint8_t> flash;
      ASSERT_TRUE(simulator.ReadMemory(slot, kAt, kBlock, &flash));
      EXPECT_EQ(flash == Pattern(slot), !stalled) << slot;
    }
  }
}

}  // namespace
}  // namespace modlib_test
