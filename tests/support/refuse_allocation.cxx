// Preloaded into a child run: refuses exactly one allocation, the one whose
// ordinal (counted from process start, all threads together) is in
// REFUSE_ALLOCATION. With REFUSE_ALLOCATION=0 nothing is refused and the
// number of allocations made is written to standard error at a normal end,
// so that a test can refuse each of them in turn.
//
// With REFUSE_ALLOCATION_BYTES=S instead, every allocation of exactly S
// bytes is refused, and "refused K" (how many were) is written to standard
// error at a normal end.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>

namespace {

// Plain lazily set globals rather than guarded statics: the first
// allocations come from the loader, before any constructor has run, and
// nothing here may allocate or wait on a guard.
using Malloc = void* (*)(std::size_t);
Malloc real_malloc = nullptr;
long refused = -1;
bool refused_read = false;
std::atomic<long> made{0};
long refused_size = -1;
bool refused_size_read = false;
std::atomic<long> refusals{0};

long refused_bytes() {
  if (!refused_size_read) {
    const char* text = std::getenv("REFUSE_ALLOCATION_BYTES");
    refused_size = text == nullptr ? -1L : std::atol(text);
    refused_size_read = true;
  }
  return refused_size;
}

void write_count(const char* prefix, std::size_t prefix_length, long count) {
  char line[48];
  for (std::size_t i = 0; i < prefix_length; ++i) line[i] = prefix[i];
  char* end = std::to_chars(line + prefix_length, line + sizeof line - 1, count).ptr;
  *end++ = '\n';
  if (::write(STDERR_FILENO, line, static_cast<std::size_t>(end - line)) < 0) {
    // The test sees the missing tally.
  }
}

long refused_ordinal() {
  if (!refused_read) {
    const char* text = std::getenv("REFUSE_ALLOCATION");
    refused = text == nullptr ? -1L : std::atol(text);
    refused_read = true;
  }
  return refused;
}

struct Tally {
  ~Tally() {
    if (refused_bytes() >= 0) {
      write_count("refused ", 8, refusals.load());
    } else if (refused_ordinal() == 0) {
      write_count("allocations ", 12, made.load());
    }
  }
} tally;

}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
  if (real_malloc == nullptr) real_malloc = reinterpret_cast<Malloc>(::dlsym(RTLD_NEXT, "malloc"));
  if (made.fetch_add(1) + 1 == refused_ordinal() || static_cast<long>(size) == refused_bytes()) {
    if (static_cast<long>(size) == refused_bytes()) refusals.fetch_add(1);
    errno = ENOMEM;
    return nullptr;
  }
  return real_malloc(size);
}
