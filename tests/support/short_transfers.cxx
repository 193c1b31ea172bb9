// Preloaded into a child run: read(2) and write(2) move at most SHORT_IO
// bytes per call (when set), and every INTERRUPT_EVERY-th call fails with
// EINTR before it moves anything (when set). Both are what pipes,
// terminals and signals may do to any transfer; a run must not notice.
//
// REFUSE_WRITES="FD ERRNO AFTER" makes descriptor FD take AFTER bytes and
// then refuse every write with ERRNO, as a full disk (ENOSPC) or a failing
// device (EIO) would; ERRNO 0 makes each write take nothing and return 0.
//
// SLOW_FSYNC="FROM MILLISECONDS" makes the FROM-th fsync(2) and every later
// one wait that long first, as a slow disk would.
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

// REFUSE_WRITES, read once: the descriptor (-1: none), errno, bytes taken.
struct Refusal {
  bool read = false;
  long fd = -1, error = 0, after = 0;
  std::atomic<long> taken{0};
} refusal;

void read_refusal() {
  if (refusal.read) return;
  refusal.read = true;
  const char* text = std::getenv("REFUSE_WRITES");
  if (text == nullptr) return;
  char* end = nullptr;
  refusal.fd = std::strtol(text, &end, 10);
  refusal.error = std::strtol(end, &end, 10);
  refusal.after = std::strtol(end, &end, 10);
}

// How many of `count` bytes descriptor `fd` still takes (all of them when
// it refuses nothing).
std::size_t room_of(int fd, std::size_t count) {
  read_refusal();
  if (fd != refusal.fd) return count;
  const long room = refusal.after - refusal.taken.load();
  return room <= 0 ? 0 : count < static_cast<std::size_t>(room) ? count : static_cast<std::size_t>(room);
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
  const std::size_t allowed = room_of(fd, shortened(count));
  if (count != 0 && allowed == 0) {
    if (refusal.error == 0) return 0;
    errno = static_cast<int>(refusal.error);
    return -1;
  }
  const ssize_t n = real_write(fd, from, allowed);
  if (n > 0 && fd == refusal.fd) refusal.taken += n;
  return n;
}

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync real_fsync = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
  static std::atomic<long> made{0};
  if (const char* text = std::getenv("SLOW_FSYNC")) {
    char* end = nullptr;
    const long from = std::strtol(text, &end, 10);
    const long milliseconds = std::strtol(end, &end, 10);
    if (made.fetch_add(1) + 1 >= from) ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
  }
  return real_fsync(fd);
}
