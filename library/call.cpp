#include "library/call.hpp"

#include <pthread.h>

#include <limits>
#include <new>
#include <string>

#include "runtime/settings.hpp"
#include "runtime/thread_pool.hpp"

namespace blockeig::library {

namespace {

std::mutex& library_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::mutex& writing_mutex() {
  static std::mutex mutex;
  return mutex;
}

// How many calls the current thread is inside of.
thread_local int depth = 0;

// A child process has only the thread that forked. Whatever another thread
// of the parent's held at the fork (the library, inside a call; the pool,
// computing; a file being written) is let go in the child, so that its
// calls run as in a fresh process; a call that the forking thread itself
// is inside of (it forked from an observer) goes on in the child.
void start_afresh_in_child() {
  if (depth == 0) new (&library_mutex()) std::mutex();
  new (&writing_mutex()) std::mutex();
  forget_helpers_after_fork();
}

void watch_forks() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(nullptr, nullptr, start_afresh_in_child); });
}

// A pool of more threads than this after a call goes back to the default
// count: an idle library keeps no crowd of sleeping threads.
int most_threads_kept() { return 2 * runtime::default_thread_count(); }

int checked_threads(int threads) {
  if (threads < 0 || threads > runtime::max_threads)
    throw Error(Errc::bad_thread_count, "thread count " + std::to_string(threads) + " is not from 0 (one per core) to " +
                                            std::to_string(runtime::max_threads));
  return threads > 0 ? threads : runtime::default_thread_count();
}

}  // namespace

void refuse_memory() { throw Error(Errc::out_of_memory, "memory refused"); }

std::mutex& file_writing() {
  watch_forks();
  return writing_mutex();
}

std::int32_t checked_order(const MatrixRef& a) {
  if (a.n < 2 || a.n > std::numeric_limits<std::int32_t>::max())
    throw Error(Errc::bad_order, "order " + std::to_string(a.n) + " is not from 2 to " +
                                     std::to_string(std::numeric_limits<std::int32_t>::max()));
  if (a.data == nullptr) throw Error(Errc::bad_matrix, "the matrix has no data (a null pointer)");
  // Stored column by column, a leading dimension from 1 to n - 1 makes the
  // columns overlap: the mistake of a caller who meant a larger one. Any
  // other stride is a layout (0: every column the same; negative: the
  // columns from the last).
  if (a.row_stride == 1 && a.ld > 0 && a.ld < a.n)
    throw Error(Errc::bad_matrix, "leading dimension " + std::to_string(a.ld) + " is below the order " +
                                      std::to_string(a.n));
  return static_cast<std::int32_t>(a.n);
}

Call::Call(int threads) : lock_(library_mutex(), std::defer_lock) {
  const int count = checked_threads(threads);
  if (depth == 0)
    lock_.lock();
  else
    outer_threads_ = thread_count();
  watch_forks();
  std::fegetenv(&caller_);
  std::fesetenv(FE_DFL_ENV);
  try {
    set_thread_count(count);
  } catch (...) {
    std::fesetenv(&caller_);
    throw;
  }
  ++depth;
}

Call::~Call() {
  --depth;
  try {
    if (outer_threads_ > 0)
      set_thread_count(outer_threads_);
    else if (thread_count() > most_threads_kept())
      set_thread_count(runtime::default_thread_count());
  } catch (...) {
    // Fewer helpers than asked for: the same results, later.
  }
  std::fesetenv(&caller_);
}

}  // namespace blockeig::library
