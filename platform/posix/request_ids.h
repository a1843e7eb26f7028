// Internal to the platform layer: the request ids of one device handle. An endpoint that answers
// ahead of a request must not be able to complete it, so ids are not sequential: each is a keyed
// bijective mix of a counter, keyed afresh for every handle from the kernel's random numbers
// (getrandom, or std::random_device should that fail). The mix is a bijection of 32-bit values,
// so no id repeats within 2^32 requests on one handle, and a reply for an id that was never
// issued finds no request to complete. (Not a cryptographic guarantee: it keeps an endpoint from
// guessing, not from a deliberate analysis of the mix.)
#pragma once

#include <cstdint>

namespace qdev_posix {

class RequestIds {
 public:
  RequestIds();  // draws the key; may throw what std::random_device throws, when it is asked
  uint32_t Next();

 private:
  static constexpr int kRounds = 3;
  uint32_t counter_ = 0;
  uint32_t add_[kRounds];       // added before each round
  uint32_t multiply_[kRounds];  // odd, so that the multiplication is a bijection
};

}  // namespace qdev_posix
