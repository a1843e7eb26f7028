// The keyed mix behind request ids: every step (add, xor with a right shift of itself, multiply by
// an odd number, all modulo 2^32) can be undone, so the whole mix is a bijection.
#include "platform/posix/request_ids.h"

#include <sys/random.h>

#include <random>

namespace qdev_posix {

RequestIds::RequestIds() {
  // The kernel's random numbers in one call; std::random_device (hundreds of microseconds per
  // handle where it draws on the processor's seed instruction) only should that fail.
  uint32_t key[2 * kRounds];
  if (::getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key)) {
    std::random_device random;
    for (uint32_t& k : key) k = static_cast<uint32_t>(random());
  }
  for (int i = 0; i < kRounds; ++i) {
    add_[i] = key[2 * i];
    multiply_[i] = key[2 * i + 1] | 1u;
  }
}

uint32_t RequestIds::Next() {
  uint32_t x = counter_++;
  for (int i = 0; i < kRounds; ++i) {
    x += add_[i];
    x ^= x >> 16;
    x *= multiply_[i];
  }
  return x ^ (x >> 15);
}

}  // namespace qdev_posix
