// Faults injected into whole runs of the program: refused writes, matrix
// files that cannot be read, memory that the platform refuses, and record
// sizes at the limit. Each run is a child process; the test checks its
// console, its report, its exit status and what it leaves on disk.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"


namespace blockeig::testing {
namespace {

constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";
const std::string matrix_unit = " (Unit 8 \"A.SCR\")";
const std::string eigenvalue_unit = " (Unit 8 \"C.SCR.TXT\")";

std::string report(int line, const std::string& where, const std::string& message) {
  return "At line " + std::to_string(line) + " of file main.cpp" + where + "\n" + traceback +
         "Fortran runtime error: " + message + "\n";
}

std::string allocation_report(int line, const std::string& where = "") {
  return "At line " + std::to_string(line) + " of file main.cpp" + where + "\n" + traceback +
         "Operating system error: Cannot allocate memory\nMemory allocation failed\n";
}

std::string direct_phase_lines(int n) {
  return " N =  " + std::to_string(n) + "\n allocated\n read\n diagonalized - direct, IERR:  0\n";
}

ChildResult run_in(const TempDir& dir, const std::string& input, std::function<void()> before_exec = {},
                   std::vector<std::string> environment = {}, const std::vector<std::string>& arguments = {}) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = input;
  options.before_exec = std::move(before_exec);
  options.environment = std::move(environment);
  return run_child(BLOCKEIG_BIN, arguments, options);
}

// Files may grow to `bytes`; a write beyond fails with EFBIG ("File too
// large") instead of killing the process.
std::function<void()> file_size_limit(rlim_t bytes) {
  return [bytes] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
}

std::uintmax_t size_of(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::file_size(path, ignored);
}

// Refused writes of C.SCR.TXT: the run ends at the statement that passed
// the refused bytes on, with the system's text; the file keeps what reached
// it. It is never complete, and the exit status and the report say so.
TEST(Fault, RefusedWritesOfTheEigenvalueFile) {
  struct Case {
    const char* name;
    int n;
    std::vector<double> matrix;
    rlim_t limit;
    int line;
  };
  std::vector<double> diagonal(700);
  for (int i = 0; i < 700; ++i) diagonal[static_cast<std::size_t>(i)] = i;
  const Case cases[] = {
      // The first line is passed on at once (it cuts the file); nothing fits.
      {"first line", 50, one_two_one_matrix(50), 0, 22},
      // 700 lines overflow the 16,384-byte buffer, which is passed on while
      // line 656 is written; the file stops at the limit.
      {"full buffer", 700, diagonal_matrix(diagonal), 1000, 22},
      // 50 lines stay in the buffer until CLOSE passes them on.
      {"at CLOSE", 50, one_two_one_matrix(50), 100, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(c.n, c.matrix));
    const ChildResult r = run_in(dir, "1\n", file_size_limit(c.limit));
    EXPECT_EQ(r.out, direct_phase_lines(c.n));
    EXPECT_EQ(r.err, report(c.line, eigenvalue_unit, "File too large"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(size_of(dir / "C.SCR.TXT"), c.limit);
  }
}

// Console lines that standard output refuses are output lost, as much as
// lines of a file: the run ends at the statement that wrote, on unit 6, with
// the platform's text and exit status 2, and keeps what came before. A
// reader that went away (a closed pipe) is no failure: silent, and the run
// goes on to its normal end with C.SCR.TXT complete.
TEST(Fault, RefusedConsoleOutput) {
  const std::string scr = scr_file(4, diagonal_matrix({4, 3, 2, 1}));
  const std::string eigenvalues =
      "           1    1.000000\n           2    2.000000\n           3    3.000000\n           4    4.000000\n";
  TempDir plain_dir;
  write_file(plain_dir / "A.SCR", scr);
  const std::string plain = run_in(plain_dir, "2\n").out;
  const std::size_t first_block_line = plain.find("\n    1 ") + 1;
  ASSERT_EQ(plain.find(" block  dimension start  end\n"), 135u);  // the 150-byte limit below cuts it

  const auto console_into = [](const char* device, std::function<void()> then = {}) {
    return [device, then] {
      const int fd = ::open(device, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) ::_exit(125);
      ::dup2(fd, 1);
      if (then) then();
    };
  };
  const auto closed_pipe = [] {
    int ends[2];
    if (::pipe(ends) != 0) ::_exit(125);
    ::close(ends[0]);
    ::dup2(ends[1], 1);
  };
  const auto refused_writes = [](int error, std::size_t after) {
    return std::vector<std::string>{std::string("LD_PRELOAD=") + SHORT_TRANSFERS_LIB,
                                    "REFUSE_WRITES=1 " + std::to_string(error) + " " + std::to_string(after)};
  };
  struct Case {
    const char* name;
    std::function<void()> before_exec;
    std::vector<std::string> environment;
    std::string err;
    int status;
    std::size_t console_kept;  // bytes of the plain console that arrive (captured or in console.txt)
    bool eigenvalue_file;      // whether C.SCR.TXT is complete
  };
  const Case cases[] = {
      {"full disk", console_into("/dev/full"), {}, report(12, " (Unit 6)", "No space left on device"), 2, 0, false},
      {"file-size limit", console_into("console.txt", file_size_limit(150)), {},
       report(40, " (Unit 6)", "File too large"), 2, 150, true},
      {"device error at the first block line", {}, refused_writes(EIO, first_block_line),
       report(72, " (Unit 6)", "Input/output error"), 2, first_block_line, true},
      {"closed pipe", closed_pipe, {}, "", 0, 0, true},
      {"pipe closed after the summary", {}, refused_writes(EPIPE, 100), "", 0, 100, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.environment.empty()) {
#ifdef BLOCKEIG_UNDER_ASAN
      continue;  // AddressSanitizer must come first among the preloaded libraries
#endif
      if (running_under_valgrind()) continue;  // valgrind sets the preloaded libraries itself
    }
    TempDir dir;
    write_file(dir / "A.SCR", scr);
    const ChildResult r = run_in(dir, "2\n", c.before_exec, c.environment);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    const std::string console = std::filesystem::exists(dir / "console.txt") ? read_file(dir / "console.txt") : r.out;
    EXPECT_EQ(console, plain.substr(0, c.console_kept));
    if (c.eigenvalue_file)
      EXPECT_EQ(read_file(dir / "C.SCR.TXT"), eigenvalues);
    else
      EXPECT_FALSE(std::filesystem::exists(dir / "C.SCR.TXT"));
  }
}

// In the child, before exec: standard input becomes a pipe that a helper
// process of the child feeds through `feed(fd)` and then leaves.
template <class Feed>
void input_from_helper(Feed feed) {
  int ends[2];
  if (::pipe(ends) != 0) ::_exit(125);
  if (::fork() == 0) {
    ::close(ends[0]);
    ::close(1);
    ::close(2);
    feed(ends[1]);
    ::_exit(0);
  }
  ::close(ends[1]);
  ::dup2(ends[0], 0);
  ::close(ends[0]);
}

// Standard streams that whoever started the program left non-blocking (a
// shared terminal, a harness's socket) answer "not now" instead of waiting.
// That is no refusal: the run waits, as with a blocking stream, and loses
// nothing. The other end is served late by a helper process of the child.
std::function<void()> late_nonblocking_input(std::string text) {
  return [text] {
    input_from_helper([&text](int fd) {
      ::usleep(300'000);
      if (::write(fd, text.data(), text.size()) < 0) ::_exit(1);
    });
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
  };
}

// Standard output (fd 1) or error (fd 2) into a one-page pipe, already
// holding `waiting` bytes, that is read only after a pause.
std::function<void()> slow_nonblocking_stream(int fd, std::size_t waiting = 0) {
  return [fd, waiting] {
    int ends[2];
    if (::pipe(ends) != 0) ::_exit(125);
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    const std::string early(waiting, 'x');
    if (::write(ends[1], early.data(), early.size()) != static_cast<ssize_t>(early.size())) ::_exit(125);
    if (::fork() == 0) {
      ::close(ends[1]);
      ::usleep(300'000);
      char buffer[512];
      for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        if (::write(fd, buffer, static_cast<std::size_t>(n)) < 0) ::_exit(1);
      ::_exit(0);
    }
    ::close(ends[0]);
    ::dup2(ends[1], fd);
    ::close(ends[1]);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  };
}

TEST(Fault, NonBlockingStandardStreamsAreWaitedFor) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(40, one_two_one_matrix(40)));
  const ChildResult plain = run_in(dir, "20\n");
  ASSERT_EQ(plain.status, 0);
  ASSERT_GT(plain.out.size(), 3 * 4096u);
  {
    SCOPED_TRACE("input arrives after the prompt");
    const ChildResult r = run_in(dir, "", late_nonblocking_input("20\n"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, plain.out);
  }
  {
    SCOPED_TRACE("output read late through a full pipe");
    const ChildResult r = run_in(dir, "20\n", slow_nonblocking_stream(1));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, plain.out);
  }
  {
    SCOPED_TRACE("a report into a full pipe read late");
    TempDir empty;
    const ChildResult r = run_in(empty, "20\n", slow_nonblocking_stream(2, 4096));
    EXPECT_EQ(r.err, std::string(4096, 'x') + report(11, matrix_unit, "End of file"));
    EXPECT_EQ(r.status, 2);
  }
}

// A FIFO as A.SCR or C.SCR.TXT is opened at its first transfer, for that
// direction alone. Read, it ends as a file of the same bytes would: whole,
// short ("End of file", a damaged record), and a marker that promises more
// than arrives costs no memory for what never came. Written, it passes the
// lines to its reader; with no reader the first line is refused (nothing
// would receive them) instead of vanishing into the pipe.
namespace fifo {

// A helper process, detached from the test's pipes, that writes `bytes` into
// the FIFO once the run opens it for reading.
std::function<void()> fed(std::string bytes) {
  return [bytes] {
    if (::fork() != 0) return;
    ::close(1);
    ::close(2);
    const int fd = ::open("A.SCR", O_WRONLY);
    if (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) < 0) ::_exit(1);
    ::_exit(0);
  };
}

// A reader of C.SCR.TXT that is there before the run starts and copies
// what it gets into C.copy.
void read_into_copy() {
  const int fd = ::open("C.SCR.TXT", O_RDONLY | O_NONBLOCK);  // present from now on
  if (fd < 0) ::_exit(125);
  if (::fork() != 0) {
    ::close(fd);
    return;
  }
  ::close(1);
  ::close(2);
  const int copy = ::open("C.copy", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 30'000) <= 0) ::_exit(1);
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) ::_exit(0);
    if (n < 0 || ::write(copy, buffer, static_cast<std::size_t>(n)) != n) ::_exit(1);
  }
}

}  // namespace fifo

TEST(Fault, FifosAsMatrixAndEigenvalueFiles) {
  const std::string scr = scr_file(6, one_two_one_matrix(6));
  TempDir plain_dir;
  write_file(plain_dir / "A.SCR", scr);
  const ChildResult plain = run_in(plain_dir, "2\n");
  ASSERT_EQ(plain.status, 0);
  const std::string eigenvalues = read_file(plain_dir / "C.SCR.TXT");
  const std::string record1 = scr_record(le32(6));
  const auto limited = [](std::function<void()> then, rlim_t bytes) {
    return [then, bytes] {
      then();
      const rlimit limit{bytes, bytes};
      ::setrlimit(RLIMIT_AS, &limit);
    };
  };
  struct Case {
    const char* name;
    const char* fifo;  // the file that is a FIFO
    std::function<void()> before_exec;
    std::string out;
    std::string err;
    int status;
    const char* eigenvalues;  // where the eigenvalues end up, if anywhere
  };
  std::vector<Case> cases = {
      {"A.SCR: the whole file", "A.SCR", fifo::fed(scr), plain.out, "", 0, "C.SCR.TXT"},
      {"A.SCR: nothing", "A.SCR", fifo::fed(""), "", report(11, matrix_unit, "End of file"), 2, nullptr},
      {"A.SCR: record 1 only", "A.SCR", fifo::fed(record1), " N =  6\n allocated\n",
       report(15, matrix_unit, "End of file"), 2, nullptr},
      {"A.SCR: record 2 cut short", "A.SCR", fifo::fed(scr.substr(0, scr.size() - 20)), " N =  6\n allocated\n",
       report(15, matrix_unit, "Corrupt record in unformatted sequential-access file"), 2, nullptr},
      {"C.SCR.TXT: no reader", "C.SCR.TXT", {}, direct_phase_lines(6),
       report(22, eigenvalue_unit, "No process has the FIFO open for reading"), 2, nullptr},
      {"C.SCR.TXT: a reader", "C.SCR.TXT", fifo::read_into_copy, plain.out, "", 0, "C.copy"},
  };
#ifndef BLOCKEIG_UNDER_ASAN
  if (!running_under_valgrind())
    cases.push_back({"A.SCR: a marker of 1,000,000,000 bytes, 256 MB of address space", "A.SCR",
                     limited(fifo::fed(record1 + le32(1'000'000'000) + doubles({1, 2, 3, 4})), 256u << 20),
                     " N =  6\n allocated\n",
                     report(15, matrix_unit, "Corrupt record in unformatted sequential-access file"), 2, nullptr});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (std::string(c.fifo) != "A.SCR") write_file(dir / "A.SCR", scr);
    ASSERT_EQ(::mkfifo((dir / c.fifo).c_str(), 0644), 0);
    ChildOptions options;
    options.directory = dir.path();
    options.input = "2\n";
    options.before_exec = c.before_exec;
    options.timeout_seconds = 20;  // a run that holds both ends of its FIFO waits for ever
    const ChildResult r = run_child(BLOCKEIG_BIN, {}, options);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    if (c.eigenvalues != nullptr) {
      for (int wait = 0; wait < 100 && read_file(dir / c.eigenvalues) != eigenvalues; ++wait) ::usleep(50'000);
      EXPECT_EQ(read_file(dir / c.eigenvalues), eigenvalues);
    }
  }
}

// Standard input whose line never ends: the block count is settled by the
// first character that decides it, and nothing of the endless rest is held
// (the address space is limited to make sure) or waited for.
TEST(Fault, EndlessStandardInputLine) {
  const std::string scr = scr_file(6, one_two_one_matrix(6));
  TempDir plain_dir;
  write_file(plain_dir / "A.SCR", scr);
  const ChildResult plain = run_in(plain_dir, "3\n");
  ASSERT_EQ(plain.status, 0);
  const std::string prompted = plain.out.substr(0, plain.out.find(" Number of blocks:\n") + 19);
  // Standard input from a helper that writes `head`, then bytes without a
  // line end until the run goes away.
  const auto endless = [](std::string head) {
    return [head] {
      input_from_helper([&head](int fd) {
        const std::string tail(65536, 'x');
        if (::write(fd, head.data(), head.size()) < 0) ::_exit(0);
        while (::write(fd, tail.data(), tail.size()) > 0) {
        }
      });
    };
  };
  const auto zeros = [] {
    const int fd = ::open("/dev/zero", O_RDONLY);
    if (fd < 0) ::_exit(125);
    ::dup2(fd, 0);
  };
  struct Case {
    const char* name;
    std::function<void()> input;
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"NUL bytes", zeros, prompted, report(31, " (Unit 5)", "Bad integer for item 1 in list input"), 2},
      {"a count, then a line without end", endless("3 "), plain.out, "", 0},
      {"a bad count, then a line without end", endless("3;"), prompted,
       report(31, " (Unit 5)", "Bad integer for item 1 in list input"), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", scr);
    ChildOptions options;
    options.directory = dir.path();
    options.timeout_seconds = 20;
    options.before_exec = [&c] {
      c.input();
#ifndef BLOCKEIG_UNDER_ASAN
      if (!running_under_valgrind()) {
        const rlimit space{256u << 20, 256u << 20};
        ::setrlimit(RLIMIT_AS, &space);
      }
#endif
    };
    const ChildResult r = run_child(BLOCKEIG_BIN, {}, options);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

TEST(Fault, MatrixFileThatCannotBeOpened) {
  {
    SCOPED_TRACE("a directory");
    TempDir dir;
    std::filesystem::create_directory(dir / "A.SCR");
    const ChildResult r = run_in(dir, "1\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, report(10, " file: \"A.SCR\"", "Is a directory"));
    EXPECT_EQ(r.status, 2);
  }
  {
    // The working directory, and A.SCR in it, vanish after the program was
    // started: OPEN can neither find nor create the file.
    SCOPED_TRACE("vanished");
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(2, {1, 0, 0, 1}));
    const std::string scr = (dir / "A.SCR").string();
    const std::string here = dir.path().string();
    const ChildResult r = run_in(dir, "1\n", [&] {
      ::unlink(scr.c_str());
      ::rmdir(here.c_str());
    });
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, report(10, " file: \"A.SCR\"", "No such file or directory"));
    EXPECT_EQ(r.status, 2);
  }
}

TEST(Fault, UnreadableMatrixFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permission bits do not stop the superuser from reading";
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(2, {1, 0, 0, 1}));
  ::chmod((dir / "A.SCR").c_str(), 0);
  const ChildResult r = run_in(dir, "1\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, report(10, " file: \"A.SCR\"", "Permission denied"));
  EXPECT_EQ(r.status, 2);
}

// Memory refused by the platform: the address space is limited, and every
// allocation is made to take address space of its own (glibc's mmap
// threshold at 0), so that the limit decides page by page where the run
// stops. The limits are found by bisection, since the program's own
// footprint depends on the libraries of the machine.
class AddressSpace {
 public:
  AddressSpace(int n, std::string input) : AddressSpace(scr_file(n, one_two_one_matrix(n)), std::move(input), 1) {}
  AddressSpace(const std::string& scr, std::string input, int threads)
      : input_(std::move(input)), threads_("BLOCKEIG_THREADS=" + std::to_string(threads)) {
    write_file(dir_ / "A.SCR", scr);
  }

  ChildResult run(rlim_t bytes, const std::vector<std::string>& arguments = {},
                  const std::string& setting = "BLOCKEIG_CHECKPOINT_SECONDS=60") const {
    return run_in(
        dir_, input_,
        [bytes] {
          const rlimit limit{bytes, bytes};
          ::setrlimit(RLIMIT_AS, &limit);
        },
        {"GLIBC_TUNABLES=glibc.malloc.mmap_threshold=0", threads_, setting}, arguments);
  }

  // The smallest limit, in pages, at which `reached` holds for the run.
  rlim_t smallest(const std::function<bool(const ChildResult&)>& reached) const {
    rlim_t low = 1 << 20, high = 256u << 20;  // low fails, high passes
    while (high - low > page) {
      const rlim_t middle = (low + high) / 2 / page * page;
      (reached(run(middle)) ? high : low) = middle;
    }
    return high;
  }

  const TempDir& dir() const { return dir_; }
  static constexpr rlim_t page = 4096;

 private:
  TempDir dir_;
  std::string input_;
  std::string threads_;
};

TEST(Fault, AllocationsRefusedByThePlatform) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: an address-space limit cannot be applied";
#endif
  const int n = 100;
  AddressSpace space(n, "1\n");
  const ChildResult full = space.run(256u << 20);
  ASSERT_EQ(full.status, 0) << full.err;
  const std::string table = full.out.substr(0, full.out.find(" 1 100 1 100\n") + 13);

  // A (N x N): the first statement that needs more than the start-up had.
  const rlim_t order_printed = space.smallest([](const ChildResult& r) { return !r.out.empty(); });
  std::filesystem::remove(space.dir() / "C.SCR.TXT");  // left by the bisection's longer runs
  ChildResult r = space.run(order_printed);
  EXPECT_EQ(r.out, " N =  100\n");
  EXPECT_EQ(r.err, allocation_report(13));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(space.dir() / "C.SCR.TXT"));

  // The block's work arrays, then the solver's work vector inside the
  // block solve, then the block line's own text: just below the limit at
  // which the first block line appears, a page at a time.
  const rlim_t block_line = space.smallest([](const ChildResult& r) { return r.out.find("\n    1 ") != std::string::npos; });
  std::set<int> lines;
  for (rlim_t limit = block_line - AddressSpace::page; lines.count(60) == 0; limit -= AddressSpace::page) {
    r = space.run(limit);
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, table);
    int line = 0;
    ASSERT_EQ(std::sscanf(r.err.c_str(), "At line %d", &line), 1) << r.err;
    EXPECT_EQ(r.err, allocation_report(line, line == 72 ? " (Unit 6)" : "")) << line;
    lines.insert(line);
    ASSERT_LE(lines.size(), 3u);
    ASSERT_GT(limit, order_printed);
  }
  EXPECT_TRUE(lines.count(169)) << "the solver's work vector was never the refused allocation";
  for (const int line : lines) std::printf("refused allocation at line %d\n", line);
  // The direct phase finished before: its file is complete.
  const std::string eigenvalues = read_file(space.dir() / "C.SCR.TXT");
  EXPECT_EQ(std::count(eigenvalues.begin(), eigenvalues.end(), '\n'), n);
}

// Nearly diagonal: the direct solve has full work for the helpers, and the
// sweeps end after two.
std::string nearly_diagonal_scr(int n) {
  std::vector<double> matrix(static_cast<std::size_t>(n) * n, 1.0e-4);
  for (int i = 0; i < n; ++i) matrix[static_cast<std::size_t>(i) * (n + 1)] = i + 1;
  return scr_file(n, matrix);
}

// Helper threads take address space for their stacks: a small fixed amount
// each, whatever the stack limit, taken as the run starts. Two threads then
// need hardly more than one, and a run that succeeds under a limit succeeds
// under every larger one (helpers started later, with the platform's 8 MiB
// stacks, once made a run fail under 20 MB that succeeded under 16 MB).
TEST(Fault, HelperThreadsTakeLittleAddressSpace) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: an address-space limit cannot be applied";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind needs the address space itself";
  const std::string scr = nearly_diagonal_scr(300);
  const AddressSpace one(scr, "3\n", 1), two(scr, "3\n", 2);
  const rlim_t least = one.smallest([](const ChildResult& r) { return r.status == 0; });
  const std::string plain = one.run(least).out;
  constexpr rlim_t helper_allowance = 1 << 20;
  bool succeeded = false;
  for (rlim_t limit = least; limit <= least + (10 << 20); limit += 512 << 10) {
    SCOPED_TRACE("two threads, " + std::to_string(limit - least) + " bytes above the least for one");
    const ChildResult r = two.run(limit);
    if (r.status == 0) {
      EXPECT_EQ(r.out, plain);
      succeeded = true;
      continue;
    }
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(succeeded) << "failed under a larger limit than one it succeeded under";
    EXPECT_LT(limit, least + helper_allowance) << "the helper takes more than its stacks";
  }
}

// A run that succeeds on one thread succeeds on more under the same
// address-space limit, with the same bytes: helpers whose stacks take the
// space that the matrices (line 13) or a block's arrays (line 60) need are
// let go, and the arrays asked for once more. With one block, whose arrays
// are the run's largest, a few helpers meet the limit at the block; with
// three blocks, or many helpers, at the matrices.
TEST(Fault, MoreThreadsNeedNoMoreAddressSpace) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: an address-space limit cannot be applied";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind needs the address space itself";
  const std::string scr = nearly_diagonal_scr(300);
  for (const char* blocks : {"1\n", "3\n"}) {
    const AddressSpace one(scr, blocks, 1);
    const rlim_t least = one.smallest([](const ChildResult& r) { return r.status == 0; });
    const ChildResult alone = one.run(least);
    ASSERT_EQ(alone.status, 0) << alone.err;
    const std::string eigenvalues = read_file(one.dir() / "C.SCR.TXT");
    for (const int threads : {2, 3, 8, 64}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, blocks " + blocks);
      const AddressSpace more(scr, blocks, threads);
      const ChildResult r = more.run(least);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, alone.out);
      EXPECT_EQ(read_file(more.dir() / "C.SCR.TXT"), eigenvalues);
    }
  }
}

// Under a stack limit smaller than a tile of a block product, the main
// thread overflows in its first tile, while a helper's own stack holds its
// tiles and a fault of its own would be reported all the same: every run
// ends with the whole processor-exception report and exit status 95.
TEST(Fault, StackOverflowWithHelperThreads) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles stack overflows and sizes frames itself";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind gives the main thread a stack of its own";
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(200, one_two_one_matrix(200)));
  const auto small_stack = [] {
    const rlimit stack{64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_STACK, &stack);
  };
  for (int run = 1; run <= 4; ++run) {
    SCOPED_TRACE(run);
    const ChildResult r = run_in(dir, "2\n", small_stack, {"BLOCKEIG_THREADS=2"});
    EXPECT_EQ(r.err, std::string("Exception: Stack overflow\nAt line 60 of file main.cpp\n") + traceback);
    EXPECT_EQ(r.status, 95);
  }
}

// The run-time's own structures (the standard units' records, the settings)
// are built before the program's first statement. Memory refused there ends
// the run with the allocation-failure report, without a locus line (no
// statement has set one), never with an abort. Below the smallest limit at
// which the dynamic loader gets the program going, page by page upward, the
// start-up's requests meet the limit one after the other.
TEST(Fault, MemoryRefusedDuringStartUp) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: an address-space limit cannot be applied";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind needs the address space itself";
  AddressSpace space(4, "2\n");
  const auto loaded = [](const ChildResult& r) { return r.status != 127; };
  const rlim_t first = space.smallest(loaded);
  const std::string refused = std::string(traceback) + "Operating system error: Cannot allocate memory\nMemory allocation failed\n";
  int start_up_refusals = 0;
  for (rlim_t limit = first; limit < first + 48 * AddressSpace::page; limit += AddressSpace::page) {
    SCOPED_TRACE(limit);
    const ChildResult r = space.run(limit);
    ASSERT_TRUE(r.status == 0 || r.status == 1 || r.status == 127) << r.status << "\n" << r.err;
    if (r.status != 1) continue;
    EXPECT_TRUE(r.err == refused || r.err.rfind("At line ", 0) == 0) << r.err;
    if (r.err == refused) {
      ++start_up_refusals;
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_GT(start_up_refusals, 0) << "no limit met the start-up's own requests";
}

// Asking for a results file or a checkpoint never costs the computation
// memory it needs: their texts are kept in memory files, outside the
// address space. Under every limit from a few pages above the least at which
// a run without them succeeds (the pages their names take at start-up), a
// run with them (a checkpoint after every sweep) succeeds as well, with the
// same output and C.SCR.TXT, and a whole document. Once the document grew
// in the address space the block phase's arrays were refused after a sweep.
TEST(Fault, AskedForRecordsNeverCostTheRunItsMemory) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: an address-space limit cannot be applied";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind needs the address space itself";
  const int n = 100;
  const AddressSpace space(scr_file(n, random_symmetric_matrix(n, 3)), "4\n", 1);
  const rlim_t least = space.smallest([](const ChildResult& r) { return r.status == 0; });
  const ChildResult plain = space.run(least);
  ASSERT_EQ(plain.status, 0);
  const std::string eigenvalues = read_file(space.dir() / "C.SCR.TXT");
  const std::vector<std::string> records[] = {
      {"--results", "run.json"}, {"--checkpoint", "run.ckpt"}, {"--results", "run.json", "--checkpoint", "run.ckpt"}};
  for (const rlim_t pages : {8, 64}) {
    for (const std::vector<std::string>& arguments : records) {
      SCOPED_TRACE(arguments.back() + ", " + std::to_string(pages) + " pages above the least limit");
      std::filesystem::remove(space.dir() / "run.json");
      const ChildResult r = space.run(least + pages * AddressSpace::page, arguments, "BLOCKEIG_CHECKPOINT_SECONDS=0");
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, plain.out);
      EXPECT_EQ(read_file(space.dir() / "C.SCR.TXT"), eigenvalues);
      if (arguments.front() == "--results") {
        EXPECT_NE(read_file(space.dir() / "run.json").find("\"state\": \"finished\""), std::string::npos);
      }
    }
  }
}

// Standard error on a terminal asks for the progress line, whose ticker is a
// thread of its own. A platform that refuses that thread (here: a stack
// limit larger than the address space) costs the line, not the run.
TEST(Fault, RefusedProgressThreadCostsOnlyTheLine) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: an address-space limit cannot be applied";
#endif
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const std::string terminal_name = ::ptsname(terminal);
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(6, one_two_one_matrix(6)));
  const ChildResult plain = run_in(dir, "2\n");
  ASSERT_EQ(plain.status, 0);
  const ChildResult r = run_in(
      dir, "2\n",
      [&terminal_name] {
        const int fd = ::open(terminal_name.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) ::_exit(125);
        ::dup2(fd, 2);
        const rlimit stack{rlim_t{4} << 30, rlim_t{4} << 30};
        const rlimit space{rlim_t{1} << 30, rlim_t{1} << 30};
        ::setrlimit(RLIMIT_STACK, &stack);
        ::setrlimit(RLIMIT_AS, &space);
      },
      {"BLOCKEIG_THREADS=1", "BLOCKEIG_PROGRESS=1"});
  ::close(terminal);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, plain.out);
}

// Record 2 may announce no more than 1,000,000,000 bytes. The files below
// are sparse: they look as large as a real matrix file but hold no data.
TEST(SizeLimit, RecordLongerThanTheLimitFailsBeforeItsData) {
  const std::int32_t n = 11'181;
  const std::int64_t length = std::int64_t{8} * n * n;  // 1,000,118,088
  ASSERT_EQ(length, 1'000'118'088);
  TempDir dir;
  write_file(dir / "A.SCR", damaged_matrix_file("matrix marker above the limit"));
  const std::string path = (dir / "A.SCR").string();
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 16 + length), 0);
  const std::string trailer = le32(static_cast<std::int32_t>(length));
  ASSERT_EQ(::pwrite(fd, trailer.data(), 4, 16 + length), 4);
  ::close(fd);
  const ChildResult r = run_in(dir, "1\n");
  EXPECT_EQ(r.out, " N =  11181\n allocated\n");
  EXPECT_EQ(r.err, report(15, matrix_unit, "Reading more data than the record size (RECL)"));
  EXPECT_EQ(r.status, 2);
}

// A marker of exactly 1,000,000,000 passes the length check; in a file that
// ends a few bytes later the record is damaged. The file's size says so
// before the record buffer is grown: under an address-space limit far
// below a gigabyte the report is still the damaged record, not a refused
// allocation.
TEST(SizeLimit, MarkerAtTheLimitInAShortFileIsADamagedRecord) {
  const std::string& scr = damaged_matrix_file("matrix marker at the limit on a short file");
  struct Case {
    const char* name;
    rlim_t address_space;  // 0: no limit
  };
  for (const Case& c : {Case{"no limit", 0}, Case{"256 MB of address space", 256u << 20}}) {
    SCOPED_TRACE(c.name);
#ifdef BLOCKEIG_UNDER_ASAN
    if (c.address_space != 0) continue;  // ASan needs its shadow address space
#endif
    if (c.address_space != 0 && running_under_valgrind()) continue;
    TempDir dir;
    write_file(dir / "A.SCR", scr);
    const ChildResult r = run_in(dir, "1\n", [limit = c.address_space] {
      if (limit == 0) return;
      const rlimit l{limit, limit};
      ::setrlimit(RLIMIT_AS, &l);
    });
    EXPECT_EQ(r.out, " N =  2\n allocated\n");
    EXPECT_EQ(r.err, report(15, matrix_unit, "Corrupt record in unformatted sequential-access file"));
    EXPECT_EQ(r.status, 2);
  }
}

}  // namespace
}  // namespace blockeig::testing
