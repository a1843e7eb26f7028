// What the fuzz targets share: FUZZ_CHECK, which names a property that does not hold and aborts,
// so that libFuzzer keeps the input as a crash and reports its stack (whatever NDEBUG says); and
// the few pieces every target builds its inputs and checks from, with the standard headers that
// they all use.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/driver_contract.h"

namespace fuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

// One time in eight, as the input decides: the rare branch (a failure, a missing device).
inline bool OneIn8(FuzzedDataProvider& in) {
  return in.ConsumeIntegralInRange<uint8_t>(0, 7) == 1;
}

// A block of exactly `width` bytes holding `text` cut to the width, then zero bytes: no
// terminator when the text fills it, so that AddressSanitizer stops any read past it. `extra`
// bytes of other text may follow it in the same block, which must not matter to a reader.
inline std::unique_ptr<char[]> Field(std::string_view text, size_t width, size_t extra = 0) {
  std::unique_ptr<char[]> block(new char[width + extra]);
  std::memset(block.get(), 0, width);
  std::memcpy(block.get(), text.data(), std::min(text.size(), width));
  for (size_t i = 0; i < extra; ++i) block[width + i] = "7.7.7c 1"[i % 8];
  return block;
}

// A message of one line: not empty, and no control character in it (what it echoes is escaped).
inline bool IsOneLineOfText(std::string_view s) {
  return !s.empty() && std::none_of(s.begin(), s.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The header of a vendor request for `address`.
inline std::vector<uint8_t> VendorHeader(uint16_t direction, uint16_t code, uint32_t address) {
  std::vector<uint8_t> header(driver_contract::kVendorRequestSize);
  driver_contract::EncodeVendorRequest(
      {direction, code, static_cast<uint16_t>(address), static_cast<uint16_t>(address >> 16)},
      header.data());
  return header;
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzz::CheckFailed(#condition, __FILE__, __LINE__))
