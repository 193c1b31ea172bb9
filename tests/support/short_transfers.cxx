// Preloaded into a child run: read(2) and write(2) move at most SHORT_IO
// bytes per call (when set), and every INTERRUPT_EVERY-th call fails with
// EINTR before it moves anything (when set). Both are what pipes,
// terminals and signals may do to any transfer; a run must not notice.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {

// Plain lazily set globals: the loader reads files before any constructor.
using Read = ssize_t (*)(int, void*, std::size_t);
using Write = ssize_t (*)(int, const void*, std::size_t);
Read real_read = nullptr;
Write real_write = nullptr;
long most = -1;
long every = -1;
std::atomic<long> calls{0};

long setting(long& value, const char* name) {
  if (value < 0) {
    const char* text = std::getenv(name);
    value = text == nullptr ? 0 : std::atol(text);
  }
  return value;
}

bool interrupted() {
  const long period = setting(every, "INTERRUPT_EVERY");
  return period > 0 && (calls.fetch_add(1) + 1) % period == 0;
}

std::size_t shortened(std::size_t count) {
  const long limit = setting(most, "SHORT_IO");
  return limit > 0 && count > static_cast<std::size_t>(limit) ? static_cast<std::size_t>(limit) : count;
}

}  // namespace

extern "C" ssize_t read(int fd, void* into, std::size_t count) {
  if (real_read == nullptr) real_read = reinterpret_cast<Read>(::dlsym(RTLD_NEXT, "read"));
  if (interrupted()) {
    errno = EINTR;
    return -1;
  }
  return real_read(fd, into, shortened(count));
}

extern "C" ssize_t write(int fd, const void* from, std::size_t count) {
  if (real_write == nullptr) real_write = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  if (interrupted()) {
    errno = EINTR;
    return -1;
  }
  return real_write(fd, from, shortened(count));
}
