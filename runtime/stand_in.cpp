#include "runtime/stand_in.hpp"

#include <pthread.h>
#include <unistd.h>

#include <cfenv>
#include <cstddef>

namespace blockeig::runtime {

namespace {

// The lowest address of the calling thread's stack that a frame may use
// (its guard excluded), found once per thread; null where it is not known
// or the stack is taken to suffice.
thread_local const char* stack_floor = nullptr;
thread_local bool stack_floor_known = false;

const char* find_stack_floor() {
  if (::gettid() == ::getpid()) return nullptr;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return nullptr;
  void* low = nullptr;
  std::size_t size = 0;
  const bool told = pthread_attr_getstack(&attributes, &low, &size) == 0;
  pthread_attr_destroy(&attributes);
  return told ? static_cast<const char*>(low) : nullptr;
}

}  // namespace

bool stack_holds_a_task() {
  if (!stack_floor_known) {
    stack_floor = find_stack_floor();
    stack_floor_known = true;
  }
  if (stack_floor == nullptr) return true;
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  return here > stack_floor && static_cast<std::size_t>(here - stack_floor) >= worker_stack_size;
}

bool StandIn::run(void (*work)(void*), void* argument) {
  const std::lock_guard one_caller(callers_);
  std::unique_lock lock(mutex_);
  if (!started_) started_ = thread_.start(serve, this);
  if (!started_) return false;
  work_ = work;
  argument_ = argument;
  std::fegetenv(&environment_);
  posted_ = true;
  finished_ = false;
  wake_.notify_one();
  done_.wait(lock, [this] { return finished_; });
  return true;
}

void StandIn::forget_after_fork() noexcept {
  make_anew(callers_);
  make_anew(mutex_);
  make_anew(wake_);
  make_anew(done_);
  thread_.forget();
  started_ = posted_ = finished_ = false;
}

void StandIn::serve(void* self) { static_cast<StandIn*>(self)->serve(); }

void StandIn::serve() {
  // A helper's stack: the work runs here, whatever is left of it.
  stack_floor = nullptr;
  stack_floor_known = true;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return posted_; });
    posted_ = false;
    std::fesetenv(&environment_);
    lock.unlock();
    work_(argument_);
    lock.lock();
    finished_ = true;
    done_.notify_one();
  }
}

}  // namespace blockeig::runtime
