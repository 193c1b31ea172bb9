// The child's half of the shared edge coverage (see child_coverage.hpp):
// every instrumented edge gets a number at start-up and counts into the
// shared map, saturating at 255. Without the variable nothing is counted.
#include "child_coverage.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

std::uint8_t* shared_map = nullptr;

void map_shared_counters() {
  const char* fd = std::getenv(blockeig::fuzz::coverage_fd_variable);
  if (fd == nullptr) return;
  void* area = ::mmap(nullptr, blockeig::fuzz::coverage_map_size, PROT_READ | PROT_WRITE, MAP_SHARED, std::atoi(fd), 0);
  if (area != MAP_FAILED) shared_map = static_cast<std::uint8_t*>(area);
}

}  // namespace

extern "C" void __sanitizer_cov_trace_pc_guard_init(std::uint32_t* start, std::uint32_t* stop) {
  static std::uint32_t next = 0;
  if (start == stop || *start != 0) return;
  for (std::uint32_t* guard = start; guard < stop; ++guard)
    *guard = static_cast<std::uint32_t>(++next % blockeig::fuzz::coverage_map_size);
  if (shared_map == nullptr) map_shared_counters();
}

extern "C" void __sanitizer_cov_trace_pc_guard(std::uint32_t* guard) {
  if (shared_map == nullptr) return;
  std::uint8_t& counter = shared_map[*guard];
  if (counter != 255) ++counter;
}
