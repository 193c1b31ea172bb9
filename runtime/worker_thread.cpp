#include "runtime/worker_thread.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include "runtime/processor_exception.hpp"

namespace blockeig::runtime {

namespace {

// One mapping per thread, from low to high addresses:
//   guard page | signal stack | guard region | stack
// Stacks grow downwards, so an overflow of either lands in the unmapped
// space below it.
std::size_t page_size() {
  const long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

char* signal_stack_of(char* memory) { return memory + page_size(); }
char* guard_of(char* memory) { return signal_stack_of(memory) + signal_stack_size; }
char* stack_of(char* memory) { return guard_of(memory) + worker_guard_size; }

}  // namespace

WorkerThread::~WorkerThread() { join(); }

bool WorkerThread::start(void (*entry)(void*), void* argument) {
  if (started_) return false;
  entry_ = entry;
  argument_ = argument;
  memory_size_ = page_size() + signal_stack_size + worker_guard_size + worker_stack_size;
  void* memory = ::mmap(nullptr, memory_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return false;
  memory_ = static_cast<char*>(memory);
  pthread_attr_t attributes;
  bool ready = ::mprotect(signal_stack_of(memory_), signal_stack_size, PROT_READ | PROT_WRITE) == 0 &&
               ::mprotect(stack_of(memory_), worker_stack_size, PROT_READ | PROT_WRITE) == 0 &&
               pthread_attr_init(&attributes) == 0;
  if (ready) {
    ready = pthread_attr_setstack(&attributes, stack_of(memory_), worker_stack_size) == 0 &&
            pthread_create(&thread_, &attributes, run, this) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!ready) {
    ::munmap(memory_, memory_size_);
    memory_ = nullptr;
    return false;
  }
  started_ = true;
  return true;
}

void WorkerThread::join() {
  if (!started_) return;
  pthread_join(thread_, nullptr);
  started_ = false;
  ::munmap(memory_, memory_size_);
  memory_ = nullptr;
}

void WorkerThread::forget() noexcept {
  if (!started_) return;
  started_ = false;
  ::munmap(memory_, memory_size_);
  memory_ = nullptr;
}

void* WorkerThread::run(void* self) {
  auto* thread = static_cast<WorkerThread*>(self);
  prepare_thread_for_faults(signal_stack_of(thread->memory_), guard_of(thread->memory_),
                            stack_of(thread->memory_) + worker_stack_size);
  thread->entry_(thread->argument_);
  return nullptr;
}

}  // namespace blockeig::runtime
