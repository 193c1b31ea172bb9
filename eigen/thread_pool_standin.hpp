#pragma once
// Temporary stand-in for the process's thread pool (eigen/thread_pool.hpp),
// with the same interface, until the pool itself is merged: it starts fresh
// threads for every parallel_for. To be deleted on the merge.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace blockeig {

namespace standin {
inline std::atomic<int> threads{0};
}

inline void set_thread_count(int count) { standin::threads = std::clamp(count, 1, 256); }

inline int thread_count() {
  const int t = standin::threads;
  if (t > 0) return t;
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

template <class Body>
void parallel_for(std::size_t count, Body&& body) {
  const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(thread_count()), count);
  if (workers <= 1) {
    for (std::size_t i = 0; i < count; ++i) body(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) body(i);
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
}

}  // namespace blockeig
