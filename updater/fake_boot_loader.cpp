// The fake module of the update sequence's tests.
#include "updater/fake_boot_loader.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "modlib/module_addresses.h"
#include "updater/pld_flash_image.h"

namespace updater_test {

namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

}  // namespace

FakeBootLoader::FakeBootLoader() {
  SetFieldText(module.Name, "R46-90");
  SetFieldText(module.SerialNumber, "SN-000123");
  module.Revision = 'C';
  SetFieldText(firmware.McuName, "AVR ATmega162");
  SetFieldText(firmware.Version, "3.2");
  SetFieldText(firmware.Created, "Nov 12 2020");
  SetFieldText(bootLoader.McuName, "AVR ATmega162");
  SetFieldText(bootLoader.Version, "3.1");
  SetFieldText(bootLoader.Created, "Oct 01 2019");
}

bool FakeBootLoader::Call(const std::string& name, const std::string& args, bool answers) {
  const std::string label = args.empty() ? name : name + "(" + args + ")";
  const bool ok = answers && failing.count(label) == 0 && failing.count(name) == 0;
  if (log != nullptr) {
    std::fprintf(log, "%s%s\n", label.c_str(), ok ? "" : " -> false");
    std::fflush(log);
  }
  return ok;
}

bool FakeBootLoader::OpenQDevice(uint16_t slot) {
  return Call("OpenQDevice", std::to_string(slot), slot == answeringSlot);
}
bool FakeBootLoader::CloseDevice() {
  return Call("CloseDevice");
}
bool FakeBootLoader::ReleaseInstance() {
  return Call("ReleaseInstance", "", releaseResult);
}
HANDLE FakeBootLoader::GetDeviceHandle() {
  return INVALID_HANDLE_VALUE;
}

bool FakeBootLoader::GetModuleName(char* buffer) {
  if (!Call("GetModuleName")) return false;
  std::memset(buffer, 0, 7);
  std::memcpy(buffer, modelName.data(), std::min<size_t>(modelName.size(), 7));
  return true;
}

bool FakeBootLoader::GetUsbSpeed(uint8_t* speed) {
  if (!Call("GetUsbSpeed")) return false;
  *speed = usbSpeed;
  return true;
}

bool FakeBootLoader::GetLastErrorInfo(LastErrorInfo*) {
  return Call("GetLastErrorInfo");
}

bool FakeBootLoader::GetArray(uint32_t address, void* buffer, uint32_t size) {
  const bool grade = address == SEL_MODULE_TG_DATA && size == 1;
  const bool header = address == SEL_BOOT_FLASH && size == updater::kPldFlashHeaderSize;
  if (!Call("GetArray", Hex(address) + "," + std::to_string(size), grade || header)) return false;
  auto* bytes = static_cast<uint8_t*>(buffer);
  if (grade) {
    *bytes = this->grade;
    return true;
  }
  // A real container of a one-byte image, or one with a broken header checksum.
  const uint8_t image[1] = {0x6A};
  updater::Buffer container = updater::BuildPldFlashImage(image, 1, updater::HeapAllocator());
  std::memcpy(bytes, container.data(), size);
  if (!bootFlashValid) bytes[0] ^= 0x01;
  return true;
}

bool FakeBootLoader::PutArray(uint32_t address, const void* buffer, uint32_t size) {
  std::string args = Hex(address) + "," + std::to_string(size);
  if (address == SEL_BOOT_FLASH && size >= updater::kPldFlashHeaderSize) {
    const bool valid = updater::IsPldFlashHeaderValid(static_cast<const uint8_t*>(buffer));
    args += valid ? ",valid" : ",invalid";
  }
  return Call("PutArray", args, size != 0);  // the module refuses an empty write
}

bool FakeBootLoader::RunMcuApplication(uint32_t address, BOOL flag) {
  const bool answers = address != module_addresses::kApplicationEntry || applicationPresent;
  return Call("RunMcuApplication", Hex(address) + "," + std::to_string(flag), answers);
}

bool FakeBootLoader::StartReloadPld() {
  if (!Call("StartReloadPld")) return false;
  pldConfigured = bootFlashValid;
  return true;
}

bool FakeBootLoader::VerifyPld() {
  return Call("VerifyPld");
}

bool FakeBootLoader::GET_MODULE_DESCRIPTION(ModuleDescription* record) {
  if (!Call("GET_MODULE_DESCRIPTION")) return false;
  *record = module;
  return true;
}

bool FakeBootLoader::GET_FIRMWARE_DESCRIPTION(FirmwareDescription* record) {
  if (!Call("GET_FIRMWARE_DESCRIPTION")) return false;
  *record = firmware;
  return true;
}

bool FakeBootLoader::GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* record) {
  if (!Call("GET_BOOT_LOADER_DESCRIPTION")) return false;
  *record = bootLoader;
  return true;
}

bool FakeBootLoader::GET_PLD_INFO(PldInfo* record) {
  if (!Call("GET_PLD_INFO", "", pldConfigured)) return false;
  SetFieldText(record->PldName, "ALTERA Cyclone IV EP4CE6E22");
  SetFieldText(record->Version, pldVersion);
  SetFieldText(record->Created, "Nov 12 2020");
  return true;
}

bool FakeBootLoader::ENABLE_USER_FLASH_WRITE(BOOL) {
  return Call("ENABLE_USER_FLASH_WRITE");
}
bool FakeBootLoader::READ_USER_FLASH(uint8_t*) {
  return Call("READ_USER_FLASH");
}
bool FakeBootLoader::WRITE_USER_FLASH(const uint8_t*) {
  return Call("WRITE_USER_FLASH");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace updater_test
