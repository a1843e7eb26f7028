// Fuzz target: the whole update run against a module whose every answer comes from the input:
// which slot answers, each operation's result, the model name, the speed byte, the description
// records and the PLD information (their fields often full and unterminated), the container
// header in boot flash, the grade byte, the release; the image lookups and the allocations may
// fail too. The run must end exactly once, through its exit, release the module once and ask
// nothing of it afterwards; its summary must show each field up to its first zero byte or its
// width and nothing beyond; and the images it writes must be the ones that the selection rules
// choose from what the module reported, written whole.
//
// Input (FuzzedDataProvider): consumed answer by answer as the run asks; when it runs out every
// operation succeeds with zero bytes.
#include <map>
#include <optional>

#include "contract/module_addresses.h"
#include "images/image_list.h"
#include "modlib/interfaces.h"
#include "modlib/records.h"
#include "tests/fuzz/fuzz_check.h"
#include "updater/console.h"
#include "updater/pld_flash_image.h"
#include "updater/selection.h"
#include "updater/update_sequence.h"

namespace {

FuzzedDataProvider* gInput = nullptr;

// The images the run finds: small, each of its own bytes, so that a write shows which was taken.
const std::vector<uint8_t>& Image(const char* name) {
  static std::map<std::string, std::vector<uint8_t>> images;
  const auto fill = static_cast<uint8_t>(0x10 * (images::FindImage(name) - images::kImageList + 1));
  return images.try_emplace(name, 97 + fill, fill).first->second;
}

images::ImageRange Lookup(const char* name) {
  const uint8_t failure = gInput->ConsumeIntegralInRange<uint8_t>(0, 15);
  if (failure >= 1 && failure <= 3) return {nullptr, 0, static_cast<images::LookupStep>(failure)};
  const std::vector<uint8_t>& image = Image(name);
  return {image.data(), static_cast<uint32_t>(image.size()), images::LookupStep::kNone};
}

struct InputHeap final : updater::Allocator {
  uint8_t* Allocate(size_t size) override {
    return fuzz::OneIn8(*gInput) ? nullptr : updater::HeapAllocator().Allocate(size);
  }
  void Free(uint8_t* block) override { updater::HeapAllocator().Free(block); }
};

std::vector<int> gExits;

using Write = std::pair<uint32_t, std::vector<uint8_t>>;  // an address and the bytes written there

// The module, scripted by the input. It remembers what it reported and what was written.
struct ScriptedModule final : IR4690_BOOT_LOADER {
  explicit ScriptedModule(FuzzedDataProvider& in)
      : in_(in), answeringSlot_(in.ConsumeIntegral<uint8_t>()) {}

  ModuleDescription module{};
  FirmwareDescription firmware{};
  BootLoaderDescription bootLoader{};
  std::optional<PldInfo> pldInfo;  // what the last GET_PLD_INFO gave; empty when it failed
  bool applicationStarted = false;
  uint8_t grade = 0;
  std::vector<Write> writes;
  int releases = 0;

  bool OpenQDevice(uint16_t slot) override { return Called() && slot == answeringSlot_; }
  bool CloseDevice() override { return Called(); }
  bool ReleaseInstance() override { return Called() && ++releases && Succeeds(); }
  HANDLE GetDeviceHandle() override { return INVALID_HANDLE_VALUE; }
  bool GetModuleName(char* name) override {
    return Answer() &&
           (in_.ConsumeBool() ? Fill(name, 7) : void(std::memcpy(name, "R46-90", 7)), true);
  }
  bool GetUsbSpeed(uint8_t* speed) override {
    return Answer() && (*speed = in_.ConsumeIntegral<uint8_t>(), true);
  }
  bool GetLastErrorInfo(LastErrorInfo*) override { return false; }
  bool GetArray(uint32_t address, void* buffer, uint32_t size) override {
    if (!Answer()) return false;
    if (address == SEL_BOOT_FLASH && size == updater::kPldFlashHeaderSize && in_.ConsumeBool()) {
      // A valid header over whatever the input gives.
      uint8_t image[8];
      Fill(image, sizeof image);
      const auto built = updater::BuildPldFlashImage(image, 8, updater::HeapAllocator());
      return std::memcpy(buffer, built.data(), size), true;
    }
    Fill(buffer, size);
    if (address == SEL_MODULE_TG_DATA && size == 1) grade = *static_cast<uint8_t*>(buffer);
    return true;
  }
  bool PutArray(uint32_t address, const void* buffer, uint32_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    writes.push_back({address, std::vector<uint8_t>(bytes, bytes + size)});
    return Answer();
  }
  bool RunMcuApplication(uint32_t address, BOOL) override {
    return address == module_addresses::kApplicationEntry ? applicationStarted = Answer()
                                                          : Answer();
  }
  bool StartReloadPld() override { return Answer(); }
  bool VerifyPld() override { return Answer(); }
  bool GET_MODULE_DESCRIPTION(ModuleDescription* d) override { return Give(d, &module); }
  bool GET_FIRMWARE_DESCRIPTION(FirmwareDescription* d) override { return Give(d, &firmware); }
  bool GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* d) override {
    return Give(d, &bootLoader);
  }
  bool GET_PLD_INFO(PldInfo* d) override {
    pldInfo.emplace();
    return Give(d, &*pldInfo) || (pldInfo.reset(), false);
  }
  // The update run uses no user flash.
  bool ENABLE_USER_FLASH_WRITE(BOOL) override { return Unused(); }
  bool READ_USER_FLASH(uint8_t*) override { return Unused(); }
  bool WRITE_USER_FLASH(const uint8_t*) override { return Unused(); }
  static bool Unused() { return FUZZ_CHECK(!"the update run uses user flash"), false; }

  bool Called() { return FUZZ_CHECK(releases == 0), true; }  // nothing asked once released
  // One answer: true unless the input says the operation fails.
  bool Succeeds() { return !fuzz::OneIn8(in_); }
  bool Answer() { return Called() && Succeeds(); }
  void Fill(void* to, size_t n) { in_.ConsumeData(std::memset(to, 0, n), n); }
  // A record read: the input's bytes, kept as what the module reported.
  template <typename Record>
  bool Give(Record* to, Record* reported) {
    return Answer() && (Fill(reported, sizeof *reported), *to = *reported, true);
  }

  FuzzedDataProvider& in_;
  const uint8_t answeringSlot_;  // 127 and above: no slot answers
};

constexpr char kRule[] = "-------------------------------------------------------------------\n";
constexpr char kSuccess[] = "\n The program was completed successfully!!!\n";

template <size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// The summary as the module's records give it: each text up to its first zero byte, at most the
// field's width.
std::string ExpectedSummary(const ScriptedModule& m) {
  std::string s = std::string("\n") + kRule +
                  "  Module Info:\n   # MCU Name:           " + Text(m.module.Name) +
                  "\n   # SerialNumber:       " + Text(m.module.SerialNumber) +
                  "\n   # Revision:           " + m.module.Revision + "\n";
  if (m.applicationStarted)
    s += "  MCU Firmware Info:\n   # MCU Name:           " + Text(m.firmware.McuName) +
         "\n   # Firmware Version:   " + Text(m.firmware.Version) +
         "\n   # Created:            " + Text(m.firmware.Created) + "\n";
  s += "  MCU BootLoader Info:\n   # MCU Name:           " + Text(m.bootLoader.McuName) +
       "\n   # BootLoader Version: " + Text(m.bootLoader.Version) +
       "\n   # Created:            " + Text(m.bootLoader.Created) + "\n";
  if (m.pldInfo)
    s += "  PLD Firmware Info:\n   # PLD Name:           " + Text(m.pldInfo->PldName) +
         "\n   # Firmware Version:   " + Text(m.pldInfo->Version) +
         "\n   # Created:            " + Text(m.pldInfo->Created) + "\n";
  return s + kRule + "\n";
}

// The writes that the selection rules ask for, given what the module reported.
std::vector<Write> ExpectedWrites(const ScriptedModule& m) {
  const double fw = updater::VersionNumber(m.firmware.Version, sizeof m.firmware.Version);
  const double bl = updater::VersionNumber(m.bootLoader.Version, sizeof m.bootLoader.Version);
  std::vector<Write> writes;
  if (const char* mcu = updater::ChooseMcuImage(m.applicationStarted, fw, bl))
    writes.push_back({SEL_MCU_FLASH, Image(mcu)});
  if (!updater::InPldBand(bl)) return writes;
  uint32_t version = 0;
  uint8_t pldGrade = 0;
  if (m.pldInfo) FUZZ_CHECK(updater::GetPldVersionNumber(m.pldInfo->Version, &version, &pldGrade));
  if (const char* pld = updater::ChoosePldImage(version, m.grade, pldGrade)) {
    const std::vector<uint8_t>& image = Image(pld);
    const updater::Buffer container = updater::BuildPldFlashImage(
        image.data(), static_cast<uint32_t>(image.size()), updater::HeapAllocator());
    writes.push_back({SEL_BOOT_FLASH,
                      std::vector<uint8_t>(container.data(), container.data() + container.size())});
  }
  return writes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  gInput = &in;
  gExits.clear();
  const bool created = in.ConsumeIntegralInRange<uint8_t>(0, 15) != 1;
  ScriptedModule module(in);
  InputHeap heap;

  char* transcript = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&transcript, &length);
  FUZZ_CHECK(out != nullptr);
  updater::UpdateDependencies deps;
  deps.createInstance = [&]() -> IR4690_BOOT_LOADER* { return created ? &module : nullptr; };
  deps.out = out;
  deps.allocator = &heap;
  deps.lookupImage = Lookup;
  deps.sleep = [](uint32_t) {};
  deps.exit = [](int status) { gExits.push_back(status); };
  updater::RunUpdate(deps);
  std::fclose(out);
  const std::string text(transcript, length);
  std::free(transcript);

  FUZZ_CHECK(gExits.size() == 1 && module.releases == (created ? 1 : 0));
  const int status = gExits[0];
  const size_t tail = std::min(text.size(), std::strlen(kSuccess));
  FUZZ_CHECK((status == updater::kExitSucceeded || status == updater::kExitFailed) &&
             (text.compare(text.size() - tail, tail, kSuccess) == 0) ==
                 (status == updater::kExitSucceeded));

  const size_t summary = text.find(std::string("\n") + kRule + "  Module Info:\n");
  FUZZ_CHECK(status != updater::kExitSucceeded || summary != std::string::npos);
  FUZZ_CHECK(summary != std::string::npos || module.writes.empty());
  if (summary == std::string::npos) return 0;
  FUZZ_CHECK(text.find(ExpectedSummary(module), summary) == summary);

  // Every write is the next one the rules ask for; a successful run makes them all.
  const std::vector<Write> writes = ExpectedWrites(module);
  FUZZ_CHECK(module.writes.size() <= writes.size() &&
             std::equal(module.writes.begin(), module.writes.end(), writes.begin()));
  FUZZ_CHECK(status != updater::kExitSucceeded || module.writes.size() == writes.size());
  return 0;
}
