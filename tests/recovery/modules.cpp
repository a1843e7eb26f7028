// The suite's modules, as the simulator's module configurations.
#include "tests/recovery/modules.h"

namespace recovery {

namespace {

// An application older than its revision's image and a PLD older than 3.0.7: both images written.
sim::ModuleConfig NeedsBoth(char revision, const char* applicationVersion) {
  sim::ModuleConfig m;
  m.revision = revision;
  m.application = sim::ApplicationKind::kStandIn;
  m.applicationVersion = applicationVersion;
  m.bootFlash = sim::BootFlashKind::kOtherImage;
  return m;
}

}  // namespace

std::vector<RecoveryModule> RecoveryModules() {
  std::vector<RecoveryModule> modules;
  modules.push_back({"revision C, needs both images", NeedsBoth('C', "3.1")});
  // Revisions A and B answer no 0x91 addresses: each description read falls back to 0x83.
  modules.push_back({"revision B, boot loader 3.1, needs both", NeedsBoth('B', "2.4")});

  sim::ModuleConfig industrial;  // an up-to-date application, the commercial PLD
  industrial.temperatureGrade = 1;
  industrial.bootFlash = sim::BootFlashKind::kCommercialImage;
  modules.push_back({"grade 1 with a commercial PLD", industrial});

  // Revision A's PLD verification sends no request.
  modules.push_back({"revision A, needs both images", NeedsBoth('A', "1.7")});

  sim::ModuleConfig erased;  // up-to-date PLD
  erased.application = sim::ApplicationKind::kNone;
  modules.push_back({"erased application", erased});

  sim::ModuleConfig later = NeedsBoth('C', "3.1");  // found after five empty slots
  later.slot = 5;
  later.usbSpeed = 0;
  modules.push_back({"slot 5, full speed, needs both images", later});
  return modules;
}

}  // namespace recovery
