#include "runtime/thread_pool.hpp"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/settings.hpp"
#include "runtime/worker_thread.hpp"

namespace blockeig {
namespace {

// How long a thread that waits for the next job, or for the end of its own,
// keeps the processor before it sleeps.
constexpr auto spin_time = std::chrono::microseconds(50);

// True on a thread while it runs tasks of a job; a nested parallel_for then
// runs inline instead of waiting for a pool that is busy with its parent.
thread_local bool running_tasks = false;

class Pool {
 public:
  Pool() : wanted_(runtime::default_thread_count()) {}
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool() {
    std::lock_guard submit(submit_);
    stop_workers();
  }

  int thread_count() const { return wanted_.load(std::memory_order_relaxed); }

  void set_thread_count(int count) {
    count = std::max(count, 1);
    std::lock_guard submit(submit_);
    if (count != wanted_) {
      stop_workers();
      wanted_ = count;
    }
    // Started now, before the caller's large arrays: the helpers' stacks
    // then come out of the address space first, and a run has them from the
    // start or not at all. Later they would take space the arrays need, and
    // a larger address-space limit could turn success into failure.
    start_workers();
  }

  void run(std::size_t count, detail::task_function function, void* context) {
    if (count == 0) return;
    if (running_tasks || count == 1) return run_inline(count, function, context);
    std::unique_lock submit(submit_);
    if (wanted_ == 1) {
      submit.unlock();
      return run_inline(count, function, context);
    }
    start_workers();
    {
      std::lock_guard lock(mutex_);
      function_ = function;
      context_ = context;
      count_ = count;
      next_.store(0, std::memory_order_relaxed);
      pending_.store(workers_.size(), std::memory_order_relaxed);
      std::fegetenv(&environment_);
      generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    running_tasks = true;
    drain(function, context, count);
    running_tasks = false;
    if (spin_until([this] { return pending_.load(std::memory_order_acquire) == 0; })) return;
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) == 0; });
  }

 private:
  // Tasks must not throw: a job's context lives on the submitting thread's
  // stack while other threads still use it, so an escaping exception ends the
  // process here instead.
  static void run_inline(std::size_t count, detail::task_function function, void* context) noexcept {
    const bool outer = running_tasks;
    running_tasks = true;
    for (std::size_t i = 0; i < count; ++i) function(context, i);
    running_tasks = outer;
  }

  void drain(detail::task_function function, void* context, std::size_t count) noexcept {
    for (;;) {
      const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      function(context, i);
    }
  }

  // A helper thread and the job generation in effect when it was started.
  struct Worker {
    Pool* pool;
    std::uint64_t seen;
    runtime::WorkerThread thread;
  };

  // Requires submit_ held and no job published since the last one ended.
  // Tries once for the current thread count: helpers refused at the start of
  // a run are not asked for again later, when they would take space from
  // the run's arrays.
  void start_workers() {
    if (workers_tried_) return;
    workers_tried_ = true;
    const std::size_t helpers = static_cast<std::size_t>(wanted_ - 1);
    const std::uint64_t current = generation_.load(std::memory_order_acquire);
    // A platform that refuses a thread, or the address space for its stacks,
    // leaves fewer helpers; the tasks and their results stay the same.
    while (workers_.size() < helpers) {
      auto worker = std::make_unique<Worker>();
      worker->pool = this;
      worker->seen = current;
      if (!worker->thread.start(run_worker, worker.get())) break;
      workers_.push_back(std::move(worker));
    }
  }

  static void run_worker(void* argument) {
    Worker* worker = static_cast<Worker*>(argument);
    worker->pool->work(worker->seen);
  }

  // Requires submit_ held, so that no job is running.
  void stop_workers() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (const auto& worker : workers_) worker->thread.join();
    workers_.clear();
    workers_tried_ = false;
    std::lock_guard lock(mutex_);
    stop_ = false;
  }

  // A worker waits for the first job after generation `seen`, the one in
  // effect when it was started.
  //
  // A job's description is written before its generation is published and
  // is not changed until every worker has finished the job, so a worker that
  // sees the new generation may read it without the lock.
  void work(std::uint64_t seen) {
    for (;;) {
      const auto published = [&] { return generation_.load(std::memory_order_acquire) != seen; };
      if (!spin_until(published)) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || published(); });
      }
      {
        std::lock_guard lock(mutex_);
        if (stop_) return;
      }
      seen = generation_.load(std::memory_order_acquire);
      std::fesetenv(&environment_);
      running_tasks = true;
      drain(function_, context_, count_);
      running_tasks = false;
      if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::lock_guard lock(mutex_);
        done_.notify_one();
      }
    }
  }

  // Waits up to spin_time for `ready` before the caller sleeps: the loops
  // that use the pool hand it one job after another with a few microseconds
  // between them, much less than it takes to wake a sleeping thread (about
  // 60 us here). The processor is offered to other threads between checks,
  // so that on a busy machine the waiting costs them little. Returns whether
  // `ready` came true.
  template <class Ready>
  static bool spin_until(Ready&& ready) {
    const auto deadline = std::chrono::steady_clock::now() + spin_time;
    for (;;) {
      for (int i = 0; i < 64; ++i) {
        if (ready()) return true;
        spin_pause();
      }
      std::this_thread::yield();
      if (std::chrono::steady_clock::now() >= deadline) return ready();
    }
  }

  static void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }

  std::mutex submit_;  // one job at a time; guards changes of wanted_ and workers_
  std::atomic<int> wanted_;
  std::vector<std::unique_ptr<Worker>> workers_;
  bool workers_tried_ = false;  // start_workers has run for this thread count

  std::mutex mutex_;  // guards the job description below
  std::condition_variable wake_;
  std::condition_variable done_;
  bool stop_ = false;
  std::atomic<std::uint64_t> generation_{0};
  detail::task_function function_ = nullptr;
  void* context_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> pending_{0};
  std::fenv_t environment_{};
  std::atomic<std::size_t> next_{0};
};

Pool& pool() {
  static Pool instance;
  return instance;
}

}  // namespace

void set_thread_count(int count) { pool().set_thread_count(count); }

int thread_count() { return pool().thread_count(); }

namespace detail {
void run_tasks(std::size_t count, task_function function, void* context) {
  pool().run(count, function, context);
}
}  // namespace detail

}  // namespace blockeig
