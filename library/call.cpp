#include "library/call.hpp"

#include <pthread.h>

#include <limits>
#include <string>

#include "runtime/settings.hpp"
#include "runtime/thread_pool.hpp"

namespace blockeig::library {

namespace {

std::mutex& library_mutex() {
  static std::mutex mutex;
  return mutex;
}

// How many calls the current thread is inside of.
thread_local int depth = 0;

// A child process has only the thread that forked: the pool's helpers are
// let go first, so that the child's pool starts helpers of its own.
void let_helpers_go() { set_thread_count(1); }

void watch_forks() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(let_helpers_go, nullptr, nullptr); });
}

int checked_threads(int threads) {
  if (threads < 0 || threads > runtime::max_threads)
    throw Error(Errc::bad_thread_count, "thread count " + std::to_string(threads) + " is not from 0 (one per core) to " +
                                            std::to_string(runtime::max_threads));
  return threads > 0 ? threads : runtime::default_thread_count();
}

}  // namespace

void refuse_memory() { throw Error(Errc::out_of_memory, "memory refused"); }

std::int32_t checked_order(const MatrixRef& a) {
  if (a.n < 2 || a.n > std::numeric_limits<std::int32_t>::max())
    throw Error(Errc::bad_order, "order " + std::to_string(a.n) + " is not from 2 to " +
                                     std::to_string(std::numeric_limits<std::int32_t>::max()));
  if (a.data == nullptr) throw Error(Errc::bad_matrix, "the matrix has no data (a null pointer)");
  if (a.row_stride == 1 && a.ld < a.n)
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
  if (outer_threads_ > 0) {
    try {
      set_thread_count(outer_threads_);
    } catch (...) {
      // Fewer helpers than asked for: the same results, later.
    }
  }
  std::fesetenv(&caller_);
}

}  // namespace blockeig::library
