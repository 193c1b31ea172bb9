#pragma once
// Work for a caller whose own stack is too small for it. The deepest task of
// the program (a tile of a block product) needs about 100 KiB of frames, and
// a helper of the thread pool is given runtime::worker_stack_size; a caller
// of the library may have far less left (threads of 32 or 64 KiB are common:
// thread pools, Python's threading.stack_size). Such a caller hands its work
// to a stand-in, a thread with a helper's stack, and waits for it.
#include <cfenv>
#include <condition_variable>
#include <mutex>
#include <new>

#include "runtime/worker_thread.hpp"

namespace blockeig::runtime {

// Whether the calling thread has as much stack left as a helper is given.
// The main thread's grows as far as RLIMIT_STACK lets it and is taken to
// suffice, as is a thread whose stack the platform does not tell.
bool stack_holds_a_task();

// Makes a lock or a condition anew in a child process just forked, where the
// thread that held it may not exist.
template <class Lock>
void make_anew(Lock& lock) noexcept {
  new (&lock) Lock();
}

class StandIn {
 public:
  StandIn() = default;
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  // Runs work(argument) on the stand-in thread, under the caller's
  // floating-point environment, and returns true once it has returned; false,
  // with nothing run, when no stand-in thread can be had. The thread is
  // started for the first piece of work and sleeps between them; one caller
  // at a time. `work` must not throw.
  bool run(void (*work)(void*), void* argument);

  // In a child process just forked: the stand-in thread is the parent's.
  void forget_after_fork() noexcept;

 private:
  static void serve(void* self);
  void serve();

  std::mutex callers_;  // one piece of work at a time
  std::mutex mutex_;    // guards what follows
  std::condition_variable wake_, done_;
  WorkerThread thread_;
  bool started_ = false;
  bool posted_ = false, finished_ = false;
  void (*work_)(void*) = nullptr;
  void* argument_ = nullptr;
  fenv_t environment_{};
};

}  // namespace blockeig::runtime
