// Fuzz target: the simulator's state folder, loaded from the bytes of its two files, and a module
// powered up from what it holds. The loader must tell absent, loaded and damaged memories apart
// by the files' presence and sizes alone, naming the file at fault in one line; a module must
// power up from any loaded memories with them, its application running exactly when MCU flash
// word 0 is programmed, and then answer every request, the utility's reads and any other, with no
// more bytes than asked, a read with the memory's bytes (the PLD text exactly while the PLD is
// configured), and a traffic line that reads back as the request it shows. (Whether a container
// configures the PLD is the container target's to check.)
//
// Input (FuzzedDataProvider): flags, then each file: its bytes, or (flag) patches laid on the
// fresh module's memory or on erased flash to make a file of the right size; then requests.
#include <optional>

#include "contract/module_addresses.h"
#include "sim/embedded_images.h"
#include "sim/memory_map.h"
#include "sim/pld.h"
#include "sim/rack.h"
#include "sim/scenario.h"
#include "sim/state_store.h"
#include "sim/testing/traffic_parse.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace dc = driver_contract;

constexpr char kDevice[] = "QDev0";

// One healthy module in slot 0, built once; each input gives it other memories.
sim::Rack* gRack = nullptr;

// A file's bytes: the input's own, cut or filled to a length of its choice, or its patches laid
// on `base`, at the places that the module reads or anywhere.
std::vector<uint8_t> FileBytes(FuzzedDataProvider& in, bool patched,
                               const std::vector<uint8_t>& base) {
  static const uint32_t kPlaces[2][5] = {
      {0, 0x1D00, 0x2F00, sim::kModuleDescriptionOffset, sim::kBootLoaderDescriptionOffset},
      {0, 4, 8, sim::kContainerHeaderSize, sim::kContainerHeaderSize + sim::kPldSyncOnes}};
  const auto size = static_cast<uint32_t>(base.size());
  std::vector<uint8_t> bytes = base;
  if (!patched) {
    bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
    bytes.resize(in.ConsumeBool() ? size : in.ConsumeIntegralInRange<size_t>(0, size + 1), 0xFF);
    return bytes;
  }
  for (int n = in.ConsumeIntegralInRange<int>(0, 6); n > 0; --n) {
    const uint8_t choice = in.ConsumeIntegralInRange<uint8_t>(0, 5);
    const uint32_t at = choice == 5
                            ? in.ConsumeIntegralInRange<uint32_t>(0, size - 1)
                            : std::min(size - 1, kPlaces[size != sim::kMcuFlashSize][choice] +
                                                     in.ConsumeIntegral<uint8_t>());
    const std::vector<uint8_t> patch =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 96));
    for (size_t i = 0; i < patch.size() && at + i < size; ++i) bytes[at + i] = patch[i];
  }
  return bytes;
}

// No answer has more bytes than asked.
void CheckReply(const sim::Reply& reply, size_t length) {
  FUZZ_CHECK(!reply.answered || (reply.data.size() <= length && reply.information <= length));
}

// Any request: a vendor request with the input's header, or another code, with data.
void AnyRequest(sim::Rack& rack, FuzzedDataProvider& in) {
  static const uint32_t kCodes[] = {IOCTL_VENDOR_REQUEST, IOCTL_USB_VENDOR_REQUEST,
                                    IOCTL_GET_DEVICE_INFO};
  const uint32_t code = in.ConsumeBool() ? kCodes[in.ConsumeIntegralInRange<size_t>(0, 2)]
                                         : in.ConsumeIntegral<uint32_t>();
  std::vector<uint8_t> input =
      in.ConsumeBool() ? fuzz::VendorHeader(in.ConsumeIntegralInRange<uint16_t>(0, 1),
                                            in.ConsumeIntegralInRange<uint16_t>(0, 0x10),
                                            in.ConsumeIntegral<uint32_t>())
                       : in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 12));
  std::vector<uint8_t> output = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
  output.resize(in.ConsumeIntegralInRange<size_t>(0, dc::kMaxTransferSize + 1), 0xA5);
  CheckReply(rack.Serve(kDevice, code, input, output), output.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string error;
  FUZZ_CHECK((gRack = new sim::Rack)->Build(sim::Scenario{}, sim::LookupEmbeddedImages(), &error));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::Rack& rack = *gRack;
  static const std::vector<uint8_t> kFreshMcu = rack.McuFlash(0), kFreshBoot = rack.BootFlash(0);
  static const std::vector<uint8_t> kErasedMcu(sim::kMcuFlashSize, 0xFF),
      kErasedBoot(sim::kBootFlashSize, 0xFF);

  FuzzedDataProvider in(data, size);
  const uint8_t flags = in.ConsumeIntegral<uint8_t>();
  const bool patched = (flags & 4) != 0, fresh = (flags & 8) != 0;
  sim::StateStore::SavedFile mcu{"state/slot0-mcu-flash.bin", std::nullopt};
  sim::StateStore::SavedFile boot{"state/slot0-boot-flash.bin", std::nullopt};
  if ((flags & 1) != 0) mcu.bytes = FileBytes(in, patched, fresh ? kFreshMcu : kErasedMcu);
  if ((flags & 2) != 0) boot.bytes = FileBytes(in, patched, fresh ? kFreshBoot : kErasedBoot);

  std::vector<uint8_t> mcuFlash, bootFlash;
  std::string error;
  const sim::StateStore::LoadResult result =
      sim::StateStore::LoadMemories(mcu, boot, &mcuFlash, &bootFlash, &error);
  const bool whole = mcu.bytes && mcu.bytes->size() == sim::kMcuFlashSize && boot.bytes &&
                     boot.bytes->size() == sim::kBootFlashSize;
  using Load = sim::StateStore::LoadResult;
  FUZZ_CHECK(result == (!mcu.bytes && !boot.bytes ? Load::kAbsent
                        : whole                   ? Load::kLoaded
                                                  : Load::kDamaged));
  FUZZ_CHECK(result != Load::kDamaged || (error.find('\n') == std::string::npos &&
                                          (error.find(mcu.path) != std::string::npos ||
                                           error.find(boot.path) != std::string::npos)));
  if (result != Load::kLoaded) return 0;
  FUZZ_CHECK(mcuFlash == *mcu.bytes && bootFlash == *boot.bytes);

  FUZZ_CHECK(rack.AttachStore(sim::StateStore(), {{0, mcuFlash, bootFlash}}, &error));
  rack.PowerUp();
  rack.traffic().Clear();
  FUZZ_CHECK(rack.McuFlash(0) == mcuFlash && rack.BootFlash(0) == bootFlash &&
             rack.ApplicationRunning(0) == !(mcuFlash[0] == 0xFF && mcuFlash[1] == 0xFF));

  // What the utility asks of a module, then whatever the input asks.
  rack.Serve(kDevice, IOCTL_VENDOR_REQUEST,
             fuzz::VendorHeader(dc::kDirectionToModule, dc::kRequestRun,
                                module_addresses::kBootLoaderEntry),
             {});
  const std::pair<uint32_t, uint32_t> reads[] = {
      {module_addresses::kModuleDescription, 256},    {module_addresses::kFirmwareDescription, 227},
      {module_addresses::kBootLoaderDescription, 79}, {SEL_PLD_INFO, sim::kPldTextSize},
      {SEL_BOOT_FLASH, sim::kContainerHeaderSize},    {SEL_MODULE_TG_DATA, 1}};
  // Each read answered with the memory's bytes when it succeeds.
  for (const auto& [address, length] : reads) {
    const sim::Reply reply =
        rack.Serve(kDevice, IOCTL_VENDOR_REQUEST,
                   fuzz::VendorHeader(dc::kDirectionToHost, dc::kRequestRead, address),
                   std::vector<uint8_t>(length));
    CheckReply(reply, length);
    std::vector<uint8_t> memory;
    FUZZ_CHECK(reply.error != 0 ||
               (rack.Peek(0, address, length, &memory) && memory == reply.data));
    FUZZ_CHECK(address != SEL_PLD_INFO || (reply.error == 0) == rack.PldConfigured(0));
  }
  for (int n = 0; n < 16 && in.remaining_bytes() > 0; ++n) AnyRequest(rack, in);
  for (const std::string& line : rack.traffic().Lines()) {
    sim::TrafficEntry entry;
    FUZZ_CHECK(line.find('\n') == std::string::npos && sim::ParseTrafficLine(line, &entry) &&
               sim::FormatTrafficLine(entry) == line);
  }
  return 0;
}
