// What a fuzz target does when a property of its surface does not hold: it names the property and
// aborts, so that libFuzzer keeps the input as a crash and reports its stack. The checks hold in
// every build, whatever NDEBUG says.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzz::CheckFailed(#condition, __FILE__, __LINE__))
