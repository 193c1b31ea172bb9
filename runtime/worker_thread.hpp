#pragma once
// Threads that run the program's work beside the main thread. Each has a
// stack of a fixed size, whatever RLIMIT_STACK says, and its own alternate
// signal stack, so that a fault in any of them, a stack overflow included,
// ends the run with the full processor-exception report.
#include <pthread.h>

#include <cstddef>

namespace blockeig::runtime {

// Every worker's stack. The deepest task, one tile of a block product, needs
// about 100 KiB (its panels and running sums); the rest is headroom for a
// whole block solve run as one task. The platform's default, RLIMIT_STACK
// (commonly 8 MiB, 32 MiB when unlimited), would reserve address space that
// the matrices need; a small RLIMIT_STACK would not hold the task.
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer keeps its state of a thread in the thread's static TLS,
// at the top of its stack, and refuses a smaller stack.
inline constexpr std::size_t worker_stack_size = 4 * 1024 * 1024;
#else
inline constexpr std::size_t worker_stack_size = 512 * 1024;
#endif
// Unmapped space below the stack, larger than any frame of the program, so
// that no frame can reach past it into other memory.
inline constexpr std::size_t worker_guard_size = 128 * 1024;

class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // Joins a thread still running.
  ~WorkerThread();

  // Runs entry(argument) on a new thread. Returns false, and starts nothing,
  // when the platform refuses the thread or the address space for its
  // stacks.
  bool start(void (*entry)(void*), void* argument);
  // Waits for the thread to end and releases its stacks.
  void join();
  // In a child process just forked, which has only the thread that forked:
  // releases the stacks of the parent's thread, which the child does not
  // have, without waiting for it.
  void forget() noexcept;

 private:
  static void* run(void* self);

  void (*entry_)(void*) = nullptr;
  void* argument_ = nullptr;
  pthread_t thread_{};
  bool started_ = false;
  char* memory_ = nullptr;  // signal stack, guard, stack
  std::size_t memory_size_ = 0;
};

}  // namespace blockeig::runtime
