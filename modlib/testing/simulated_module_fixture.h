// Test support for the module interface library: the in-process simulator playing the driver and
// its modules in a device folder of the test's own, the objects under test, and their error code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "modlib/qusbbase.h"
#include "modlib/r4690_boot_loader.h"
#include "sim/simulator.h"

namespace modlib_test {

using Lines = std::vector<std::string>;

// The platform's fault hooks are cleared, and every object made here released, after each test.
class ModuleTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // (Re)starts the simulator with these module entries of a scenario (JSON objects).
  void Start(const std::string& modules = "{}");
  // Replaces the faults of the module in slot 0 (a JSON list); they count from now.
  void SetFaults(const std::string& faults);
  // The traffic since the last call, shortened: "1 0E 3000 9100 256" for an answered vendor
  // request (ioctl 22003E) of QDev0, with the device name in front for any other device, the
  // ioctl for any other, and "-> refused" and the like behind for any other outcome.
  Lines Traffic();

  TQUSBBASE* NewBase();
  TR4690_BOOT_LOADER* NewBootLoader(uint8_t driverKind = 1, int32_t skipNameCheck = 0);

  sim::Simulator simulator;
  std::string folder;

 private:
  std::vector<TQUSBBASE*> objects_;
};

// The code of the object's last failure, read through the classes' test peer.
uint16_t LastErrorCode(TQUSBBASE& object);

}  // namespace modlib_test
