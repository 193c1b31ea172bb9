#include "eigen/thread_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <cstddef>
#include <thread>
#include <vector>

namespace blockeig {
namespace {

// Restores the thread count that the test found.
class ThreadPool : public ::testing::Test {
 protected:
  void TearDown() override { set_thread_count(saved_); }

 private:
  int saved_ = thread_count();
};

constexpr int thread_counts[] = {1, 2, 3, 7};

TEST_F(ThreadPool, VisitsEveryIndexExactlyOnce) {
  const std::size_t counts[] = {0, 1, 2, 3, 7, 64, 1000, 100003};
  for (int threads : thread_counts) {
    set_thread_count(threads);
    for (std::size_t count : counts) {
      std::vector<std::atomic<int>> visits(count);
      parallel_for(count, [&](std::size_t i) { visits[i].fetch_add(1, std::memory_order_relaxed); });
      std::size_t wrong = 0;
      for (const auto& v : visits) wrong += v.load() != 1;
      EXPECT_EQ(wrong, 0u) << "threads " << threads << ", count " << count;
    }
  }
}

TEST_F(ThreadPool, ManyJobsInARow) {
  set_thread_count(3);
  std::atomic<std::size_t> total{0};
  for (int job = 0; job < 2000; ++job)
    parallel_for(5, [&](std::size_t i) { total.fetch_add(i + 1, std::memory_order_relaxed); });
  EXPECT_EQ(total.load(), 2000u * 15u);
}

TEST_F(ThreadPool, OneThreadRunsInlineInOrder) {
  set_thread_count(1);
  const auto caller = std::this_thread::get_id();
  std::vector<std::size_t> order;
  bool elsewhere = false;
  parallel_for(50, [&](std::size_t i) {
    order.push_back(i);
    elsewhere |= std::this_thread::get_id() != caller;
  });
  ASSERT_EQ(order.size(), 50u);
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(elsewhere);
}

TEST_F(ThreadPool, NestedCallsRunInline) {
  set_thread_count(2);
  std::vector<std::atomic<int>> visits(40 * 30);
  parallel_for(40, [&](std::size_t i) {
    parallel_for(30, [&](std::size_t j) { visits[i * 30 + j].fetch_add(1, std::memory_order_relaxed); });
  });
  std::size_t wrong = 0;
  for (const auto& v : visits) wrong += v.load() != 1;
  EXPECT_EQ(wrong, 0u);
}

TEST_F(ThreadPool, CountIsClampedAndKept) {
  const struct {
    int requested, expected;
  } cases[] = {{1, 1}, {2, 2}, {7, 7}, {0, 1}, {-5, 1}, {max_thread_count + 1, max_thread_count}};
  for (const auto& c : cases) {
    set_thread_count(c.requested);
    EXPECT_EQ(thread_count(), c.expected) << "requested " << c.requested;
  }
  EXPECT_GE(default_thread_count(), 1);
}

TEST_F(ThreadPool, WorkersRunUnderTheCallersRounding) {
  set_thread_count(3);
  const int saved = std::fegetround();
  for (int mode : {FE_UPWARD, FE_TOWARDZERO, FE_TONEAREST}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    std::vector<int> seen(64, -1);
    parallel_for(seen.size(), [&](std::size_t i) {
      seen[i] = std::fegetround();
      std::this_thread::yield();  // give every worker a chance at a task
    });
    std::fesetround(saved);
    for (int s : seen) EXPECT_EQ(s, mode);
  }
}

}  // namespace
}  // namespace blockeig
