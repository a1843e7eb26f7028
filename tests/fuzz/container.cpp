// Fuzz target: the PLD flash container, as the utility builds and checks it and as the simulated
// module reads it. The utility's bit-by-bit checksum must equal a table-driven CRC written here
// from its published definition (generator 0x04C11DB7, not reflected, byte at a time, no final
// XOR), chain over any split, and flush to the table-driven form from any register; its header
// check must accept exactly the headers whose first word is that CRC of the rest; a container it
// builds must have the documented layout; and the simulator's container check must configure
// exactly what the module's contract allows.
//
// Input (FuzzedDataProvider): boot-flash bytes, then from the end a flags byte, a 32-bit
// register and a 16-bit split point.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/pld.h"
#include "tests/fuzz/fuzz_check.h"
#include "updater/allocator.h"
#include "updater/pld_flash_image.h"

namespace {

constexpr uint32_t kGenerator = 0x04C11DB7;
constexpr uint32_t kAugmentedStart = 0xC704DD7B;  // the table-driven form's start for 0xFFFFFFFF
constexpr size_t kHeader = 256;

class ReferenceCrc {
 public:
  ReferenceCrc() {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t r = b << 24;
      for (int i = 0; i < 8; ++i) r = (r & 0x80000000u) != 0 ? (r << 1) ^ kGenerator : r << 1;
      table_[b] = r;
    }
  }
  uint32_t operator()(uint32_t r, const uint8_t* data, size_t n) const {
    for (size_t i = 0; i < n; ++i) r = (r << 8) ^ table_[(r >> 24) ^ data[i]];
    return r;
  }

 private:
  uint32_t table_[256];
};

const ReferenceCrc kCrc;

uint32_t Load32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An allocator that can refuse, so that a failed allocation is a branch like any other.
class Heap final : public updater::Allocator {
 public:
  bool refuse = false;
  uint8_t* Allocate(size_t size) override {
    return refuse ? nullptr : updater::HeapAllocator().Allocate(size);
  }
  void Free(uint8_t* block) override { updater::HeapAllocator().Free(block); }
};

void CheckChecksum(const std::vector<uint8_t>& bytes, uint32_t initial, size_t split) {
  const uint8_t* p = bytes.data();
  const auto n = static_cast<uint32_t>(bytes.size());
  static constexpr uint8_t kFlush[4] = {};
  FUZZ_CHECK(updater::Crc32Augmented(p, n) == kCrc(kAugmentedStart, p, n));
  const uint32_t whole = updater::Crc32(initial, p, n);
  const auto at = static_cast<uint32_t>(split % (bytes.size() + 1));
  FUZZ_CHECK(updater::Crc32(updater::Crc32(initial, p, at), p + at, n - at) == whole);
  FUZZ_CHECK(updater::Crc32(whole, kFlush, 4) == kCrc(updater::Crc32(initial, kFlush, 4), p, n));
}

void CheckHeader(const std::vector<uint8_t>& bytes, uint32_t bit) {
  std::unique_ptr<uint8_t[]> header(new uint8_t[kHeader]());
  if (!bytes.empty()) std::memcpy(header.get(), bytes.data(), std::min(bytes.size(), kHeader));
  const bool valid = Load32(header.get()) == kCrc(kAugmentedStart, header.get() + 4, kHeader - 4);
  FUZZ_CHECK(updater::IsPldFlashHeaderValid(header.get()) == valid);
  Store32(header.get(), kCrc(kAugmentedStart, header.get() + 4, kHeader - 4));
  FUZZ_CHECK(updater::IsPldFlashHeaderValid(header.get()));
  // A CRC sees every single changed bit.
  header[(bit / 8) % kHeader] ^= static_cast<uint8_t>(1u << (bit % 8));
  FUZZ_CHECK(!updater::IsPldFlashHeaderValid(header.get()));
}

// What the simulated module configures from `flash`, by its contract: the image after a header
// whose checksum is right, when the image fits, its checksum is right and it begins with 32 bytes
// of 0xFF and then 0x6A; nothing otherwise.
sim::ByteRange Configurable(const std::vector<uint8_t>& flash) {
  if (flash.size() < kHeader) return {};
  const uint8_t* p = flash.data();
  if (Load32(p) != kCrc(kAugmentedStart, p + 4, kHeader - 4)) return {};
  const uint32_t length = Load32(p + 8);
  if (length > flash.size() - kHeader) return {};
  if (Load32(p + 4) != kCrc(kAugmentedStart, p + kHeader, length)) return {};
  if (length < 33) return {};
  for (size_t i = 0; i < 32; ++i) {
    if (p[kHeader + i] != 0xFF) return {};
  }
  if (p[kHeader + 32] != 0x6A) return {};
  return {p + kHeader, length};
}

void CheckSimulatorReading(const std::vector<uint8_t>& flash) {
  const sim::ByteRange got = sim::ConfigurableImage(flash);
  const sim::ByteRange expected = Configurable(flash);
  FUZZ_CHECK(got.data == expected.data);
  FUZZ_CHECK(got.size == expected.size);
}

// The flash with its checksums made right for the length it claims (or for all that follows the
// header), so that the checks after the checksums are reached.
std::vector<uint8_t> Sealed(std::vector<uint8_t> flash, bool lengthFromSize) {
  if (flash.size() < kHeader) return flash;
  uint8_t* p = flash.data();
  if (lengthFromSize) Store32(p + 8, static_cast<uint32_t>(flash.size() - kHeader));
  const uint32_t length = Load32(p + 8);
  if (length <= flash.size() - kHeader) Store32(p + 4, kCrc(kAugmentedStart, p + kHeader, length));
  Store32(p, kCrc(kAugmentedStart, p + 4, kHeader - 4));
  return flash;
}

void CheckBuild(const std::vector<uint8_t>& image, bool refuse) {
  Heap heap;
  heap.refuse = refuse;
  const auto n = static_cast<uint32_t>(image.size());
  const updater::Buffer built = updater::BuildPldFlashImage(image.data(), n, heap);
  FUZZ_CHECK(static_cast<bool>(built) == !refuse);
  if (refuse) return;
  FUZZ_CHECK(built.size() == kHeader + n);
  const uint8_t* c = built.data();
  FUZZ_CHECK(Load32(c + 4) == kCrc(kAugmentedStart, image.data(), n));
  FUZZ_CHECK(Load32(c + 8) == n);
  FUZZ_CHECK(Load32(c) == kCrc(kAugmentedStart, c + 4, kHeader - 4));
  for (size_t i = 12; i < kHeader; ++i) FUZZ_CHECK(c[i] == 0);
  FUZZ_CHECK(n == 0 || std::memcmp(c + kHeader, image.data(), n) == 0);
  FUZZ_CHECK(updater::IsPldFlashHeaderValid(c));
  CheckSimulatorReading(std::vector<uint8_t>(c, c + built.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint8_t flags = in.ConsumeIntegral<uint8_t>();
  const uint32_t initial = in.ConsumeIntegral<uint32_t>();
  const uint16_t split = in.ConsumeIntegral<uint16_t>();
  const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();

  CheckChecksum(bytes, initial, split);
  CheckHeader(bytes, initial);
  CheckBuild(bytes, (flags & 1) != 0);
  CheckSimulatorReading(bytes);
  CheckSimulatorReading(Sealed(bytes, (flags & 2) != 0));
  return 0;
}
