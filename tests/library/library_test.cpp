// The library against the program: the same bits on every end-to-end case,
// whatever the thread count and the way the caller stores the matrix; the
// program's matrix files read and written; every error returned to the
// caller, none ending the process or touching its signals.
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <fenv.h>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "io/record_format.hpp"
#include "runtime/processors.hpp"
#include "support/child_process.hpp"
#include "support/end_to_end_matrices.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

using nlohmann::json;

// The results file writes every NaN as "NaN": NaNs match as NaNs, every
// other double by its bits.
bool same(double a, double b) {
  return std::isnan(a) ? std::isnan(b) : std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

double number(const json& j) {
  if (!j.is_string()) return j.get<double>();
  const std::string word = j.get<std::string>();
  if (word == "NaN") return std::numeric_limits<double>::quiet_NaN();
  return word == "Infinity" ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
}

void expect_same(std::span<const double> got, const json& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t k = 0; k < got.size(); ++k)
    EXPECT_TRUE(same(got[k], number(want[k]))) << what << "[" << k << "]: " << got[k] << " vs " << want[k];
}

json program_results(const EndToEndCase& c) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(c.n, c.matrix));
  ChildOptions options;
  options.directory = dir.path();
  options.input = std::to_string(c.nblocks) + "\n";
  const ChildResult r = run_child(BLOCKEIG_BIN, {"--results", "run.json"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  return json::parse(read_file(dir / "run.json"));
}

// The same matrix stored row by row (element (i, j) at i * n + j).
std::vector<double> row_by_row(const EndToEndCase& c) {
  const std::size_t n = static_cast<std::size_t>(c.n);
  std::vector<double> t(n * n);
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < n; ++i) t[i * n + j] = c.matrix[i + j * n];
  return t;
}

// Sweep by sweep, the Python tests hold the same calls to the results file
// (tests/python); here the direct values and the final E, from both ways of
// storing the matrix and with 1 to 3 threads.
TEST(Library, SameBitsAsTheProgramOnEveryEndToEndCase) {
  int index = 0;
  for (const EndToEndCase& c : end_to_end_cases()) {
    SCOPED_TRACE(c.name);
    const json run = program_results(c);
    const Options options{1 + index++ % 3};
    const std::vector<double> rows = row_by_row(c);
    for (const MatrixRef& a : {MatrixRef{c.matrix.data(), c.n, c.n}, MatrixRef{rows.data(), c.n, 1, c.n}}) {
      const DirectSolution direct = eigenvalues(a, options);
      EXPECT_EQ(direct.IERR, run["direct"]["IERR"].get<int>());
      expect_same(direct.values, run["direct"]["eigenvalues"], "direct");
      const BlockResult blocks = block_sweeps(a, c.nblocks, {}, options);
      EXPECT_EQ(blocks.sweeps, run["end"]["sweeps"].get<int>());
      EXPECT_EQ(blocks.converged, run["end"]["converged"].get<bool>());
      expect_same(blocks.E, run["end"]["E"], "final E");
    }
  }
}

// A random matrix with a spread diagonal: the sweeps end within a few.
std::vector<double> spread_matrix(int n) {
  std::vector<double> a = random_symmetric_matrix(n, 21);
  for (int i = 0; i < n; ++i) a[static_cast<std::size_t>(i + i * n)] += 2 * i;
  return a;
}

TEST(Library, EigensystemsAndThreadCounts) {
  const int n = 90;
  const std::vector<double> a = spread_matrix(n);
  const MatrixRef ref{a.data(), n, n};
  const DirectSolution one = eigensystem(ref, {1});
  ASSERT_EQ(one.vectors.size(), static_cast<std::size_t>(n * n));
  EXPECT_EQ(eigenvalues(ref, {1}).values, one.values);
  // Any thread count, any caller's thread, calls side by side: one answer.
  const BlockResult reference = block_sweeps(ref, 3, {}, {1});
  std::vector<BlockResult> results(4);
  std::vector<DirectSolution> solutions(4);
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t)
    callers.emplace_back([&, t] {
      results[static_cast<std::size_t>(t)] = block_sweeps(ref, 3, {}, {t + 1});
      solutions[static_cast<std::size_t>(t)] = eigensystem(ref, {4 - t});
    });
  for (std::thread& caller : callers) caller.join();
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(results[static_cast<std::size_t>(t)].E, reference.E) << t;
    EXPECT_EQ(results[static_cast<std::size_t>(t)].sweeps, reference.sweeps) << t;
    EXPECT_EQ(solutions[static_cast<std::size_t>(t)].vectors, one.vectors) << t;
  }
}

TEST(Library, ObserversStopThrowAndCallBack) {
  const int n = 40;
  const std::vector<double> a = spread_matrix(n);
  const MatrixRef ref{a.data(), n, n};
  const BlockResult full = block_sweeps(ref, 4, {}, {2});
  ASSERT_GT(full.sweeps, 3);

  int calls = 0;
  const BlockResult stopped =
      block_sweeps(ref, 4, [&](const Sweep&) { return ++calls == 2 ? Decision::stop : Decision::go_on; }, {2});
  EXPECT_EQ(stopped.sweeps, 2);
  EXPECT_TRUE(stopped.stopped);
  EXPECT_FALSE(stopped.converged);

  // The observer's exceptions come back as they were thrown, those that
  // the library's own allocations would turn into out_of_memory included.
  struct Thrown {
    void (*thrower)();
    const std::type_info& type;
  };
  const Thrown thrown[] = {
      {[] { throw std::runtime_error("enough"); }, typeid(std::runtime_error)},
      {[] { throw std::bad_alloc(); }, typeid(std::bad_alloc)},
      {[] { throw std::length_error("too long"); }, typeid(std::length_error)},
      {[] { throw 7; }, typeid(int)},
  };
  for (const Thrown& t : thrown) {
    SCOPED_TRACE(t.type.name());
    try {
      block_sweeps(ref, 4, [&](const Sweep&) -> Decision { t.thrower(); return Decision::go_on; }, {2});
      ADD_FAILURE() << "no exception";
    } catch (const Error& e) {
      ADD_FAILURE() << "became " << e.what();
    } catch (const std::exception& e) {
      EXPECT_EQ(typeid(e), t.type);
    } catch (int) {
      EXPECT_EQ(typeid(int), t.type);
    }
  }

  // A call from inside an observer runs at once, with its own thread count,
  // and the outer call goes on as it would have.
  const DirectSolution direct = eigenvalues(ref, {1});
  const BlockResult outer = block_sweeps(ref, 4, [&](const Sweep&) {
    EXPECT_EQ(eigenvalues(ref, {3}).values, direct.values);
    return Decision::go_on;
  }, {2});
  EXPECT_EQ(outer.E, full.E);
}

// Every layout the header describes, strides negative and 0 included,
// gives the bits of the same matrix copied column by column.
TEST(Library, StridedLayoutsGiveTheBitsOfACopy) {
  const int n = 6;
  const std::vector<double> a = spread_matrix(n);
  const double* last_column = a.data() + (n - 1) * n;
  struct Case {
    const char* name;
    MatrixRef view;
  };
  const Case cases[] = {
      {"every column the same", {a.data(), n, 0, 1}},
      {"columns from the last", {last_column, n, -n, 1}},
      {"rows from the last", {a.data() + (n - 1), n, n, -1}},
      {"both from the last", {last_column + (n - 1), n, -n, -1}},
      {"row by row, rows from the last", {last_column, n, 1, -n}},
      {"every element the same", {a.data() + 3, n, 0, 0}},
      {"every row the same", {a.data(), n, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> copy(static_cast<std::size_t>(n * n));
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) copy[static_cast<std::size_t>(i + j * n)] = c.view.data[i * c.view.row_stride + j * c.view.ld];
    const MatrixRef contiguous{copy.data(), n, n};
    const DirectSolution direct = eigensystem(c.view), want = eigensystem(contiguous);
    EXPECT_EQ(direct.values, want.values);
    EXPECT_EQ(direct.vectors, want.vectors);
    EXPECT_EQ(block_sweeps(c.view, 2).E, block_sweeps(contiguous, 2).E);
    TempDir dir;
    write_scr((dir / "A.SCR").string(), c.view);
    EXPECT_EQ(read_file(dir / "A.SCR"), scr_file(n, copy));
  }
}

std::vector<double> set_nan(std::vector<double> a, int n) {
  a[static_cast<std::size_t>(7 + 3 * n)] = a[static_cast<std::size_t>(3 + 7 * n)] = std::numeric_limits<double>::quiet_NaN();
  return a;
}

// A caller computing upward with the x87 unit at double precision, and
// trapping invalid operations: the library computes as always, NaN included,
// gives the caller's environment to its observer and back at the end.
TEST(Library, CallersFloatingPointEnvironmentIsKept) {
  const int n = 12;
  const std::vector<double> a = set_nan(random_symmetric_matrix(n, 1), n);
  const std::vector<double> b = spread_matrix(n);
  const DirectSolution plain_nan = eigenvalues({a.data(), n, n});
  const BlockResult plain = block_sweeps({b.data(), n, n}, 2);

  std::fenv_t saved;
  std::fegetenv(&saved);
  std::fesetround(FE_UPWARD);
#if defined(__x86_64__) || defined(__i386__)
  std::fenv_t changed;
  std::fegetenv(&changed);
  changed.__control_word = static_cast<unsigned short>((changed.__control_word & ~0x300) | 0x200);
  std::fesetenv(&changed);
#endif
  feenableexcept(FE_INVALID);
  std::fenv_t caller;
  std::fegetenv(&caller);
  int rounding_seen = -1;
  const DirectSolution with_nan = eigenvalues({a.data(), n, n});
  const BlockResult sweeps = block_sweeps({b.data(), n, n}, 2, [&](const Sweep&) {
    rounding_seen = std::fegetround();
    return Decision::go_on;
  });
  std::fenv_t after;
  std::fegetenv(&after);
  std::fesetenv(&saved);

  EXPECT_EQ(with_nan.IERR, plain_nan.IERR);
  for (std::size_t k = 0; k < with_nan.values.size(); ++k) EXPECT_TRUE(same(with_nan.values[k], plain_nan.values[k]));
  EXPECT_EQ(sweeps.E, plain.E);
  EXPECT_EQ(rounding_seen, FE_UPWARD);
  EXPECT_EQ(std::memcmp(&after, &caller, sizeof after), 0);
}

TEST(Library, BadArgumentsAreErrors) {
  const std::vector<double> a = random_symmetric_matrix(6, 2);
  struct Case {
    const char* name;
    MatrixRef matrix;
    std::int32_t nblocks;
    int threads;
    Errc expected;
  };
  const Case cases[] = {
      {"order 1", {a.data(), 1, 6}, 1, 1, Errc::bad_order},
      {"order 0", {a.data(), 0, 6}, 1, 1, Errc::bad_order},
      {"order -6", {a.data(), -6, 6}, 1, 1, Errc::bad_order},
      {"no data", {nullptr, 6, 6}, 1, 1, Errc::bad_matrix},
      {"leading dimension below the order", {a.data(), 6, 5}, 1, 1, Errc::bad_matrix},
      {"order beyond 32 bits", {a.data(), std::int64_t{1} << 32, std::int64_t{1} << 32}, 1, 1, Errc::bad_order},
      {"no blocks", {a.data(), 6, 6}, 0, 1, Errc::bad_block_count},
      {"a block of one position", {a.data(), 6, 6}, 4, 1, Errc::bad_block_count},
      {"negative threads", {a.data(), 6, 6}, 1, -1, Errc::bad_thread_count},
      {"too many threads", {a.data(), 6, 6}, 1, 1025, Errc::bad_thread_count},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      block_sweeps(c.matrix, c.nblocks, {}, {c.threads});
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), c.expected) << e.what();
      EXPECT_TRUE(std::string(e.what()).starts_with("blockeig: ")) << e.what();
    }
    if (c.expected != Errc::bad_block_count) {
      try {
        eigenvalues(c.matrix, {c.threads});
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(e.code(), c.expected) << e.what();
      }
    }
  }
}

// The sweeps' options are checked before any work, each refused with its
// own code.
TEST(Library, BadSweepOptionsAreErrors) {
  const std::vector<double> a = random_symmetric_matrix(6, 2), wide(72, 0.0);
  std::vector<double> twice(36, 0.0);
  for (int k = 0; k < 6; ++k) twice[static_cast<std::size_t>(7 * k)] = k == 3 ? 2.0 : 1.0;
  const std::pair<Options, Errc> cases[] = {
      {{.tol = 0.0}, Errc::bad_sweep_rule},
      {{.tol = std::numeric_limits<double>::quiet_NaN()}, Errc::bad_sweep_rule},
      {{.max_sweeps = 100000}, Errc::bad_sweep_rule},
      {{.partition = {2, 4}}, Errc::bad_partition},
      {{.partition = {1, 5}}, Errc::bad_partition},
      {{.partition = {3, 3, 0}}, Errc::bad_partition},
      {{.start = {wide.data(), 7, 7}}, Errc::bad_start},
      {{.start = {wide.data(), 6, 5}}, Errc::bad_start},
      {{.start = {twice.data(), 6, 6}}, Errc::bad_start},
  };
  for (const auto& [options, expected] : cases) {
    try {
      block_sweeps({a.data(), 6, 6}, static_cast<std::int32_t>(options.partition.empty() ? 2 : 3), {}, options);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), expected) << e.what();
    }
  }
}

Errc read_error(const std::string& path, ByteOrder order = ByteOrder::little) {
  try {
    read_scr(path, order);
  } catch (const Error& e) {
    return e.code();
  }
  return Errc{};
}

// What read_scr makes of damaged and tolerated files, beside the program's
// reading and scrtool's: tests/tools/record_readers_test.cpp.
TEST(Library, ReadingAMissingFileIsAFileError) {
  TempDir dir;
  EXPECT_EQ(read_error((dir / "none").string()), Errc::file_error);
}

TEST(Library, WritesTheProgramsFiles) {
  TempDir dir;
  const std::string path = (dir / "A.SCR").string();
  const int n = 5;
  const std::vector<double> a = random_symmetric_matrix(n, 4);
  std::vector<double> padded(static_cast<std::size_t>(7 * n), -1.0);  // leading dimension 7
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) padded[static_cast<std::size_t>(i + 7 * j)] = a[static_cast<std::size_t>(i + n * j)];

  write_scr(path, {a.data(), n, n});
  EXPECT_EQ(read_file(path), scr_file(n, a));
  write_scr(path, {padded.data(), n, 7});
  EXPECT_EQ(read_file(path), scr_file(n, a));
  write_scr(path, {a.data(), n, n}, ByteOrder::big);
  EXPECT_EQ(read_file(path), io::matrix_file_bytes(n, a, /*reversed=*/true));
  EXPECT_EQ(read_scr(path, ByteOrder::big).elements, a);
  EXPECT_EQ(read_error(path, ByteOrder::little), Errc::damaged_file);

  // A refused write leaves what was there.
  write_scr(path, {a.data(), n, n});
  try {
    write_scr((dir / "missing" / "A.SCR").string(), {a.data(), n, n});
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), Errc::file_error);
    EXPECT_EQ(e.system_error(), ENOENT);
  }
  EXPECT_EQ(read_file(path), scr_file(n, a));
  EXPECT_THROW(write_scr(path, {a.data(), 1, 1}), Error);
}

// Names the system would read otherwise than given (a NUL cuts them short)
// and files that cannot be replaced are refused with the system's errno,
// every file there left as it was.
TEST(Library, NamesAndFilesThatCannotBeUsed) {
  TempDir dir;
  const int n = 3;
  const std::vector<double> a = random_symmetric_matrix(n, 6);
  write_file(dir / ".x", "temporary?");
  write_file(dir / "x", scr_file(n, a));
  std::filesystem::create_directory(dir / "d");
  ASSERT_EQ(::mkfifo((dir / "p").c_str(), 0600), 0);
  struct Case {
    const char* name;
    bool write;
    std::string path;
    int system_error;
    const char* ending;  // of what()
  };
  const Case cases[] = {
      {"write, NUL", true, (dir / "x").string() + std::string(1, '\0') + "y.scr", EINVAL,
       "x\\x00y.scr: the name holds a NUL character"},
      {"read, NUL", false, (dir / "x").string() + std::string(1, '\0') + "anything", EINVAL,
       "x\\x00anything: the name holds a NUL character"},
      {"write, directory", true, (dir / "d").string(), EISDIR, "d: Is a directory"},
      {"write, directory named with a slash", true, (dir / "d").string() + "/", EISDIR, "d/: Is a directory"},
      {"write, FIFO", true, (dir / "p").string(), EINVAL, "p: it is a FIFO, not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      if (c.write)
        write_scr(c.path, {a.data(), n, n});
      else
        read_scr(c.path);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), Errc::file_error);
      EXPECT_EQ(e.system_error(), c.system_error);
      EXPECT_TRUE(std::string(e.what()).ends_with(c.ending)) << e.what();
    }
  }
  EXPECT_EQ(read_file(dir / ".x"), "temporary?");
  EXPECT_EQ(read_file(dir / "x"), scr_file(n, a));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "d"));
}

// A fresh program's first calls (the probe's) leave every signal's
// disposition as the program found it.
TEST(Library, LeavesSignalsAlone) {
  TempDir dir;
  ChildOptions options;
  options.directory = dir.path();
  const ChildResult r = run_child(LIBRARY_PROBE_BIN, {}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.ends_with("\nsignals unchanged\n")) << r.out;
}

// Runs body() in a child process, which ends within `seconds` (SIGALRM):
// the child's wait status.
int status_in_child(const std::function<bool()>& body, unsigned seconds = 20) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    ::_exit(body() ? 0 : 1);
  }
  int status = -1;
  if (pid > 0) ::waitpid(pid, &status, 0);
  return status;
}

// Entries near 1e9: E(1) never settles within 1.0e-6, so the sweeps go on
// until the observer stops them.
std::vector<double> unsettled_matrix(int n) {
  std::vector<double> a = random_symmetric_matrix(n, 4);
  for (double& x : a) x *= 1e9;
  return a;
}

// A child forked while another thread is inside a call, computing or
// waiting in its observer, computes at once; the parent's call goes on.
TEST(Library, ChildForkedDuringAnotherThreadsCallComputes) {
  const int n = 80;
  const std::vector<double> a = spread_matrix(n), busy = unsettled_matrix(n);
  const std::vector<double> want = eigenvalues({a.data(), n, n}, {1}).values;
  for (const bool waiting : {false, true}) {
    SCOPED_TRACE(waiting ? "waiting in an observer" : "computing");
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false, forked = false;
    std::thread other([&] {
      block_sweeps({busy.data(), n, n}, 2, [&](const Sweep& s) {
        std::unique_lock lock(mutex);
        inside = true;
        changed.notify_all();
        if (waiting) changed.wait(lock, [&] { return forked; });
        return forked && s.ITER > 3 ? Decision::stop : Decision::go_on;
      }, {2});
    });
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return inside; });
    }
    const int status = status_in_child([&] { return eigenvalues({a.data(), n, n}, {2}).values == want; });
    {
      const std::lock_guard lock(mutex);
      forked = true;
    }
    changed.notify_all();
    other.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

// Whether this process can start a thread with a stack of `bytes` at all:
// the thread-local storage of every library loaded lives on each thread's
// stack (OpenBLAS, when it stands in for the judges' LAPACK, has 60 KiB).
bool thread_with_stack_starts(std::size_t bytes) {
  pthread_attr_t attributes;
  pthread_t thread;
  if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, bytes) != 0) return false;
  const bool started = pthread_create(&thread, &attributes, [](void*) -> void* { return nullptr; }, nullptr) == 0;
  if (started) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  return started;
}

// A caller's thread with a small stack (Python's threading.stack_size
// allows 32 KiB; many pools give 64 KiB) gets the bits of any other.
TEST(Library, SmallStacksOfTheCallersThread) {
  const int n = 60;
  const std::vector<double> a = spread_matrix(n);
  const MatrixRef ref{a.data(), n, n};
  const std::vector<double> E = block_sweeps(ref, 4, {}, {1}).E, vectors = eigensystem(ref, {1}).vectors;
  for (const std::size_t kib : {32, 64, 96}) {
    for (const int threads : {1, 2}) {
      SCOPED_TRACE(std::to_string(kib) + " KiB, " + std::to_string(threads) + " threads");
      if (!thread_with_stack_starts(kib * 1024)) {
        std::printf("no thread of %zu KiB starts in this process (the libraries' thread-local storage)\n", kib);
        continue;
      }
      std::function<bool()> same = [&] {
        return block_sweeps(ref, 4, {}, {threads}).E == E && eigensystem(ref, {threads}).vectors == vectors;
      };
      const int status = status_in_child([&] {
        pthread_attr_t attributes;
        pthread_t thread;
        const auto run = [](void* body) -> void* { return (*static_cast<std::function<bool()>*>(body))() ? body : nullptr; };
        void* result = nullptr;
        return pthread_attr_init(&attributes) == 0 && pthread_attr_setstacksize(&attributes, kib * 1024) == 0 &&
               pthread_create(&thread, &attributes, run, &same) == 0 && pthread_join(thread, &result) == 0 &&
               result != nullptr;
      });
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
  }
}

// The threads of this process and the times they have given up the
// processor of their own accord (a wake-up and its sleep); switches forced on
// them by other processes' load are not counted.
struct Threads {
  int count = 0;
  long switches = 0;
};
Threads threads_now() {
  Threads t;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ++t.count;
    const std::string status = read_file(task.path() / "status");
    const std::string key = "\nvoluntary_ctxt_switches:";
    t.switches += std::stol(status.substr(status.find(key) + key.size()));
  }
  return t;
}

// An idle library costs nothing: after a call with more threads than
// processors no helper wakes up, and after one with far more threads than
// the default the pool is the default's again.
TEST(Library, IdleBetweenCalls) {
  const int n = 40;
  const std::vector<double> a = spread_matrix(n);
  const int processors = runtime::available_processors().count;
  const int before = threads_now().count;
  eigenvalues({a.data(), n, n}, {processors + 1});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the helpers' spinning is over
  const Threads idle = threads_now();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a watcher woke 25 times
  EXPECT_LE(threads_now().switches - idle.switches, 5) << "switches while idle";

  eigenvalues({a.data(), n, n}, {std::min(4 * processors + 4, 1024)});
  EXPECT_LE(threads_now().count, before + processors) << "threads kept";
}

// After calls that started helper threads, a forked child computes too.
TEST(Library, ForkedChildComputes) {
  const int n = 120;
  const std::vector<double> a = spread_matrix(n);
  const DirectSolution parent = eigenvalues({a.data(), n, n}, {3});
  const pid_t pid = ::fork();
  if (pid == 0) {
    alarm(60);
    const bool same_values = eigenvalues({a.data(), n, n}, {2}).values == parent.values;
    ::_exit(same_values ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace blockeig::testing
