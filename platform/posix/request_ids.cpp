// The keyed mix behind request ids: every step (add, xor with a right shift of itself, multiply by
// an odd number, all modulo 2^32) can be undone, so the whole mix is a bijection.
#include "platform/posix/request_ids.h"

#include <random>

namespace qdev_posix {

RequestIds::RequestIds() {
  std::random_device random;
  for (int i = 0; i < kRounds; ++i) {
    add_[i] = static_cast<uint32_t>(random());
    multiply_[i] = static_cast<uint32_t>(random()) | 1u;
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
