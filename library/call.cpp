#include "library/call.hpp"

#include <pthread.h>

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
  const int most = limits().max_threads;
  if (threads < 0 || threads > most)
    throw Error(Errc::bad_thread_count, "thread count " + std::to_string(threads) + " is not from 0 (one per core) to " +
                                            std::to_string(most));
  return threads > 0 ? threads : runtime::default_thread_count();
}

}  // namespace

void refuse_memory() { throw Error(Errc::out_of_memory, "memory refused"); }

std::int32_t checked_order(const MatrixRef& a) {
  const Limits orders = limits();
  if (a.n < orders.min_order || a.n > orders.max_order)
    throw Error(Errc::bad_order, "order " + std::to_string(a.n) + " is not from " + std::to_string(orders.min_order) +
                                     " to " + std::to_string(orders.max_order));
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
