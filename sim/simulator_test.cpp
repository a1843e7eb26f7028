// The in-process simulator reached through the platform's device I/O: the demo module's four
// descriptions, unanswered requests, power loss and power cycles, the state folder and several
// modules at once.
#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "modlib/driver_contract.h"
#include "platform/posix/test_endpoint.h"
#include "sim/sim_test_client.h"
#include "sim/sim_test_images.h"

namespace {

using qdev_testing::TempDeviceDir;
using sim::Simulator;
using sim_test::FieldText;
using sim_test::TestClient;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("sim-test-" + name + "-" + std::to_string(std::random_device()())))
      .string();
}

TEST(Simulator, DemoModuleAnswersAllFourDescriptions) {
  TempDeviceDir dir;
  Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(ReadText(R4690_SIM_SCENARIO_DIR "/demo.json"), &error))
      << error;
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;
  TestClient client("QDev0");
  ASSERT_TRUE(client.IsOpen());

  const sim_test::ClientResult info =
      client.Request(IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80));
  ASSERT_EQ(info.transferred, 80u);
  EXPECT_EQ(driver_contract::ModuleTypeCodeOf(info.data.data()), 32u);
  EXPECT_NE(client.Read(0x91003000, 256).error, 0u);  // the application runs after power-up
  ASSERT_EQ(client.Run(0x3C00).error, 0u);

  const sim_test::ClientResult module = client.Read(0x91003000, 256);
  const sim_test::ClientResult firmware = client.Read(0x91001F00, 227);
  const sim_test::ClientResult bootLoader = client.Read(0x83003FB0, 79);
  const sim_test::ClientResult pld = client.Read(0x8F000000, 512);
  ASSERT_EQ(module.transferred, 256u);
  ASSERT_EQ(firmware.transferred, 227u);
  ASSERT_EQ(bootLoader.transferred, 79u);
  ASSERT_EQ(pld.transferred, 512u);
  EXPECT_EQ(FieldText(module.data, 0, 16), "R46-90");
  EXPECT_EQ(FieldText(module.data, 16, 36), "4690C-20-001734");
  EXPECT_EQ(module.data[52], 'C');
  EXPECT_EQ(FieldText(firmware.data, 0, 25), "AVR ATmega162");
  EXPECT_EQ(FieldText(firmware.data, 25, 10), "3.1");
  EXPECT_EQ(FieldText(bootLoader.data, 20, 10), "3.1");
  EXPECT_EQ(FieldText(pld.data, 0, 512),
            "<Version>{3.0.6c (build Mar 14 2019)} <Comments>{R46-90 PLD configuration, "
            "commercial grade}");

  const std::vector<std::string> expected = {
      "QDev0 ioctl=0x22005E len=80 -> ok",
      "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> refused",
      "QDev0 ioctl=0x22003E dir=0 req=0x0F value=0x3C00 index=0x0000 len=0 -> ok",
      "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> ok",
      "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x1F00 index=0x9100 len=227 -> ok",
      "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3FB0 index=0x8300 len=79 -> ok",
      "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x0000 index=0x8F00 len=512 -> ok",
  };
  EXPECT_EQ(simulator.Traffic(), expected);
}

// What each shipped scenario's module holds, with the embedded images in place.
TEST(Simulator, ShippedScenariosDescribeTheirModules) {
  struct Row {
    const char* scenario;
    uint32_t firmwareAt;
    const char* firmware;  // empty: no application
    const char* bootLoader;
    const char* pldVersion;  // empty: unconfigured at power-up
  };
  const Row rows[] = {
      {"up-to-date", 0x83001F00, "3.2", "3.1", "3.0.7c"},
      {"needs-both", 0x83001F00, "3.1", "3.1", "3.0.6c"},
      {"demo", 0x83001F00, "3.1", "3.1", "3.0.6c"},
      {"no-application", 0x83001F00, "", "3.1", "3.0.7c"},
      {"boot-loader-2x", 0x83002F00, "2.4", "2.3", "3.0.7c"},
      {"pld-unconfigured-valid-container", 0x83001F00, "3.2", "3.1", ""},
      {"industrial-with-commercial-pld", 0x83001F00, "3.2", "3.1", "3.0.7c"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.scenario);
    Simulator simulator;
    std::string error;
    ASSERT_TRUE(simulator.LoadScenario(
        ReadText(std::string(R4690_SIM_SCENARIO_DIR "/") + row.scenario + ".json"), &error))
        << error;
    TempDeviceDir dir;
    ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;
    std::vector<uint8_t> firmware, bootLoader;
    ASSERT_TRUE(simulator.ReadMemory(0, row.firmwareAt, 227, &firmware));
    ASSERT_TRUE(simulator.ReadMemory(0, 0x83003FB0, 79, &bootLoader));
    if (*row.firmware != '\0') {
      EXPECT_EQ(FieldText(firmware, 25, 10), row.firmware);
      EXPECT_TRUE(simulator.ApplicationRunning(0));
    } else {
      EXPECT_EQ(firmware, std::vector<uint8_t>(227, 0xFF));  // erased
      EXPECT_FALSE(simulator.ApplicationRunning(0));
    }
    EXPECT_EQ(FieldText(bootLoader, 20, 10), row.bootLoader);
    const std::string text = simulator.PldText(0);
    EXPECT_EQ(text.substr(0, std::min<size_t>(text.size(), 16)),
              *row.pldVersion ? std::string("<Version>{") + row.pldVersion : std::string());
  }
}

TEST(Simulator, UnansweredRequestTimesOutAndLaterRequestsWork) {
  TempDeviceDir dir;
  Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(
      R"({"modules":[{"faults":[{"action":"noAnswer","request":"modelName"}]}]})", &error));
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;
  TestClient client("QDev0");
  EXPECT_FALSE(client.Vendor(1, 0x0B, 0, 0, std::vector<uint8_t>(7), 200).completed);
  const sim_test::ClientResult speed = client.Vendor(1, 0x06, 0, 0, std::vector<uint8_t>(1));
  EXPECT_TRUE(speed.completed);
  EXPECT_EQ(speed.data, std::vector<uint8_t>{1});
  ASSERT_EQ(simulator.Traffic().size(), 2u);
  EXPECT_EQ(simulator.Traffic()[0],
            "QDev0 ioctl=0x22003E dir=1 req=0x0B value=0x0000 index=0x0000 len=7 -> no answer");
}

TEST(Simulator, PowerLossTakesTheDevicesAwayAndAPowerCycleBringsThemBack) {
  TempDeviceDir dir;
  Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(
      R"({"modules":[{"faults":[{"action":"powerLoss","request":"write","nth":2}]}]})", &error));
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;
  const std::vector<uint8_t> before = simulator.BootFlash(0);
  {
    TestClient client("QDev0");
    ASSERT_EQ(client.Run(0x3C00).error, 0u);
    EXPECT_EQ(client.Write(0x90000000, {0x01}).error, 0u);
    EXPECT_EQ(client.Write(0x90000001, {0x02}).error, 0u);  // carried out and answered
    ASSERT_TRUE(simulator.WaitForPowerLoss(5000));
    EXPECT_TRUE(simulator.PowerLost());
    EXPECT_NE(client.Write(0x90000002, {0x03}).error, 0u);
    EXPECT_FALSE(TestClient("QDev0").IsOpen());
  }
  ASSERT_TRUE(simulator.SetFaults(0, {}));
  ASSERT_TRUE(simulator.PowerCycle(&error)) << error;
  EXPECT_FALSE(simulator.PowerLost());
  EXPECT_TRUE(simulator.ApplicationRunning(0));
  // The container header was overwritten, so the PLD stays unconfigured after the power cycle.
  EXPECT_FALSE(simulator.PldConfigured(0));
  const std::vector<uint8_t> boot = simulator.BootFlash(0);
  EXPECT_EQ(std::vector<uint8_t>(boot.begin(), boot.begin() + 3),
            (std::vector<uint8_t>{0x01, 0x02, before[2]}));  // the third write never happened
  TestClient again("QDev0");
  EXPECT_TRUE(again.IsOpen());
  const std::vector<std::string> traffic = simulator.Traffic();
  ASSERT_GE(traffic.size(), 4u);
  EXPECT_EQ(traffic[3], "QDev0 power lost");
}

TEST(Simulator, StateFolderCarriesMemoriesToTheNextSimulatorUnlessFresh) {
  TempDeviceDir dir;
  const std::string state = TempPath("state");
  sim::SimulatorOptions options;
  options.deviceDir = dir.path();
  options.stateDir = state;
  options.trafficFile = state + "-traffic.txt";
  std::string error;
  {
    Simulator simulator;
    ASSERT_TRUE(simulator.Start(options, &error)) << error;
    TestClient client("QDev0");
    ASSERT_EQ(client.Run(0x3C00).error, 0u);
    ASSERT_EQ(client.Write(0x83000000, {0x12, 0x34}).error, 0u);
    EXPECT_EQ(ReadText(options.trafficFile),
              "QDev0 ioctl=0x22003E dir=0 req=0x0F value=0x3C00 index=0x0000 len=0 -> ok\n"
              "QDev0 ioctl=0x22003E dir=0 req=0x0D value=0x0000 index=0x8300 len=2 -> ok\n");
  }
  for (bool fresh : {false, true}) {
    Simulator simulator;
    options.fresh = fresh;
    ASSERT_TRUE(simulator.Start(options, &error)) << error;
    EXPECT_EQ(simulator.McuFlash(0)[1] == 0x34, !fresh);
    simulator.Stop();
  }
  std::filesystem::remove_all(state);
  std::filesystem::remove(options.trafficFile);
}

TEST(Simulator, SeveralModulesUnderTheirNames) {
  TempDeviceDir dir;
  Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(
      R"({"modules":[{"naming":"both"},{"slot":3,"naming":"QDevUsb","modelName":"P310"}]})",
      &error));
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;
  EXPECT_EQ(simulator.DeviceNames(), (std::vector<std::string>{"QDev0", "QDevUsb0", "QDevUsb3"}));
  EXPECT_EQ(simulator.DeviceDir(), dir.path());
  EXPECT_FALSE(TestClient("QDev3").IsOpen());
  TestClient slot3("QDevUsb3");
  const sim_test::ClientResult name = slot3.Request(
      IOCTL_USB_VENDOR_REQUEST, sim_test::Header(1, 0x0B, 0, 0), std::vector<uint8_t>(7));
  EXPECT_EQ(FieldText(name.data, 0, 7), "P310");
  EXPECT_FALSE(simulator.LoadScenario("{}", &error));  // not while running
  simulator.Stop();
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/QDevUsb3"));
  EXPECT_TRUE(simulator.LoadScenario("{}", &error)) << error;
}

}  // namespace
