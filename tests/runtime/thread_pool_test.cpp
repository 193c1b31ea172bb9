#include "runtime/thread_pool.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/settings.hpp"

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

struct TaskSeen {
  std::thread::id thread;
  int rounding;
};

// Runs `count` tasks, each of which waits until every task has started (for
// at most a minute): with fewer than `count` threads some task runs late,
// after the wait, and its thread shows up twice. Returns what each task saw.
std::vector<TaskSeen> run_together(int count) {
  std::mutex mutex;
  std::condition_variable all_in;
  std::vector<TaskSeen> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  parallel_for(static_cast<std::size_t>(count), [&](std::size_t) {
    std::unique_lock lock(mutex);
    seen.push_back({std::this_thread::get_id(), std::fegetround()});
    all_in.notify_all();
    all_in.wait_until(lock, deadline, [&] { return seen.size() == static_cast<std::size_t>(count); });
  });
  return seen;
}

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
  } cases[] = {{1, 1}, {2, 2}, {7, 7}, {0, 1}, {-5, 1}, {runtime::max_threads, runtime::max_threads}};
  for (const auto& c : cases) {
    set_thread_count(c.requested);
    EXPECT_EQ(thread_count(), c.expected) << "requested " << c.requested;
  }
  EXPECT_GE(runtime::default_thread_count(), 1);
}

// Tasks are claimed in ascending order, so a task may wait for the tasks
// below it, as the reduction's bands wait on the band before: the chain
// completes on any number of threads, fewer or more than the tasks or the
// processors. Claimed in another order, some task would wait for one that
// no thread is free to start (here: until the deadline, and give up).
TEST_F(ThreadPool, ATaskMayWaitForTheTasksBelowIt) {
  for (int threads : {2, 3, 7, 64}) {
    set_thread_count(threads);
    for (std::size_t count : {std::size_t{2}, std::size_t{9}, std::size_t{200}}) {
      std::vector<std::atomic<bool>> finished(count);
      std::atomic<int> gave_up{0};
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      parallel_for(count, [&](std::size_t i) {
        while (i > 0 && !finished[i - 1].load(std::memory_order_acquire)) {
          if (std::chrono::steady_clock::now() > deadline) {
            gave_up.fetch_add(1);
            break;
          }
          std::this_thread::yield();
        }
        finished[i].store(true, std::memory_order_release);
      });
      EXPECT_EQ(gave_up.load(), 0) << "threads " << threads << ", count " << count;
    }
  }
}

// The progress counters that such tasks share: a waiter goes on only once
// the task below has published enough.
TEST_F(ThreadPool, ProgressCountersHandOverInOrder) {
  set_thread_count(3);
  constexpr int tasks = 6, steps = 500;
  std::vector<int> progress(tasks, 0);
  std::atomic<int> early{0};
  parallel_for(tasks, [&](std::size_t t) {
    for (int step = 1; step <= steps; ++step) {
      if (t > 0) {
        wait_for_progress(progress[t - 1], step);
        if (std::atomic_ref<int>(progress[t - 1]).load(std::memory_order_acquire) < step) early.fetch_add(1);
      }
      publish_progress(progress[t], step);
    }
  });
  EXPECT_EQ(early.load(), 0);
  EXPECT_EQ(std::count(progress.begin(), progress.end(), steps), tasks);
}

// Memory refused to the caller: the helpers go, their stacks with them, and
// the pool goes on with the caller alone, visiting every index, until the
// thread count is set anew.
TEST_F(ThreadPool, HelpersLetGoLeaveTheCallerAlone) {
  set_thread_count(4);
  bool inside = true;
  parallel_for(2, [&](std::size_t) { inside = inside && !let_helpers_go(); });
  EXPECT_TRUE(inside) << "let go from inside a task";
  EXPECT_TRUE(let_helpers_go());
  EXPECT_FALSE(let_helpers_go()) << "no helper left to let go";
  EXPECT_EQ(thread_count(), 4);
  EXPECT_EQ(concurrent_threads(), 1);
  set_thread_count(4);  // the same count starts none again
  const auto caller = std::this_thread::get_id();
  std::vector<int> visits(100, 0);
  bool elsewhere = false;
  parallel_for(visits.size(), [&](std::size_t i) {
    ++visits[i];
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
  });
  EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), 100);
  EXPECT_FALSE(elsewhere);
  set_thread_count(2);
  EXPECT_EQ(concurrent_threads(), std::min(2, runtime::default_thread_count()));
}

// The largest count the settings accept, handed to the pool as main does:
// that many distinct threads run tasks at once, however few cores the
// machine has.
TEST_F(ThreadPool, ARunUsesTheThreadsItsSettingsReport) {
  const std::string most = std::to_string(runtime::max_threads);
  ASSERT_EQ(::setenv("BLOCKEIG_THREADS", most.c_str(), 1), 0);
  const std::string problem = runtime::load_settings();
  ::unsetenv("BLOCKEIG_THREADS");
  ASSERT_EQ(problem, "");
  const int reported = runtime::settings().threads;
  runtime::load_settings();
  ASSERT_EQ(reported, runtime::max_threads);

  set_thread_count(reported);
  EXPECT_EQ(thread_count(), reported);
  std::vector<std::thread::id> ran;
  for (const TaskSeen& task : run_together(reported)) ran.push_back(task.thread);
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(std::unique(ran.begin(), ran.end()) - ran.begin(), reported);
}

// Every task waits for the others, so the workers are sure to run tasks of
// their own: the caller cannot drain the job alone.
TEST_F(ThreadPool, WorkersRunUnderTheCallersRounding) {
  constexpr int threads = 3;
  set_thread_count(threads);
  const auto caller = std::this_thread::get_id();
  const int saved = std::fegetround();
  for (int mode : {FE_UPWARD, FE_TOWARDZERO, FE_TONEAREST}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    const std::vector<TaskSeen> seen = run_together(threads);
    std::fesetround(saved);
    int by_workers = 0;
    for (const TaskSeen& task : seen) {
      EXPECT_EQ(task.rounding, mode);
      by_workers += task.thread != caller;
    }
    EXPECT_EQ(by_workers, threads - 1) << "rounding mode " << mode;
  }
}

}  // namespace
}  // namespace blockeig
