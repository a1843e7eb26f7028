// TR4690_BOOT_LOADER against the in-process module simulator: the requests that reach a
// realistic module, as its traffic record shows them, and what ends up in its memories.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "modlib/module_addresses.h"
#include "modlib/test_driver.h"
#include "sim/simulator.h"

namespace modlib_test {
namespace {

using Lines = std::vector<std::string>;

class SimulatedModule : public DeviceFolderTest {
 protected:
  void TearDown() override {
    if (object_ != nullptr) object_->ReleaseInstance();
    simulator_.Stop();
    DeviceFolderTest::TearDown();
  }

  // One module, described by its scenario entry; a boot loader made with the utility's
  // arguments is opened on slot 0 and the traffic so far is cleared.
  TR4690_BOOT_LOADER& Open(const std::string& module = "{}") {
    std::string error;
    EXPECT_TRUE(simulator_.LoadScenario(R"({"modules":[)" + module + "]}", &error)) << error;
    EXPECT_TRUE(simulator_.Start(folder, &error)) << error;
    void* made = CreateInstance("R4690_BOOT_LOADER", 1, 0);
    object_ = static_cast<TR4690_BOOT_LOADER*>(static_cast<IR4690_BOOT_LOADER*>(made));
    opened_ = object_->OpenQDevice(0);
    opening_ = simulator_.Traffic();
    simulator_.ClearTraffic();
    return *object_;
  }

  std::vector<uint8_t> Memory(uint32_t address, uint32_t size) {
    std::vector<uint8_t> data;
    EXPECT_TRUE(simulator_.ReadMemory(0, address, size, &data));
    return data;
  }

  sim::Simulator simulator_;
  TR4690_BOOT_LOADER* object_ = nullptr;
  bool opened_ = false;
  Lines opening_;
};

TEST_F(SimulatedModule, OpenRunsTheBootLoader) {
  Open();
  ASSERT_TRUE(opened_);
  EXPECT_EQ(opening_,
            (Lines{"QDev0 ioctl=0x22005E len=80 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0B value=0x0000 index=0x0000 len=7 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x06 value=0x0000 index=0x0000 len=1 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0B value=0x0000 index=0x0000 len=7 -> ok",
                   "QDev0 ioctl=0x22003E dir=0 req=0x0F value=0x3C00 index=0x0000 len=0 -> ok"}));
  EXPECT_FALSE(simulator_.ApplicationRunning(0));
}

TEST_F(SimulatedModule, ModuleInAnotherSlot) {
  TR4690_BOOT_LOADER& object = Open(R"({"slot":3})");
  EXPECT_FALSE(opened_);
  EXPECT_EQ(LastErrorCode(object), 102);
  EXPECT_TRUE(object.OpenQDevice(3));
}

TEST_F(SimulatedModule, DescriptionsOfARevisionCModule) {
  TR4690_BOOT_LOADER& object = Open(R"({"revision":"C","serialNumber":"4690C-21-000042"})");
  ModuleDescription module;
  FirmwareDescription firmware;
  BootLoaderDescription bootLoader;
  PldInfo pld;
  ASSERT_TRUE(object.GET_MODULE_DESCRIPTION(&module));
  ASSERT_TRUE(object.GET_FIRMWARE_DESCRIPTION(&firmware));
  ASSERT_TRUE(object.GET_BOOT_LOADER_DESCRIPTION(&bootLoader));
  ASSERT_TRUE(object.GET_PLD_INFO(&pld));
  EXPECT_EQ(LastErrorCode(object), 100);
  EXPECT_EQ(simulator_.Traffic(),
            (Lines{"QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x1F00 index=0x9100 len=227 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3FB0 index=0x8300 len=79 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x0000 index=0x8F00 len=512 -> ok"}));
  // The records are the module's bytes, unchanged.
  EXPECT_EQ(std::memcmp(&module, Memory(0x83003000, 256).data(), 256), 0);
  EXPECT_EQ(std::memcmp(&firmware, Memory(0x83001F00, 227).data(), 227), 0);
  EXPECT_EQ(std::memcmp(&bootLoader, Memory(0x83003FB0, 79).data(), 79), 0);
  EXPECT_EQ(FieldText(module.SerialNumber), "4690C-21-000042");
  EXPECT_EQ(FieldText(pld.PldName), "ALTERA Cyclone IV EP4CE6E22");
  EXPECT_EQ(FieldText(pld.Version), "3.0.7c");
}

// Revision 'A' answers no 0x91 addresses: the second address serves, the first read's code
// stays behind, and there is no PLD verification.
TEST_F(SimulatedModule, RevisionAUsesTheSecondAddresses) {
  TR4690_BOOT_LOADER& object = Open(R"({"revision":"A"})");
  ModuleDescription module;
  ASSERT_TRUE(object.GET_MODULE_DESCRIPTION(&module));
  EXPECT_EQ(module.Revision, 'A');
  EXPECT_EQ(LastErrorCode(object), 1001);
  EXPECT_TRUE(object.VerifyPld());
  EXPECT_EQ(
      simulator_.Traffic(),
      (Lines{"QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x9100 len=256 -> refused",
             "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x3000 index=0x8300 len=256 -> ok"}));
}

class SimulatedUserFlash : public SimulatedModule,
                           public testing::WithParamInterface<const char*> {};

TEST_P(SimulatedUserFlash, WriteThenReadBack) {
  const std::string revision = GetParam();
  TR4690_BOOT_LOADER& object = Open(R"({"revision":")" + revision + R"("})");
  ModuleDescription module;
  ASSERT_TRUE(object.GET_MODULE_DESCRIPTION(&module));
  std::vector<uint8_t> written(512), read(512);
  for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 13 + 1);
  ASSERT_TRUE(object.ENABLE_USER_FLASH_WRITE(TRUE));
  ASSERT_TRUE(object.WRITE_USER_FLASH(written.data()));
  ASSERT_TRUE(object.READ_USER_FLASH(read.data()));
  EXPECT_EQ(read, written);
  EXPECT_EQ(Memory(revision == "C" ? 0x83001D00 : 0x83002D00, 512), written);
}

INSTANTIATE_TEST_SUITE_P(Revisions, SimulatedUserFlash, testing::Values("A", "B", "C"));

TEST_F(SimulatedModule, BlockTransfersInBootFlash) {
  TR4690_BOOT_LOADER& object = Open();
  std::vector<uint8_t> image(4097), back(4097);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 256);
  ASSERT_TRUE(object.PutArray(SEL_BOOT_FLASH + 0x20000, image.data(), 4097));
  ASSERT_TRUE(object.GetArray(SEL_BOOT_FLASH + 0x20000, back.data(), 4097));
  EXPECT_EQ(back, image);
  EXPECT_EQ(Memory(SEL_BOOT_FLASH + 0x20000, 4097), image);
  EXPECT_EQ(simulator_.Traffic(),
            (Lines{"QDev0 ioctl=0x22003E dir=0 req=0x0D value=0x0000 index=0x9002 len=4096 -> ok",
                   "QDev0 ioctl=0x22003E dir=0 req=0x0D value=0x1000 index=0x9002 len=1 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x0000 index=0x9002 len=4096 -> ok",
                   "QDev0 ioctl=0x22003E dir=1 req=0x0E value=0x1000 index=0x9002 len=1 -> ok"}));
}

TEST_F(SimulatedModule, ApplicationPresentOrNot) {
  TR4690_BOOT_LOADER& object = Open();
  ASSERT_TRUE(object.RunMcuApplication(0x83000000, TRUE));
  EXPECT_TRUE(simulator_.ApplicationRunning(0));
  ASSERT_TRUE(object.RunMcuApplication(0x83003C00, FALSE));
  EXPECT_FALSE(simulator_.ApplicationRunning(0));

  std::vector<uint8_t> erased(0x3000, 0xFF);
  ASSERT_TRUE(simulator_.WriteMemory(0, 0x83000000, erased));
  EXPECT_FALSE(object.RunMcuApplication(0x83000000, TRUE));
  EXPECT_EQ(LastErrorCode(object), 1001);
  EXPECT_FALSE(McuApplicationRunning(object));
}

// An erased boot flash leaves the PLD unconfigured after a reload: the reload request itself
// succeeds, the verification and the PLD text do not.
TEST_F(SimulatedModule, ReloadFromErasedBootFlash) {
  TR4690_BOOT_LOADER& object = Open();
  ModuleDescription module;
  ASSERT_TRUE(object.GET_MODULE_DESCRIPTION(&module));
  ASSERT_TRUE(object.VerifyPld());
  ASSERT_TRUE(simulator_.WriteMemory(0, SEL_BOOT_FLASH, std::vector<uint8_t>(4096, 0xFF)));
  EXPECT_TRUE(object.StartReloadPld());
  EXPECT_FALSE(object.VerifyPld());
  EXPECT_EQ(LastErrorCode(object), 519);
  PldInfo pld;
  EXPECT_FALSE(object.GET_PLD_INFO(&pld));
  EXPECT_EQ(LastErrorCode(object), 1501);
}

}  // namespace
}  // namespace modlib_test
