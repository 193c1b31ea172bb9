#include "runtime/allocate.hpp"

#include <cerrno>
#include <cstdlib>

#include "runtime/error_codes.hpp"
#include "runtime/report.hpp"

namespace blockeig::runtime {

std::int64_t allocation_size(std::size_t element_size, std::initializer_list<std::int64_t> extents) {
  std::uint64_t size = element_size;
  for (const std::int64_t extent : extents) {
    if (extent <= 0) {
      size = 0;
      continue;
    }
    const auto e = static_cast<std::uint64_t>(extent);
    if (size != 0 && max_allocation_bytes / e < size) return -1;
    size *= e;
  }
  return static_cast<std::int64_t>(size);
}

void* allocate_block(std::int64_t bytes) {
  // An empty array still gets a block of its own: malloc(0) may return null,
  // which would read as a refusal.
  const std::size_t request = bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
  void* block = obtain_or_retry([request] {
    errno = 0;
    return std::malloc(request);
  });
  if (block == nullptr) allocation_failure(errno != 0 ? errno : ENOMEM);
  return block;
}

void release_block(void* block) { std::free(block); }

[[noreturn]] void raise_already_allocated() { raise(array_already_allocated); }
[[noreturn]] void raise_bad_deallocate() { raise(bad_deallocation); }
[[noreturn]] void raise_allocation_size_failure() { allocation_failure(ENOMEM); }

}  // namespace blockeig::runtime
