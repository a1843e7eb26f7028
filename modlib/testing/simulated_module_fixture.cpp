// The simulated-module fixture and the test peer of the library's classes.
#include "modlib/testing/simulated_module_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>

#include "platform/testing/test_facilities.h"
#include "sim/scenario_json.h"

// Friend of TQUSBBASE and TR4690_BOOT_LOADER.
struct ModlibTestPeer {
  static uint16_t LastErrorCode(TQUSBBASE& o) { return o.LastErrorCode; }
};

namespace modlib_test {

uint16_t LastErrorCode(TQUSBBASE& object) {
  return ModlibTestPeer::LastErrorCode(object);
}

void ModuleTest::SetUp() {
  char name[32];
  std::snprintf(name, sizeof name, "modlib-test-%08x", std::random_device()());
  folder = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::create_directories(folder);
  ASSERT_EQ(setenv("QDEV_DEVICE_DIR", folder.c_str(), 1), 0);  // where CreateFileA looks
}

void ModuleTest::TearDown() {
  for (TQUSBBASE* object : objects_) object->ReleaseInstance();
  simulator.Stop();
  qdev_test::ClearFaults();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void ModuleTest::Start(const std::string& modules) {
  std::string error;
  simulator.Stop();
  ASSERT_TRUE(simulator.LoadScenario(R"({"modules":[)" + modules + "]}", &error)) << error;
  ASSERT_TRUE(simulator.Start(folder, &error)) << error;
}

void ModuleTest::SetFaults(const std::string& faults) {
  sim::Scenario scenario;
  std::string error;
  ASSERT_TRUE(sim::ParseScenario(R"({"modules":[{"faults":)" + faults + "}]}", &scenario, &error))
      << error;
  ASSERT_TRUE(simulator.SetFaults(0, scenario.modules[0].faults));
}

Lines ModuleTest::Traffic() {
  static const std::regex noise(
      "^QDev0 |ioctl=0x(22003E )?|dir=|req=0x|value=0x|index=0x|len=| -> ok$| addr=0x[0-9A-F]+|"
      " (deviceInfo|modelName|usbSpeed|read|write|run|reloadPld|verifyPld)(?= )");
  Lines lines;
  for (const std::string& line : simulator.Traffic())
    lines.push_back(std::regex_replace(line, noise, ""));
  simulator.ClearTraffic();
  return lines;
}

TQUSBBASE* ModuleTest::NewBase() {
  void* made = CreateInstance("QUSBBASE", 1, 0);
  objects_.push_back(static_cast<TQUSBBASE*>(static_cast<IQUSBBASE*>(made)));
  return objects_.back();
}

TR4690_BOOT_LOADER* ModuleTest::NewBootLoader(uint8_t driverKind, int32_t skipNameCheck) {
  void* made = CreateInstance("R4690_BOOT_LOADER", driverKind, skipNameCheck);
  auto* object = static_cast<TR4690_BOOT_LOADER*>(static_cast<IR4690_BOOT_LOADER*>(made));
  objects_.push_back(object);
  return object;
}

}  // namespace modlib_test
