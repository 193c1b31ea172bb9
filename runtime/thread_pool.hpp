#pragma once
// The process's one pool of worker threads for the O(n^3) loops.
//
// Work is handed out as numbered tasks 0..count-1; every task must write
// outputs of its own (an element, a row, a column or a tile of them) and
// compute each of them entirely, so that no sum is ever split between tasks.
// Which thread runs which task then changes no bit of any result, and the
// output is the same for every thread count.
//
// The calling thread takes part in the work. With a thread count of 1 every
// task runs inline on the caller, in ascending order, and no thread is ever
// started. Worker threads are started by set_thread_count (or, without it,
// by the first parallel_for that needs them), run each job under the
// floating-point environment of the thread that submitted it, and are joined
// when the thread count changes or at exit. Their stacks have a fixed size
// (runtime::worker_stack_size) whatever the process's stack limit: a task
// must fit in it.
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

namespace detail {
using task_function = void (*)(void* context, std::size_t index);
// Runs function(context, i) once for every i in [0, count) and returns when
// all have finished.
void run_tasks(std::size_t count, task_function function, void* context);
}  // namespace detail

// Calls body(i) exactly once for every i in [0, count), spread over the
// pool's threads, and returns when every call has returned. A parallel_for
// issued from inside a task runs inline on that task's thread. The body must
// not throw (an escaping exception ends the process).
template <class Body>
void parallel_for(std::size_t count, Body&& body) {
  using Stored = std::remove_reference_t<Body>;
  detail::run_tasks(
      count,
      [](void* context, std::size_t index) { (*static_cast<Stored*>(context))(index); },
      const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace blockeig
