// A hand-written stand-in for the module behind IR4690_BOOT_LOADER, for the update sequence's
// tests. It answers like a healthy R46-90 unless told otherwise, fails the calls it is told to
// fail, and writes one line per call to a log file so that a test can see, after the run's
// process has exited, which requests reached the module and in which order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "modlib/interfaces.h"
#include "modlib/records.h"

namespace updater_test {

class FakeBootLoader final : public IR4690_BOOT_LOADER {
 public:
  FakeBootLoader();

  // --- what the fake module holds ---
  int answeringSlot = 0;             // OpenQDevice succeeds for this slot only; -1: none
  std::string modelName = "R46-90";  // 7 bytes of it are returned
  uint8_t usbSpeed = 1;
  ModuleDescription module = {};
  bool applicationPresent = true;
  FirmwareDescription firmware = {};
  BootLoaderDescription bootLoader = {};
  bool pldConfigured = true;          // GET_PLD_INFO answers only while configured
  std::string pldVersion = "3.0.7c";  // the PLD information's Version text
  bool bootFlashValid = true;         // a reload configures the PLD only from a valid container
  uint8_t grade = 0;                  // the byte at SEL_MODULE_TG_DATA
  bool releaseResult = true;

  // Calls to fail, by their log label ("GetArray(0x90000000,256)") or by the operation's name
  // alone ("VerifyPld").
  std::set<std::string> failing;
  FILE* log = nullptr;

  bool OpenQDevice(uint16_t slot) override;
  bool CloseDevice() override;
  bool ReleaseInstance() override;
  HANDLE GetDeviceHandle() override;
  bool GetModuleName(char* buffer) override;
  bool GetUsbSpeed(uint8_t* speed) override;
  bool GetLastErrorInfo(LastErrorInfo* info) override;
  bool GetArray(uint32_t address, void* buffer, uint32_t size) override;
  bool PutArray(uint32_t address, const void* buffer, uint32_t size) override;
  bool RunMcuApplication(uint32_t address, BOOL flag) override;
  bool StartReloadPld() override;
  bool VerifyPld() override;
  bool GET_MODULE_DESCRIPTION(ModuleDescription* record) override;
  bool GET_FIRMWARE_DESCRIPTION(FirmwareDescription* record) override;
  bool GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* record) override;
  bool GET_PLD_INFO(PldInfo* record) override;
  bool ENABLE_USER_FLASH_WRITE(BOOL enable) override;
  bool READ_USER_FLASH(uint8_t* buffer) override;
  bool WRITE_USER_FLASH(const uint8_t* buffer) override;

 private:
  // Logs the call with its outcome: success when the fake module `answers` and the call is not
  // on the failing list.
  bool Call(const std::string& name, const std::string& args = "", bool answers = true);
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace updater_test
