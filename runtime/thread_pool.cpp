#include "runtime/thread_pool.hpp"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <sys/mman.h>

#if defined(__aarch64__) && defined(__clang__)
#include <arm_acle.h>
#endif

#include "runtime/processors.hpp"
#include "runtime/settings.hpp"
#include "runtime/stand_in.hpp"
#include "runtime/worker_thread.hpp"

namespace blockeig {
namespace {

using Clock = std::chrono::steady_clock;
using runtime::make_anew;
using runtime::stack_holds_a_task;

// How long a thread that waits for the next job, for the end of its own or
// for another task's progress keeps the processor before it sleeps.
constexpr auto spin_time = std::chrono::microseconds(50);
// How long the tasks of a job may all run without one of them finishing,
// while tasks are left and threads sleep, before the pool takes them for
// tasks that wait on one another and wakes every thread. No task of the
// program waits on one that is not running; this keeps the promise that a
// job may use every thread.
constexpr auto stall_time = std::chrono::milliseconds(20);

// True on a thread while it runs tasks of a job (or, submitting it, waits
// for its end); a nested parallel_for then runs inline instead of waiting
// for a pool that is busy with its parent, and let_helpers_go does nothing.
thread_local bool running_tasks = false;

// The processor's hint that the thread is waiting in a loop: it lets a
// sibling hardware thread run and saves power. Nothing where the compiler
// offers none (g++ 12's arm_acle.h has no __yield).
void pause_processor() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) && defined(__clang__)
  __yield();
#endif
}

// Waits up to spin_time for `ready` before the caller sleeps: the loops
// that use the pool hand it one job after another with a few microseconds
// between them, much less than it takes to wake a sleeping thread (about
// 60 us here). The processor is offered to other threads between checks,
// so that on a busy machine the waiting costs them little. Returns whether
// `ready` came true.
template <class Ready>
bool spin_until(Ready&& ready) {
  const auto deadline = Clock::now() + spin_time;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (ready()) return true;
      pause_processor();
    }
    std::this_thread::yield();
    if (Clock::now() >= deadline) return ready();
  }
}

// The job word: its generation in the upper half; whether helpers may still
// join it; and how many helpers are in it. A helper joins by raising the
// count of an open job of the generation it saw, so that no helper can join
// once the job is closed, and the submitter changes the job's description
// only when the count is back at 0.
constexpr std::uint64_t open_bit = std::uint64_t{1} << 31;
constexpr std::uint64_t helpers_in_job = open_bit - 1;
constexpr int generation_shift = 32;

std::uint64_t generation_of(std::uint64_t word) { return word >> generation_shift; }
bool is_open(std::uint64_t word) { return (word & open_bit) != 0; }

class Pool;
// The pool once it exists, for let_helpers_go: memory refused while the
// pool is being made has no helpers to let go, and must not make it again.
std::atomic<Pool*> made_pool{nullptr};

class Pool {
 public:
  Pool() : wanted_(runtime::default_thread_count()) {
    set_limits(wanted_);
    made_pool.store(this, std::memory_order_release);
  }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  int thread_count() const { return wanted_.load(std::memory_order_relaxed); }

  int concurrent_threads() const { return running_tasks ? 1 : concurrent_.load(std::memory_order_relaxed); }

  void set_thread_count(int count) {
    count = std::max(count, 1);
    std::lock_guard submit(submit_);
    if (count != wanted_) {
      stop_workers();
      wanted_ = count;
      set_limits(count);
    }
    // Started now, before the caller's large arrays: the helpers' stacks
    // then come out of the address space first, and a run has them from the
    // start or not at all. Later they would take space the arrays need, and
    // a larger address-space limit could turn success into failure.
    start_workers();
  }

  bool let_helpers_go() {
    if (running_tasks) return false;
    std::unique_lock submit(submit_, std::try_to_lock);
    if (!submit.owns_lock() || helpers_ == 0) return false;
    stop_workers();
    workers_tried_ = true;  // not started again for this thread count
    concurrent_.store(1, std::memory_order_relaxed);
    return true;
  }

  void run(std::size_t count, detail::task_function function, void* context) {
    if (count == 0) return;
    if (running_tasks) return run_inline(count, function, context);
    if (!stack_holds_a_task() && hand_over(count, function, context, false)) return;
    if (count == 1) return run_inline(count, function, context);
    std::unique_lock submit(submit_);
    start_workers();
    if (helpers_ == 0) {
      submit.unlock();
      return run_inline(count, function, context);
    }
    publish(count, function, context);
    running_tasks = true;  // until the job ends: the caller holds submit_
    drain(function, context, count);
    close_job();
    running_tasks = false;
  }

  void run_serially(std::size_t count, detail::task_function function, void* context) {
    if (count == 0) return;
    if (running_tasks || stack_holds_a_task() || !hand_over(count, function, context, true))
      run_inline(count, function, context);
  }

  // A job of a caller whose stack is too small for a task, run or submitted
  // by the stand-in in the caller's place: false when it cannot be had.
  bool hand_over(std::size_t count, detail::task_function function, void* context, bool serially) {
    struct Job {
      Pool* pool;
      std::size_t count;
      detail::task_function function;
      void* context;
      bool serially;
    } job{this, count, function, context, serially};
    return stand_in_.run(
        [](void* argument) {
          const Job& j = *static_cast<const Job*>(argument);
          if (j.serially)
            j.pool->run_serially(j.count, j.function, j.context);
          else
            j.pool->run(j.count, j.function, j.context);
        },
        &job);
  }

  // In a child process just forked, which has only the thread that forked
  // (never inside a job): the helpers, the stand-in and every job of the
  // parent's are forgotten and the locks made anew, whoever held them. The
  // thread count stays; the next job starts helpers of the child's own.
  void forget_after_fork() noexcept {
    make_anew(submit_);
    make_anew(mutex_);
    make_anew(done_);
    if (workers_ != nullptr) {
      for (std::size_t i = 0; i < mapped_helpers_; ++i) workers_[i].thread.forget();
      ::munmap(workers_, mapped_helpers_ * (sizeof(Worker) + sizeof(Worker*)));
    }
    workers_ = nullptr;
    sleepers_ = nullptr;
    mapped_helpers_ = 0;
    helpers_ = 0;
    sleeping_ = 0;
    spinning_.store(0, std::memory_order_relaxed);
    stop_.store(false, std::memory_order_relaxed);
    state_.store(generation_ << generation_shift, std::memory_order_relaxed);
    workers_tried_ = false;
    concurrent_.store(1, std::memory_order_relaxed);
    stand_in_.forget_after_fork();
  }

 private:
  // A helper thread: the job generation it has seen last, and its own
  // wake-up call.
  struct Worker {
    Pool* pool = nullptr;
    std::uint64_t seen = 0;
    bool called = false;  // mutex_
    std::condition_variable wake;
    runtime::WorkerThread thread;
  };

  // Requires submit_ held and no helper running. The helpers read the
  // limits without a lock: they are set before any is started.
  void set_limits(int threads) {
    run_limit_ = std::min(threads, runtime::available_processors().count);
    spin_limit_ = run_limit_ - 1;
    watch_ = run_limit_ < threads;
    concurrent_.store(run_limit_, std::memory_order_relaxed);
  }

  // Tasks must not throw: a job's context lives on the submitting thread's
  // stack while other threads still use it, so an escaping exception ends the
  // process here instead.
  static void run_inline(std::size_t count, detail::task_function function, void* context) noexcept {
    const bool outer = running_tasks;
    running_tasks = true;
    for (std::size_t i = 0; i < count; ++i) function(context, i);
    running_tasks = outer;
  }

  // Claims tasks in ascending order until none is left. A helper whose
  // first task leaves others unclaimed calls one more helper, if the job may
  // run on more threads than it has.
  void drain(detail::task_function function, void* context, std::size_t count, bool helper = false) noexcept {
    for (bool first = helper;; first = false) {
      const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      if (first && i + 1 < count) call_one_more();
      function(context, i);
    }
  }

  // Requires submit_ held and no job open. Describes the job, opens it and
  // calls as many sleeping helpers as it may use beside the caller and the
  // helpers that spin (which find it themselves).
  void publish(std::size_t count, detail::task_function function, void* context) {
    std::lock_guard lock(mutex_);
    function_ = function;
    context_ = context;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    std::fegetenv(&environment_);
    cap_ = run_limit_;
    cap_hint_.store(cap_, std::memory_order_relaxed);
    ++generation_;
    state_.store(generation_ << generation_shift | open_bit, std::memory_order_release);
    const std::size_t wanted = std::min<std::size_t>(count, static_cast<std::size_t>(cap_)) - 1;
    const std::size_t spinning = static_cast<std::size_t>(spinning_.load(std::memory_order_seq_cst));
    if (wanted > spinning) call_sleepers(wanted - spinning);
    // The watcher (at the bottom of the sleepers) sleeps without a timeout
    // until a job may stall: one with more tasks than threads to run them.
    if (watch_ && sleeping_ > 0 && needs_watching()) sleepers_[0]->wake.notify_one();
  }

  // Requires mutex_ held. Whether the open job has more tasks than the
  // threads it may run on at once, so that some wait for a thread: only
  // then can its tasks stall, waiting for ones that no thread has taken.
  bool needs_watching() const {
    return is_open(state_.load(std::memory_order_acquire)) && count_ > static_cast<std::size_t>(cap_);
  }

  // Requires mutex_ held. Wakes up to `wanted` sleeping helpers, the last
  // to fall asleep first (their caches are the warmest; the first asleep
  // watches for stalls).
  void call_sleepers(std::size_t wanted) {
    for (; wanted > 0 && sleeping_ > 0; --wanted) {
      Worker* worker = sleepers_[--sleeping_];
      worker->called = true;
      worker->wake.notify_one();
    }
  }

  void call_one_more() {
    const std::uint64_t word = state_.load(std::memory_order_relaxed);
    const int running = static_cast<int>(word & helpers_in_job) + 1 + spinning_.load(std::memory_order_relaxed);
    if (running >= cap_hint_.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(mutex_);
    call_sleepers(1);
  }

  // Called by the submitter once every task is claimed: no helper joins
  // from now on. Returns when the helpers in the job have left it.
  void close_job() {
    const std::uint64_t before = state_.fetch_and(~open_bit, std::memory_order_acq_rel);
    if ((before & helpers_in_job) == 0) return;
    const auto left = [this] { return (state_.load(std::memory_order_acquire) & helpers_in_job) == 0; };
    if (spin_until(left)) return;
    std::unique_lock lock(mutex_);
    done_.wait(lock, left);
  }

  // Joins the open job if it is newer than `seen`. Returns whether it did;
  // `seen` becomes the latest generation either way.
  bool join(std::uint64_t& seen) {
    std::uint64_t word = state_.load(std::memory_order_acquire);
    while (is_open(word) && generation_of(word) != seen) {
      if (state_.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
        seen = generation_of(word);
        return true;
      }
    }
    seen = generation_of(word);
    return false;
  }

  void leave() {
    const std::uint64_t before = state_.fetch_sub(1, std::memory_order_acq_rel);
    if ((before & helpers_in_job) == 1 && !is_open(before)) {
      std::lock_guard lock(mutex_);
      done_.notify_one();
    }
  }

  // Requires submit_ held and no job open. Tries once for the current
  // thread count: helpers refused at the start of a run are not asked for
  // again later, when they would take space from the run's arrays.
  void start_workers() {
    if (workers_tried_) return;
    workers_tried_ = true;
    const auto helpers = static_cast<std::size_t>(wanted_ - 1);
    if (helpers == 0) return;
    // A platform that refuses a thread, or the memory for it or its stacks,
    // leaves fewer helpers; the tasks and their results stay the same.
    if (!map_workers(helpers)) return;
    int started = 0;
    for (std::size_t i = 0; i < helpers; ++i) {
      workers_[i].pool = this;
      workers_[i].seen = generation_;
      if (!workers_[i].thread.start(run_worker, &workers_[i])) break;
      ++started;
    }
    std::lock_guard lock(mutex_);
    helpers_ = started;
    concurrent_.store(std::min(started + 1, run_limit_), std::memory_order_relaxed);
  }

  // The helpers' records and the stack of sleeping ones live in a mapping
  // of their own, not on the heap: letting the helpers go then leaves the
  // heap as a run on one thread has it, with no holes where they were,
  // which could make the run's arrays need more than on one thread.
  bool map_workers(std::size_t helpers) {
    const std::size_t bytes = helpers * (sizeof(Worker) + sizeof(Worker*));
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    workers_ = static_cast<Worker*>(memory);
    for (std::size_t i = 0; i < helpers; ++i) new (&workers_[i]) Worker();
    sleepers_ = reinterpret_cast<Worker**>(workers_ + helpers);
    mapped_helpers_ = helpers;
    return true;
  }

  void unmap_workers() {
    if (workers_ == nullptr) return;
    for (std::size_t i = 0; i < mapped_helpers_; ++i) workers_[i].~Worker();
    ::munmap(workers_, mapped_helpers_ * (sizeof(Worker) + sizeof(Worker*)));
    workers_ = nullptr;
    sleepers_ = nullptr;
    mapped_helpers_ = 0;
  }

  static void run_worker(void* argument) {
    Worker* worker = static_cast<Worker*>(argument);
    worker->pool->work(*worker);
  }

  // Requires submit_ held, so that no job is running.
  void stop_workers() {
    int helpers = 0;
    {
      std::lock_guard lock(mutex_);
      stop_.store(true, std::memory_order_relaxed);
      for (int i = 0; i < helpers_; ++i) workers_[static_cast<std::size_t>(i)].wake.notify_one();
      sleeping_ = 0;
      helpers = helpers_;
    }
    for (int i = 0; i < helpers; ++i) workers_[static_cast<std::size_t>(i)].thread.join();
    unmap_workers();
    workers_tried_ = false;
    std::lock_guard lock(mutex_);
    helpers_ = 0;
    stop_.store(false, std::memory_order_relaxed);
  }

  // A helper takes part in every job it is called for, or that it finds
  // while it spins, newer than the last it has seen.
  //
  // A job's description is written before the job is opened and is not
  // changed until every helper in it has left, so a helper that has joined
  // may read it without the lock.
  void work(Worker& self) {
    for (;;) {
      if (!wait_for_job(self)) return;
      if (!join(self.seen)) continue;  // over before this helper came
      std::fesetenv(&environment_);
      running_tasks = true;
      drain(function_, context_, count_, /*helper=*/true);
      running_tasks = false;
      leave();
    }
  }

  // Returns false when the helper is to stop, true when there may be a job
  // to join: one opened while it spun, a call, or a stalled job.
  bool wait_for_job(Worker& self) {
    const auto published = [&] {
      return stop_.load(std::memory_order_relaxed) ||
             generation_of(state_.load(std::memory_order_acquire)) != self.seen;
    };
    const bool spun = start_spinning();
    if (spun) {
      const bool found = spin_until(published);
      spinning_.fetch_sub(1, std::memory_order_seq_cst);
      if (found) return !stop_.load(std::memory_order_relaxed);
    }
    std::unique_lock lock(mutex_);
    // A job opened while this helper was counted as spinning called no one
    // for it.
    if (spun && published()) return !stop_.load(std::memory_order_relaxed);
    if (stop_.load(std::memory_order_relaxed)) return false;
    // The helper at the bottom of the stack stays there until every other
    // is called: it is the one that watches.
    const bool watching = watch_ && sleeping_ == 0;
    sleepers_[static_cast<std::size_t>(sleeping_++)] = &self;
    self.called = false;
    while (!self.called && !stop_.load(std::memory_order_relaxed)) {
      if (!watching || !needs_watching()) {
        self.wake.wait(lock);
      } else if (self.wake.wait_for(lock, stall_time) == std::cv_status::timeout) {
        call_everyone_if_stalled();
      }
    }
    return !stop_.load(std::memory_order_relaxed);
  }

  // Counts the helper among the spinning ones if fewer than spin_limit_ spin.
  bool start_spinning() {
    int spinning = spinning_.load(std::memory_order_relaxed);
    while (spinning < spin_limit_)
      if (spinning_.compare_exchange_weak(spinning, spinning + 1, std::memory_order_seq_cst)) return true;
    return false;
  }

  // Requires mutex_ held; for the helper that watches. When the open job
  // has had tasks left and none claimed since the last look, its tasks are
  // taken to wait on one another: it may run on every thread, and a
  // sleeping helper is called for every task left (the watcher last).
  void call_everyone_if_stalled() {
    const std::uint64_t word = state_.load(std::memory_order_acquire);
    const std::size_t next = next_.load(std::memory_order_relaxed);
    const bool stalled =
        is_open(word) && generation_of(word) == watched_generation_ && next == watched_next_ && next < count_;
    watched_generation_ = generation_of(word);
    watched_next_ = next;
    if (!stalled) return;
    cap_ = helpers_ + 1;
    cap_hint_.store(cap_, std::memory_order_relaxed);
    call_sleepers(count_ - next);
  }

  std::mutex submit_;  // one job at a time; guards the configuration below
  std::atomic<int> wanted_;
  int run_limit_ = 1;   // the threads that may run a job's tasks at once: min(threads, processors)
  int spin_limit_ = 0;  // the helpers that may spin while they wait
  bool watch_ = false;  // the limit leaves threads out: a sleeping helper watches for stalls
  std::atomic<int> concurrent_{1};
  Worker* workers_ = nullptr;  // mapped_helpers_ of them, started or not
  std::size_t mapped_helpers_ = 0;
  bool workers_tried_ = false;  // start_workers has run for this thread count
  std::uint64_t generation_ = 0;

  // The job, written with mutex_ held before it is opened.
  std::atomic<std::uint64_t> state_{0};
  detail::task_function function_ = nullptr;
  void* context_ = nullptr;
  std::size_t count_ = 0;
  std::fenv_t environment_{};
  std::atomic<std::size_t> next_{0};
  int cap_ = 1;                   // threads the job may run on at once
  std::atomic<int> cap_hint_{1};  // cap_, for the helpers' look before they lock

  // Waiting.
  std::mutex mutex_;  // guards what follows, the job's description and helpers_
  std::condition_variable done_;  // the submitter waits here for the helpers to leave
  int helpers_ = 0;               // helpers started (submit_ and mutex_ to change)
  std::atomic<bool> stop_{false};
  std::atomic<int> spinning_{0};        // helpers spinning for the next job
  Worker** sleepers_ = nullptr;    // the helpers asleep, a stack
  int sleeping_ = 0;
  std::uint64_t watched_generation_ = 0;  // the watcher's last look
  std::size_t watched_next_ = 0;

  runtime::StandIn stand_in_;  // for callers whose stack is too small for a task
};

// Never destroyed: a thread of the caller's may still be inside a job
// while the process exits (an interpreter ends with its daemon threads
// running), and the helpers end with the process.
Pool& pool() {
  static Pool& instance = *new Pool;
  return instance;
}

}  // namespace

void set_thread_count(int count) { pool().set_thread_count(count); }

int thread_count() { return pool().thread_count(); }

int concurrent_threads() { return pool().concurrent_threads(); }

bool let_helpers_go() {
  Pool* made = made_pool.load(std::memory_order_acquire);
  return made != nullptr && made->let_helpers_go();
}

void forget_helpers_after_fork() noexcept {
  if (Pool* made = made_pool.load(std::memory_order_acquire)) made->forget_after_fork();
}

void wait_for_progress(int& progress, int value) {
  const std::atomic_ref<int> done(progress);
  if (spin_until([&] { return done.load(std::memory_order_acquire) >= value; })) return;
  for (int seen = done.load(std::memory_order_acquire); seen < value; seen = done.load(std::memory_order_acquire))
    done.wait(seen, std::memory_order_acquire);
}

void publish_progress(int& progress, int value) {
  const std::atomic_ref<int> done(progress);
  done.store(value, std::memory_order_release);
  done.notify_all();
}

namespace detail {
void run_tasks(std::size_t count, task_function function, void* context) {
  pool().run(count, function, context);
}

void run_serially(std::size_t count, task_function function, void* context) {
  pool().run_serially(count, function, context);
}
}  // namespace detail

}  // namespace blockeig
