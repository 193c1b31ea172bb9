// Runs one run-time scenario named on the command line, so that tests can
// watch the frame's reports and exit statuses from outside the process.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "arithmetic/extended.hpp"
#include "runtime/thread_pool.hpp"
#include "io/file_stream.hpp"
#include "io/statements.hpp"
#include "io/transfer.hpp"
#include "io/unit_table.hpp"
#include "runtime/allocate.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"
#include "runtime/startup.hpp"

using namespace blockeig::io;
using namespace blockeig::runtime;

namespace {

volatile int zero = 0;
volatile int* volatile null_pointer = nullptr;

#pragma GCC diagnostic ignored "-Winfinite-recursion"
int recurse(int depth) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  return recurse(depth + 1) + pad[0];
}

// Uses about `depth` x 4 KiB of stack, then returns.
int descend(int depth) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  return depth == 0 ? pad[0] : descend(depth - 1) + pad[0];
}

// Two tasks on two threads: `on_worker` runs on the helper thread, while the
// main thread, whichever task it takes, waits for it (or, when the worker
// never returns, for ever).
std::atomic<bool> worker_claimed{false}, worker_done{false};
template <class Work>
void on_worker(Work work) {
  const pthread_t main_thread = pthread_self();
  blockeig::set_thread_count(2);
  blockeig::parallel_for(2, [&](std::size_t) {
    if (pthread_equal(pthread_self(), main_thread)) {
      while (!worker_done.load()) ::usleep(1000);
      return;
    }
    // A helper may take both items before the main thread takes one: the
    // work runs once.
    if (worker_claimed.exchange(true)) return;
    work();
    worker_done = true;
  });
}

// Before start-up for "fp-behaviour": every setting that the arithmetic
// relies on turned the wrong way (on x86 precision control at 53 bits,
// rounding toward zero, division by zero trapping, subnormals flushed to
// zero), so that only what start-up loads can make it right.
void spoil_floating_point_environment() {
#if defined(__x86_64__)
  const unsigned short x87 = 0x0E7B;
  const unsigned int sse = 0xFDC0;
  __asm__ volatile("fldcw %0" : : "m"(x87));
  __asm__ volatile("ldmxcsr %0" : : "m"(sse));
#else
  std::fesetround(FE_TOWARDZERO);
#endif
}

// One line of what the arithmetic does: to nearest even, a division by
// zero gives an infinity (a trap would end the probe with a processor
// exception), subnormals are neither flushed nor taken as zero, and ext has
// a 64-bit significand.
void print_arithmetic_behaviour(const char* thread) {
  volatile double one = 1.0, tie_above = 0x1.8p-53, zero_d = 0.0, smallest_normal = 0x1p-1022;
  const bool nearest = one + tie_above == 1.0 + 0x1p-52 && -one - tie_above == -1.0 - 0x1p-52;
  const bool infinity = 1.0 / zero_d == 1.0 / 0.0;
  const double half = smallest_normal / 2.0;
  volatile double subnormal = half;
  const bool subnormals = half == 0x1p-1023 && subnormal * 2.0 == smallest_normal;
  const blockeig::ext x = static_cast<blockeig::ext>(one) + static_cast<blockeig::ext>(0x1p-63);
  const bool extended = x - static_cast<blockeig::ext>(one) == static_cast<blockeig::ext>(0x1p-63);
  std::printf("%s: nearest %d, infinity %d, subnormals %d, extended %d\n", thread, nearest, infinity, subnormals,
              extended);
  std::fflush(stdout);
}

void write_lines(std::int64_t unit, int count) {
  for (int i = 1; i <= count; ++i) {
    at(22);
    Unit& u = begin_transfer(unit, Form::formatted);
    check_writable(u);
    put_text_record(u, "line " + std::to_string(i));
    end_write(u);
  }
}

void limit_file_size(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

int run(int argc, char** argv) {
  const std::string_view scenario = argc > 1 ? argv[1] : "";
  const char* file = argc > 2 ? argv[2] : "probe.txt";
  if (scenario == "read-missing") {  // READ of N from a file that OPEN created empty
    at(10);
    open(8, file, Form::unformatted);
    std::int32_t n = 0;
    at(11);
    read_record(8, n);
  } else if (scenario == "read-matrix") {  // the driver's two READs, then the elements
    at(10);
    open(8, file, Form::unformatted);
    std::int32_t n = -7;
    at(11);
    read_record(8, n);
    std::printf("N = %d\n", n);
    std::fflush(stdout);
    std::vector<double> a(static_cast<std::size_t>(n > 0 ? n : 0) * static_cast<std::size_t>(n > 0 ? n : 0), -1.0);
    at(15);
    read_record(8, a);
    for (double x : a) std::printf("%g\n", x);
    at(16);
    close(8);
  } else if (scenario == "write-matrix") {  // N and the elements 1, 2, ... N*N
    const std::int32_t n = std::atoi(argv[3]);
    std::vector<double> a(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<double>(i + 1);
    at(10);
    open(8, file, Form::unformatted);
    write_record(8, std::span<const std::int32_t>(&n, 1), {});
    write_record(8, {}, a);
    close(8);
  } else if (scenario == "open") {  // OPEN alone
    at(20);
    open(8, file);
  } else if (scenario == "reopen") {  // OPEN of a connected unit on another file
    at(20);
    open(8, "first.txt");
    at(21);
    open(8, file);
  } else if (scenario == "write-lines") {  // OPEN, COUNT lines, CLOSE
    at(20);
    open(8, file);
    write_lines(8, std::atoi(argv[3]));
    at(24);
    close(8);
  } else if (scenario == "open-close") {
    at(20);
    open(8, file);
    at(24);
    close(8);
  } else if (scenario == "write-stdout") {  // a line on a standard unit
    at(30);
    Unit& u = begin_transfer(6, Form::formatted);
    put_text_record(u, " hello");
    end_write(u);
  } else if (scenario == "read-integers") {  // list-directed READs of unit 5 until the input ends
    for (;;) {
      std::int32_t value = -1;
      at(31);
      read_list(5, value);
      std::printf("[%d]\n", value);
      std::fflush(stdout);
    }
  } else if (scenario == "allocate") {  // ALLOCATE a square matrix of doubles
    Array<double> a;
    at(13);
    allocate(a, {std::atoll(file), std::atoll(file)});
    std::printf("allocated %zu\n", a.size());
  } else if (scenario == "allocate-twice") {
    Array<double> a;
    at(13);
    allocate(a, {2});
    allocate(a, {2});
  } else if (scenario == "deallocate-unallocated") {
    Array<double> a;
    at(13);
    deallocate(a);
  } else if (scenario == "close-refused") {  // the flush at CLOSE exceeds the file-size limit
    at(20);
    open(8, file);
    write_lines(8, 1);  // the first line is passed on by the truncation
    limit_file_size(64);
    write_lines(8, 20);
    at(24);
    close(8);
  } else if (scenario == "close-down-refused") {  // the same at the normal end
    at(20);
    open(8, file);
    write_lines(8, 1);
    limit_file_size(64);
    write_lines(8, 20);
  } else if (scenario == "write-refused") {  // a full buffer passed on beyond the limit
    at(20);
    open(8, file);
    write_lines(8, 1);
    limit_file_size(100);
    write_lines(8, 3000);
  } else if (scenario == "nested") {  // a fault while the report closes the units
    at(20);
    open(8, file);
    write_lines(8, 1);
    write_lines(8, 20);
    rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    struct sigaction action {};
    action.sa_handler = [](int) { *null_pointer = 1; };
    sigaction(SIGXFSZ, &action, nullptr);
    at(31);
    blockeig::runtime::raise(bad_value, "first failure");
  } else if (scenario == "internal") {
    at(7);
    internal_error("unit table damaged");
  } else if (scenario == "segv") {
    at(60);
    *null_pointer = 1;
  } else if (scenario == "integer-division") {
    at(60);
    return 100 / zero;
  } else if (scenario == "illegal") {
    at(60);
    __builtin_trap();
  } else if (scenario == "breakpoint") {
    at(60);
    __asm__ volatile("int3");
  } else if (scenario == "stack") {
    at(60);
    return recurse(0);
  } else if (scenario == "worker-stack") {  // an overflow on a helper thread
    at(60);
    on_worker([] { recurse(0); });
  } else if (scenario == "worker-deep-task") {  // a task deeper than a small stack limit, on a helper
    on_worker([] { descend(80); });
    std::printf("task of 320 KiB done on a helper thread\n");
  } else if (scenario == "float-trap") {
    at(60);
    feenableexcept(FE_DIVBYZERO);
    volatile double one = 1.0, nothing = 0.0;
    volatile double r = one / nothing;
    (void)r;
  } else if (scenario == "page") {  // touching a mapped page beyond the end of its file
    at(60);
    FILE* f = std::fopen(file, "w+");
    void* p = mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fileno(f), 0);
    return static_cast<volatile char*>(p)[100];
  } else if (scenario == "fp-behaviour") {  // what the arithmetic sees after start-up, here and on a helper
    print_arithmetic_behaviour("main");
    on_worker([] { print_arithmetic_behaviour("helper"); });
  } else {
    std::fprintf(stderr, "frame_probe: unknown scenario\n");
    return 64;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "fp-behaviour") spoil_floating_point_environment();
  start_up("probe.cpp", blockeig::set_extended_environment);
  connect_standard_units();
  std::fflush(stdout);
  const int status = run(argc, argv);
  std::fflush(stdout);
  if (status == 64) return status;
  close_down();
}
