#pragma once
#include <cstdlib>
#include <cstring>

// Whether the tests (and the programs they run) are built with
// AddressSanitizer, which reserves terabytes of address space: an
// address-space limit cannot be applied to its processes.
#if defined(__SANITIZE_ADDRESS__)
#define BLOCKEIG_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BLOCKEIG_UNDER_ASAN 1
#endif
#endif

// The sanitized suite is the checking build: its assertions must run.
#if defined(BLOCKEIG_UNDER_ASAN) && defined(NDEBUG)
#error "the sanitized tests must be built with assertions on (BLOCKEIG_SANITIZE does that)"
#endif

namespace blockeig::testing {

// Whether this process runs under valgrind, which traces the children too
// and needs a few hundred megabytes of address space of its own: a tight
// address-space limit stops valgrind, not the program. Its preloaded core
// library gives it away.
inline bool running_under_valgrind() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

}  // namespace blockeig::testing
