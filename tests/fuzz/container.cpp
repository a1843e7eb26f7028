// Fuzz target: the PLD flash container, as the utility builds and checks it and as the simulated
// module reads it, each side with its own code (the utility's checksum bit by bit, the module's
// table-driven), so that neither hides a fault of the other. The two checksums must agree on any
// bytes, and the utility's chain over any split from any register; its header check must accept
// exactly the headers whose first word is the checksum of the rest, and see every changed bit; a
// container it builds must have its layout and be byte for byte the module's own; and the module
// must configure exactly what its contract allows.
//
// Input (FuzzedDataProvider): a flags byte, a 32-bit register and a 16-bit split point, then the
// boot-flash bytes.

#include "sim/pld.h"
#include "tests/fuzz/fuzz_check.h"
#include "updater/allocator.h"
#include "updater/pld_flash_image.h"

namespace {

constexpr size_t kHeader = sim::kContainerHeaderSize;
using fuzz::Load32;

constexpr auto Sum = sim::ContainerChecksum;

void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An allocator that refuses, so that a failed allocation is a branch like any other.
struct Refusing final : updater::Allocator {
  uint8_t* Allocate(size_t) override { return nullptr; }
  void Free(uint8_t*) override {}
};

// The module configures the image after a header whose checksum is right, when the image fits,
// its checksum is right and it begins with the sync pattern; nothing otherwise.
void CheckConfigured(const std::vector<uint8_t>& flash) {
  const sim::ByteRange got = sim::ConfigurableImage(flash);
  const uint8_t* p = flash.data();
  const uint32_t length = flash.size() < kHeader ? 0 : Load32(p + sim::kImageLengthAt);
  const bool allowed = flash.size() >= kHeader && Load32(p) == Sum(p + 4, kHeader - 4) &&
                       length <= flash.size() - kHeader && length > sim::kPldSyncOnes &&
                       Load32(p + sim::kImageChecksumAt) == Sum(p + kHeader, length) &&
                       std::all_of(p + kHeader, p + kHeader + sim::kPldSyncOnes,
                                   [](uint8_t b) { return b == 0xFF; }) &&
                       p[kHeader + sim::kPldSyncOnes] == sim::kPldSyncByte;
  FUZZ_CHECK(got.data == (allowed ? p + kHeader : nullptr) && got.size == (allowed ? length : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint8_t flags = in.ConsumeIntegral<uint8_t>();
  const uint32_t initial = in.ConsumeIntegral<uint32_t>();
  const uint16_t split = in.ConsumeIntegral<uint16_t>();
  std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
  const uint8_t* p = bytes.data();
  const auto n = static_cast<uint32_t>(bytes.size());

  // The checksums.
  FUZZ_CHECK(updater::Crc32Augmented(p, n) == Sum(p, n));
  const auto at = static_cast<uint32_t>(split % (n + 1));
  FUZZ_CHECK(updater::Crc32(updater::Crc32(initial, p, at), p + at, n - at) ==
             updater::Crc32(initial, p, n));

  // The header check, on the input's header, sealed, and with one bit changed.
  std::vector<uint8_t> header(kHeader);
  if (n != 0) std::memcpy(header.data(), p, std::min<size_t>(n, kHeader));
  FUZZ_CHECK(updater::IsPldFlashHeaderValid(header.data()) ==
             (Load32(header.data()) == Sum(header.data() + 4, kHeader - 4)));
  Store32(header.data(), Sum(header.data() + 4, kHeader - 4));
  FUZZ_CHECK(updater::IsPldFlashHeaderValid(header.data()));
  header[(initial / 8) % kHeader] ^= static_cast<uint8_t>(1u << (initial % 8));
  FUZZ_CHECK(!updater::IsPldFlashHeaderValid(header.data()));

  // A built container: its layout, the module's own container, and what the module configures.
  Refusing refusing;
  const bool refuse = (flags & 1) != 0;
  const updater::Buffer built =
      updater::BuildPldFlashImage(p, n, refuse ? refusing : updater::HeapAllocator());
  FUZZ_CHECK(static_cast<bool>(built) == !refuse);
  if (built) {
    const uint8_t* c = built.data();
    FUZZ_CHECK(built.size() == kHeader + n && Load32(c + 4) == Sum(p, n) && Load32(c + 8) == n);
    FUZZ_CHECK(std::all_of(c + 12, c + kHeader, [](uint8_t b) { return b == 0; }));
    FUZZ_CHECK(std::equal(p, p + n, c + kHeader) && updater::IsPldFlashHeaderValid(c));
    const std::vector<uint8_t> container(c, c + built.size());
    FUZZ_CHECK(container == sim::BuildContainer(p, n));
    CheckConfigured(container);
  }

  // The module's reading of the flash as it is, and with its checksums made right for the length
  // it claims (or for all that follows the header), so that the checks after them are reached.
  CheckConfigured(bytes);
  if (bytes.size() >= kHeader) {
    uint8_t* f = bytes.data();
    if ((flags & 2) != 0) Store32(f + 8, static_cast<uint32_t>(bytes.size() - kHeader));
    const uint32_t length = Load32(f + 8);
    if (length <= bytes.size() - kHeader) Store32(f + 4, Sum(f + kHeader, length));
    Store32(f, Sum(f + 4, kHeader - 4));
    CheckConfigured(bytes);
  }
  return 0;
}
