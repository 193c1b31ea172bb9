#pragma once
// ALLOCATE and DEALLOCATE of the program's arrays.
//
// Size rule: the element size in bytes times each extent in turn; an extent
// of 0 or less makes the array empty (allocated, no elements). Before each
// multiplication whose running size is not 0 the size is checked against
// 4,294,967,295 bytes. A size failure or a refusal by the platform ends the
// run with the allocation-failure report (exit status 1). The contents of a
// new array are not initialised.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "runtime/thread_pool.hpp"

namespace blockeig::runtime {

inline constexpr std::uint64_t max_allocation_bytes = 4'294'967'295u;

// Returns the byte size of an array with these extents, or -1 when the size
// check fails. Extents of 0 or less give 0.
std::int64_t allocation_size(std::size_t element_size, std::initializer_list<std::int64_t> extents);

// Asks `obtain()` for memory the run cannot go on without (it returns a
// pointer, or whether it got what it asked for). When the platform refuses
// it, the thread pool's helpers are let go, their stacks with them, and it
// is asked once more: a run that fits on one thread then fits on any number
// (each helper reserves about 700 KiB of address space). The run goes on on
// the calling thread with the same results.
template <class Obtain>
auto obtain_or_retry(Obtain&& obtain) {
  auto got = obtain();
  if (!got && let_helpers_go()) got = obtain();
  return got;
}

// Obtains `bytes` bytes (0 allowed), through obtain_or_retry; never returns
// on failure. `bytes` comes from allocation_size.
void* allocate_block(std::int64_t bytes);
// Releases a block obtained from allocate_block.
void release_block(void* block);

// A run-time array of T. Empty and unallocated until `allocate`.
template <class T>
class Array {
 public:
  Array() = default;
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  ~Array() {
    if (allocated_) release_block(data_);
  }

  bool allocated() const { return allocated_; }
  std::size_t size() const { return size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

  template <class U>
  friend void allocate(Array<U>& array, std::initializer_list<std::int64_t> extents);
  template <class U>
  friend void deallocate(Array<U>& array);
  template <class U>
  friend void release_if_allocated(Array<U>& array);

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  bool allocated_ = false;
};

[[noreturn]] void raise_already_allocated();
[[noreturn]] void raise_bad_deallocate();
[[noreturn]] void raise_allocation_size_failure();

// ALLOCATE(array(extents...)): code 211 if already allocated.
template <class T>
void allocate(Array<T>& array, std::initializer_list<std::int64_t> extents) {
  if (array.allocated_) raise_already_allocated();
  const std::int64_t bytes = allocation_size(sizeof(T), extents);
  if (bytes < 0) raise_allocation_size_failure();
  array.data_ = static_cast<T*>(allocate_block(bytes));
  array.size_ = static_cast<std::size_t>(bytes) / sizeof(T);
  array.allocated_ = true;
}

// DEALLOCATE(array): code 212 if not allocated.
template <class T>
void deallocate(Array<T>& array) {
  if (!array.allocated_) raise_bad_deallocate();
  release_block(array.data_);
  array.data_ = nullptr;
  array.size_ = 0;
  array.allocated_ = false;
}

// The release at the end of the main program: an unallocated array is skipped.
template <class T>
void release_if_allocated(Array<T>& array) {
  if (array.allocated_) deallocate(array);
}

}  // namespace blockeig::runtime
