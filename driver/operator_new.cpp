// The program's operator new and delete. Memory that the platform refuses
// to the run-time's own structures (unit records, lines, buffers, the
// solver's work lists) is asked for once more after the helper threads have
// gone, and then ends the run with the allocation-failure report at the
// statement in progress, as a refused ALLOCATE does. A thrown
// std::bad_alloc cannot carry that: its exception object needs memory of its
// own, and when the C++ run-time could not set aside its emergency reserve
// at load time (an address-space limit met that early) the throw itself ends
// the process with an abort and no report. The nothrow forms return null
// without throwing anything, so that their callers can fall back.
#include <cerrno>
#include <cstdlib>
#include <new>

#include "runtime/allocate.hpp"
#include "runtime/report.hpp"

namespace {

void* obtain_or_null(std::size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }

void* obtain_aligned_or_null(std::size_t size, std::align_val_t alignment) noexcept {
  std::size_t bytes = static_cast<std::size_t>(alignment);
  if (bytes < sizeof(void*)) bytes = sizeof(void*);
  void* block = nullptr;
  return ::posix_memalign(&block, bytes, size == 0 ? 1 : size) == 0 ? block : nullptr;
}

void* obtain(std::size_t size) {
  void* block = blockeig::runtime::obtain_or_retry([size] { return obtain_or_null(size); });
  if (block == nullptr) blockeig::runtime::allocation_failure(ENOMEM);
  return block;
}

void* obtain_aligned(std::size_t size, std::align_val_t alignment) {
  void* block = blockeig::runtime::obtain_or_retry([=] { return obtain_aligned_or_null(size, alignment); });
  if (block == nullptr) blockeig::runtime::allocation_failure(ENOMEM);
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return obtain(size); }
void* operator new[](std::size_t size) { return obtain(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return obtain_aligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return obtain_aligned(size, alignment); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return obtain_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return obtain_or_null(size); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return obtain_aligned_or_null(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return obtain_aligned_or_null(size, alignment);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
