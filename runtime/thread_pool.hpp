#pragma once
// The process's one pool of worker threads for the O(n^3) loops.
//
// Work is handed out as numbered tasks 0..count-1; every task must write
// outputs of its own (an element, a row, a column or a tile of them) and
// compute each of them entirely, so that no sum is ever split between tasks.
// Which thread runs which task then changes no bit of any result, and the
// output is the same for every thread count.
//
// Tasks are claimed in ascending order: a thread takes the lowest index that
// no thread has taken yet, so when task i starts, every task below i has
// started (or finished) on some thread. A task may therefore wait for tasks
// of lower index, as long as those do not wait for it (the reduction's
// wavefront waits on the band before; see wait_for_progress); it must never
// wait for a task of higher index.
//
// The calling thread takes part in the work. With a thread count of 1 every
// task runs inline on the caller, in ascending order, and no helper is ever
// started. Worker threads are started by set_thread_count (or, without it,
// by the first parallel_for that needs them), run each job under the
// floating-point environment of the thread that submitted it, and are joined
// when the thread count changes or when they are let go (let_helpers_go);
// the pool is never destroyed, and they end with the process. Their stacks
// have a fixed size (runtime::worker_stack_size) whatever the process's
// stack limit: a task must fit in it. A caller with less stack left than
// that (a thread of 64 KiB) has its jobs submitted by a stand-in thread with
// such a stack, and waits for them: the same tasks, the same results.
//
// More threads than processors: the pool keeps every thread it is given, but
// runs a job's tasks on at most as many threads at once as there are
// processors (the caller included; the other helpers sleep), and only
// processors - 1 helpers spin while they wait for work. Tasks that wait on
// later ones are noticed when no task is claimed for a while though tasks
// are left (stall_time in thread_pool.cpp); then a helper is woken for every
// task left. Only a job with more tasks than it may run at once is watched
// so: between jobs every helper sleeps until it is called.
#include <cstddef>
#include <type_traits>
#include <utility>

namespace blockeig {

// Sets the number of threads (caller included) used by later parallel_for
// calls and starts the helper threads. Counts below 1 are taken as 1; there
// is no upper limit (the caller bounds the count, as the run-time's settings
// do). Waits for a running job to end and joins idle workers when the count
// changes. Must not be called from inside a task.
void set_thread_count(int count);

// The thread count in effect: runtime::default_thread_count() until set.
int thread_count();

// The most threads a parallel_for issued now keeps busy at once: 1 inside a
// task (where it runs inline) or once the helpers have been let go, else the
// thread count capped by the processors available. For splitting work into
// tasks; like the thread count, it changes no result.
int concurrent_threads();

// For a caller whose memory the platform has refused: ends the helper
// threads and releases their stacks, so that the request can be made again.
// Later jobs run on the calling thread alone, with the same results; the
// thread count stays as set. Returns whether any helper was let go. Does
// nothing (false) inside a task or while another thread's job runs.
bool let_helpers_go();

// For a child process just forked (a pthread_atfork child handler): the
// parent's helpers, which the child does not have, are forgotten with every
// job they ran and every lock they held, so that the child's jobs start
// helpers of its own. Must be called on the only thread of the child.
void forget_helpers_after_fork() noexcept;

// Progress counters between the tasks of one job: a task publishes how far
// it has got, and a task of higher index waits for it. Both ints must stay
// where they are until the job ends and be touched only through these.
// Waits until `progress` is at least `value` (spinning briefly where the
// pool spins, then asleep).
void wait_for_progress(int& progress, int value);
// Sets `progress` to `value` and wakes the tasks waiting for it.
void publish_progress(int& progress, int value);

namespace detail {
using task_function = void (*)(void* context, std::size_t index);
// Runs function(context, i) once for every i in [0, count) and returns when
// all have finished.
void run_tasks(std::size_t count, task_function function, void* context);
// The same in ascending order on one thread: the caller, or the stand-in.
void run_serially(std::size_t count, task_function function, void* context);
}  // namespace detail

// Calls body(i) exactly once for every i in [0, count), claimed in ascending
// order, spread over the pool's threads, and returns when every call has
// returned. A parallel_for issued from inside a task runs inline on that
// task's thread. The body must not throw (an escaping exception ends the
// process).
template <class Body>
void parallel_for(std::size_t count, Body&& body) {
  using Stored = std::remove_reference_t<Body>;
  detail::run_tasks(
      count,
      [](void* context, std::size_t index) { (*static_cast<Stored*>(context))(index); },
      const_cast<void*>(static_cast<const void*>(&body)));
}

// Calls body(i) for every i in [0, count), in ascending order, on one
// thread: for work too small to share out. That thread is the caller, or,
// when the caller's stack is too small for a task, the stand-in (the caller
// waits). The body must not throw.
template <class Body>
void serial_for(std::size_t count, Body&& body) {
  using Stored = std::remove_reference_t<Body>;
  detail::run_serially(
      count,
      [](void* context, std::size_t index) { (*static_cast<Stored*>(context))(index); },
      const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace blockeig
