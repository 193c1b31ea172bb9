#include "runtime/startup.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"
#include "runtime/processor_exception.hpp"
#include "runtime/report.hpp"
#include "runtime/settings.hpp"

namespace blockeig::runtime {

// A standard stream that the caller left closed would hand its descriptor to
// the first file opened, A.SCR, and console lines or a report would then
// overwrite the input matrix. A closed one is bound to /dev/null instead.
void keep_standard_descriptors_open() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

// Every block of every sweep allocates its work arrays afresh and releases
// them at its end. Left to itself, the allocator gives such memory back to
// the system at each release and faults it in again, zeroed, at the next
// allocation: a tenth of the processor time of a run at N = 360. So arrays
// of up to 32 MiB come from the heap, and the heap keeps up to 64 MiB of
// what is released. Allocator settings given in GLIBC_TUNABLES stay as given.
void keep_released_memory() {
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.") != nullptr) return;
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void report_file_size_refusals() { signal(SIGXFSZ, SIG_IGN); }

void start_up(std::string_view source_file, void (*set_floating_point_environment)(),
              std::span<const CommandLineSetting> from_command_line) {
  set_source_file(source_file);
  keep_released_memory();
  keep_standard_descriptors_open();
  // A reader that went away (a closed pipe) must not end the run: its EPIPE
  // comes back to the standard unit, which takes it as no refusal.
  signal(SIGPIPE, SIG_IGN);
  report_file_size_refusals();
  // One malloc arena for every thread: a thread's own arena would reserve
  // 64 MiB of address space at its first allocation, space that the
  // matrices may need under an address-space limit.
  mallopt(M_ARENA_MAX, 1);
  set_floating_point_environment();
  install_exception_handler();
  if (const std::string problem = load_settings(from_command_line); !problem.empty()) raise(bad_value, problem);
}

}  // namespace blockeig::runtime
