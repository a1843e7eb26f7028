// Independent jobs on a few threads: each worker takes the next job until none is left.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace recovery {

// Runs job(0) to job(count - 1), each once, on `workers` threads (at least one), and returns when
// all have finished.
inline void RunInParallel(size_t count, unsigned workers, const std::function<void(size_t)>& job) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < (workers == 0 ? 1 : workers); ++i) {
    threads.emplace_back([&] {
      for (size_t k = next++; k < count; k = next++) job(k);
    });
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace recovery
