// The opt-in results file, judged from outside: it changes no byte of a
// run, it parses with an independent JSON reader, its numbers are the exact
// doubles behind the console's G12.3 fields, it is whole at every instant,
// and the failures to write it are reported without stopping the run.
#include <sys/resource.h>
#include <sys/time.h>
#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "arithmetic/extended_kernels.hpp"
#include "eigen/solver.hpp"
#include "io/edit_real.hpp"
#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

using nlohmann::json;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

ChildResult run_in(const TempDir& dir, const std::string& input, std::vector<std::string> arguments = {},
                   std::vector<std::string> environment = {}, std::function<void()> before_exec = {}) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = input;
  options.environment = std::move(environment);
  options.before_exec = std::move(before_exec);
  return run_child(BLOCKEIG_BIN, arguments, options);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A number of the document: a JSON float, or one of the three strings that
// stand for what JSON cannot write. An integer form fails the test, since a
// reader would take it for an integer (and lose the sign of -0.0).
double number(const json& value) {
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    if (text == "NaN") return nan;
    if (text == "Infinity") return std::numeric_limits<double>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    ADD_FAILURE() << "not a number: " << text;
    return 0;
  }
  EXPECT_TRUE(value.is_number_float()) << value.dump();
  return value.get<double>();
}

std::vector<double> numbers(const json& array) {
  std::vector<double> values;
  for (const json& value : array) values.push_back(number(value));
  return values;
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

// The console's G12.3 field of a value.
std::string g12_3(double x) {
  char field[io::max_field_width];
  return std::string(field, io::edit_general(x, 12, 3, io::absent, field));
}

// The digest of the matrix bytes by an independent tool.
std::string sha256sum_of(const TempDir& dir, const std::string& bytes) {
  write_file(dir / "matrix.bin", bytes);
  ChildOptions options;
  options.directory = dir.path();
  const ChildResult r = run_child("/usr/bin/sha256sum", {"matrix.bin"}, options);
  return r.out.substr(0, 64);
}

// end.accuracy against the direct eigenvalues sorted here: the smallest,
// the largest magnitude, the first of the nearest; the figures over
// |lambda_1| and the gap null where the divisor is 0.
void check_accuracy(const json& accuracy, double E1, const std::vector<double>& direct) {
  std::vector<double> sorted;
  for (double v : direct)
    if (!std::isnan(v)) sorted.push_back(v);
  std::sort(sorted.begin(), sorted.end());
  if (sorted.empty()) {
    for (const char* key : {"lambda_1", "difference", "norm_2", "relative", "relative_lambda_1", "gap", "relative_gap"})
      EXPECT_TRUE(std::isnan(number(accuracy[key])));
    EXPECT_TRUE(accuracy["nearest_rank"].is_null());
    return;
  }
  const double lambda_1 = sorted.front();
  const double norm = std::max(std::fabs(sorted.front()), std::fabs(sorted.back()));
  const long double difference = static_cast<long double>(E1) - lambda_1;
  EXPECT_TRUE(same_bits(number(accuracy["lambda_1"]), lambda_1));
  EXPECT_TRUE(same_bits(number(accuracy["difference"]), static_cast<double>(difference)));
  EXPECT_TRUE(same_bits(number(accuracy["norm_2"]), norm));
  EXPECT_TRUE(same_bits(number(accuracy["relative"]), static_cast<double>(difference / norm)));
  const long double gap = (sorted.size() > 1 ? sorted[1] : std::nan("")) - static_cast<long double>(lambda_1);
  EXPECT_TRUE(same_bits(number(accuracy["gap"]), static_cast<double>(gap)));
  for (const auto& [key, divisor] : {std::pair{"relative_lambda_1", std::fabs(static_cast<long double>(lambda_1))},
                                     std::pair{"relative_gap", gap}}) {
    if (divisor == 0) EXPECT_TRUE(accuracy[key].is_null()) << key;
    else EXPECT_TRUE(same_bits(number(accuracy[key]), static_cast<double>(difference / divisor))) << key;
  }
  if (std::isnan(E1)) {
    EXPECT_TRUE(accuracy["nearest_rank"].is_null());
    return;
  }
  std::size_t nearest = 0;
  for (std::size_t k = 1; k < sorted.size(); ++k)
    if (std::fabs(static_cast<long double>(E1) - sorted[k]) < std::fabs(static_cast<long double>(E1) - sorted[nearest]))
      nearest = k;
  EXPECT_EQ(accuracy["nearest_rank"], nearest + 1);
}

// Everything the document says must agree with the console, with
// C.SCR.TXT's source (the direct solve, run here in-process) and with
// itself.
void check_document(const json& d, int n, const std::vector<double>& matrix, const std::vector<std::string>& console,
                    const TempDir& dir) {
  EXPECT_EQ(d["format"], 1);
  EXPECT_EQ(d["program"]["name"], "blockeig");
  EXPECT_EQ(d["program"]["arithmetic"], std::string(extended_arithmetic));
  EXPECT_EQ(d["program"]["kernels"], std::string(kernels::in_use()));
  EXPECT_EQ(d["state"], "finished");
  EXPECT_EQ(d["input"]["N"], n);
  EXPECT_EQ(d["input"]["bytes"], 8 * n * n + 20);
  EXPECT_EQ(d["input"]["matrix_sha256"], sha256sum_of(dir, doubles(matrix)));

  std::vector<double> vec(static_cast<std::size_t>(n * n)), val(static_cast<std::size_t>(n));
  int ierr = 0;
  Tred12Work work;
  ASSERT_TRUE(work.obtain(n));
  tred12(n, matrix.data(), vec.data(), val.data(), 2, ierr, work);
  EXPECT_EQ(d["direct"]["IERR"], ierr);
  EXPECT_EQ(console[3], " diagonalized - direct, IERR:  " + std::to_string(ierr));
  const std::vector<double> direct = numbers(d["direct"]["eigenvalues"]);
  ASSERT_EQ(direct.size(), val.size());
  for (std::size_t k = 0; k < val.size(); ++k) EXPECT_TRUE(same_bits(direct[k], val[k])) << k;

  const int nblocks = d["blocks"]["NBLOCKS"];
  const json& sweeps = d["sweeps"];
  // The direct phase, the prompt, the table heading and rows, then per
  // sweep its block lines and its sweep line.
  const std::size_t first = 8 + static_cast<std::size_t>(nblocks);
  ASSERT_EQ(console.size(), first + sweeps.size() * static_cast<std::size_t>(nblocks + 1));
  const double tol = number(d["end"]["TOL"]);
  std::size_t line = first;
  std::vector<double> last_w;
  for (std::size_t s = 0; s < sweeps.size(); ++s) {
    const json& sweep = sweeps[s];
    EXPECT_EQ(sweep["ITER"], s + 1);
    ASSERT_EQ(sweep["W"].size(), static_cast<std::size_t>(nblocks));
    last_w.clear();
    for (int b = 0; b < nblocks; ++b) {
      const std::vector<double> w = numbers(sweep["W"][static_cast<std::size_t>(b)]);
      EXPECT_EQ(w.size(), static_cast<std::size_t>(d["blocks"]["layout"][static_cast<std::size_t>(b)]["dimension"]));
      const std::size_t m = w.size();
      char id[16];
      std::snprintf(id, sizeof id, "%5d", b + 1);
      EXPECT_EQ(console[line++], id + g12_3(w[0]) + g12_3(w[1]) + g12_3(w[m - 2]) + g12_3(w[m - 1]));
      last_w.insert(last_w.end(), w.begin(), w.end());
    }
    char id[16];
    std::snprintf(id, sizeof id, "%5d", static_cast<int>(s + 1));
    EXPECT_EQ(console[line++], id + g12_3(number(sweep["E(1)"])) + g12_3(number(sweep["E(2)"])) +
                                   g12_3(number(sweep["E(N-1)"])) + g12_3(number(sweep["E(N)"])) +
                                   g12_3(number(sweep["DELTA"])) + g12_3(tol));
  }

  const json& end = d["end"];
  EXPECT_EQ(end["sweeps"], sweeps.size());
  const double last_delta = number(sweeps.back()["DELTA"]);
  EXPECT_EQ(end["converged"], last_delta <= tol);
  EXPECT_EQ(end["settled"], last_delta <= tol);
  check_accuracy(end["accuracy"], number(sweeps.back()["E(1)"]), direct);
  // The final E is the last sweep's W values, reordered.
  const std::vector<double> E = numbers(end["E"]);
  ASSERT_EQ(E.size(), static_cast<std::size_t>(n));
  const auto bits = [](std::vector<double> v) {
    std::vector<std::uint64_t> b;
    for (double x : v) b.push_back(std::isnan(x) ? 0x7ff8000000000000u : std::bit_cast<std::uint64_t>(x));
    std::sort(b.begin(), b.end());
    return b;
  };
  EXPECT_EQ(bits(E), bits(last_w));
  // Rank k pairs the k-th smallest final value with the k-th direct one.
  const json& by_rank = end["by_rank"];
  ASSERT_EQ(by_rank.size(), static_cast<std::size_t>(n));
  std::vector<bool> seen(static_cast<std::size_t>(n));
  double previous = -std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < by_rank.size(); ++k) {
    const json& pair = by_rank[k];
    EXPECT_EQ(pair["rank"], k + 1);
    const std::size_t p = pair["position"].get<std::size_t>() - 1;
    ASSERT_LT(p, seen.size());
    EXPECT_FALSE(seen[p]);
    seen[p] = true;
    const double block = number(pair["block"]);
    EXPECT_TRUE(same_bits(block, E[p]));
    EXPECT_TRUE(same_bits(number(pair["direct"]), direct[k]));
    if (!std::isnan(block)) {
      EXPECT_LE(previous, block);
      previous = block;
    }
  }
}

// With and without the results file: the same bytes everywhere else, and a
// document that says what the console says, to the last bit.
TEST(Results, SameRunWithEveryNumberInTheFile) {
  std::vector<double> stiff = one_two_one_matrix(50);
  for (double& x : stiff) x *= 1e6;
  std::vector<double> with_nan = one_two_one_matrix(6);
  with_nan[2 + 1 * 6] = with_nan[1 + 2 * 6] = nan;
  struct Case {
    const char* name;
    int n;
    std::vector<double> matrix;
    const char* blocks;
    bool by_option;  // --results rather than BLOCKEIG_RESULTS
  };
  const Case cases[] = {
      {"random", 20, random_symmetric_matrix(20, 3), "5\n", true},
      {"NaN, IERR = 1", 6, with_nan, "2\n", false},
      {"101 sweeps", 50, stiff, "25\n", true},
      {"converging", 4, diagonal_matrix({4, 3, 2, 1}), "2\n", false},
      {"signed zeros and a huge value", 4, diagonal_matrix({-0.0, 0.0, 1e300, -5e-324}), "1\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(c.n, c.matrix));
    const ChildResult plain = run_in(dir, c.blocks);
    const std::string plain_eigenvalues = read_file(dir / "C.SCR.TXT");
    const ChildResult with = c.by_option ? run_in(dir, c.blocks, {"--results", "run.json"})
                                         : run_in(dir, c.blocks, {}, {"BLOCKEIG_RESULTS=run.json"});
    EXPECT_EQ(with.out, plain.out);
    EXPECT_EQ(with.err, plain.err);
    EXPECT_EQ(with.status, plain.status);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(read_file(dir / "C.SCR.TXT"), plain_eigenvalues);
    const json d = json::parse(read_file(dir / "run.json"));
    check_document(d, c.n, c.matrix, lines_of(with.out), dir);
  }
}

// A run killed at any instant leaves the last whole document, never a cut
// one: every kill below lands somewhere in a run that rewrites the file 101
// times.
TEST(Results, KilledRunLeavesAWholeDocument) {
  std::vector<double> stiff = one_two_one_matrix(60);
  for (double& x : stiff) x *= 1e6;
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(60, stiff));
  std::mt19937 random(2024);
  int with_sweeps = 0;
  for (int trial = 0; trial < 12; ++trial) {
    const long delay = std::uniform_int_distribution<long>(1000, 400000)(random);
    SCOPED_TRACE("killed after " + std::to_string(delay) + " us");
    std::filesystem::remove(dir / "run.json");
    // An interval timer survives exec: SIGALRM ends the run like a kill,
    // with no handler and no clean-up.
    const ChildResult r = run_in(dir, "30\n", {"--results", "run.json"}, {}, [delay] {
      const itimerval timer{{0, 0}, {delay / 1000000, delay % 1000000}};
      ::setitimer(ITIMER_REAL, &timer, nullptr);
    });
    if (!std::filesystem::exists(dir / "run.json")) continue;  // killed before start-up ended
    const std::string text = read_file(dir / "run.json");
    json d;
    ASSERT_NO_THROW(d = json::parse(text)) << text;
    // A kill that lands after the last document was written, before the
    // process ended, leaves a finished one.
    if (r.status == 0) EXPECT_EQ(d["state"], "finished");
    else EXPECT_TRUE(d["state"] == "running" || d["state"] == "finished") << d["state"];
    if (d.contains("sweeps") && !d["sweeps"].empty()) ++with_sweeps;
  }
  EXPECT_GT(with_sweeps, 3);
}

// The file cannot be made at start-up: the run does not start. A write
// that fails later (the file may grow no more) is warned about, the run
// ends normally and exits with 2; the file keeps its last whole document.
TEST(Results, FailuresToWriteTheFile) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(4, diagonal_matrix({4, 3, 2, 1})));
  std::filesystem::create_directory(dir / "taken");
  const std::pair<const char*, const char*> refused[] = {
      {"missing/run.json", "No such file or directory"},
      {"taken", "it is a directory"},
      {"A.SCR", "it would replace the run's own A.SCR"},
      {"taken/../C.SCR.TXT", "it would replace the run's own C.SCR.TXT"},
  };
  for (const auto& [path, why] : refused) {
    SCOPED_TRACE(path);
    const ChildResult r = run_in(dir, "2\n", {"--results", path});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Traceback: not available, compile with -ftrace=frame or -ftrace=full\n") +
                         "Fortran runtime error: Cannot write results file \"" + path + "\": " + why + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "C.SCR.TXT"));
    EXPECT_EQ(read_file(dir / "A.SCR"), scr_file(4, diagonal_matrix({4, 3, 2, 1})));
  }

  std::vector<double> stiff = one_two_one_matrix(50);
  for (double& x : stiff) x *= 1e6;
  write_file(dir / "A.SCR", scr_file(50, stiff));
  const ChildResult plain = run_in(dir, "25\n");
  const std::string eigenvalues = read_file(dir / "C.SCR.TXT");
  // Files may grow to 6000 bytes: C.SCR.TXT (1200) fits, the document
  // outgrows it after a few sweeps. A refused write comes back as EFBIG.
  const ChildResult full = run_in(dir, "25\n", {"--results", "run.json"}, {}, [] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{6000, 6000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  });
  EXPECT_EQ(full.out, plain.out);
  EXPECT_EQ(read_file(dir / "C.SCR.TXT"), eigenvalues);
  EXPECT_EQ(full.status, 2);
  const json d = json::parse(read_file(dir / "run.json"));
  EXPECT_EQ(d["state"], "running");
  const std::size_t kept = d["sweeps"].size();
  ASSERT_GE(kept, 1u);
  const std::string holds = " (the file holds the run as of sweep " + std::to_string(kept) + ")\n";
  EXPECT_EQ(full.err, "Fortran runtime warning: Cannot write results file \"run.json\" after sweep " +
                          std::to_string(kept + 1) + ": File too large" + holds +
                          "Fortran runtime warning: Cannot write results file \"run.json\" at the end of the run: "
                          "File too large" + holds);
}

// A run that fails leaves what it knew and its report, with the exit
// status, in the file.
TEST(Results, FailingRunKeepsItsReport) {
  struct Case {
    const char* name;
    const char* input;
    bool read_only_eigenvalue_file;
    bool has_direct;
    bool has_blocks;
  };
  const Case cases[] = {
      {"read-only C.SCR.TXT", "2\n", true, true, false},
      {"no block count", "", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(4, diagonal_matrix({4, 3, 2, 1})));
    if (c.read_only_eigenvalue_file) {
      write_file(dir / "C.SCR.TXT", "old\n");
      ::chmod((dir / "C.SCR.TXT").c_str(), 0444);
    }
    const ChildResult r = run_in(dir, c.input, {"--results", "run.json"});
    EXPECT_EQ(r.status, 2);
    const json d = json::parse(read_file(dir / "run.json"));
    EXPECT_EQ(d["state"], "failed");
    EXPECT_EQ(d["failure"]["exit_status"], 2);
    EXPECT_EQ(d["failure"]["report"], r.err);
    EXPECT_EQ(d.contains("direct"), c.has_direct);
    EXPECT_EQ(d.contains("blocks"), c.has_blocks);
    if (c.has_direct) {
      EXPECT_EQ(numbers(d["direct"]["eigenvalues"]), (std::vector<double>{1, 2, 3, 4}));
    }
  }
}

// Memory refused in the middle of a sweep: the allocation report ends the
// run, and the document keeps the finished sweeps, the blocks of the one in
// progress and the report.
TEST(Results, AllocationFailureInASweep) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc: a preloaded one is not called";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind owns malloc: a preloaded one is not called";
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(6, random_symmetric_matrix(6, 5)));
  const auto run_refusing = [&](long ordinal) {
    return run_in(dir, "3\n", {"--results", "run.json"},
                  {std::string("LD_PRELOAD=") + REFUSE_ALLOCATION_LIB, "REFUSE_ALLOCATION=" + std::to_string(ordinal),
                   "BLOCKEIG_THREADS=1"});
  };
  const ChildResult full = run_refusing(0);
  ASSERT_EQ(full.status, 0) << full.err;
  const long made = std::stol(full.err.substr(12));
  // Refuse allocations from the end backwards until one falls inside a
  // sweep after its first block.
  for (long ordinal = made; ordinal > made / 2; --ordinal) {
    const ChildResult r = run_refusing(ordinal);
    if (r.status != 1) continue;
    const json d = json::parse(read_file(dir / "run.json"));
    if (!d.contains("sweep_in_progress")) continue;
    SCOPED_TRACE("allocation " + std::to_string(ordinal) + " refused");
    EXPECT_EQ(d["state"], "failed");
    EXPECT_EQ(d["failure"]["exit_status"], 1);
    EXPECT_EQ(d["failure"]["report"], r.err);
    const json& sweep = d["sweep_in_progress"];
    EXPECT_EQ(sweep["ITER"], d["sweeps"].size() + 1);
    EXPECT_GE(sweep["W"].size(), 1u);
    EXPECT_LE(sweep["W"].size(), 3u);  // all three when reporder2 is refused
    return;
  }
  FAIL() << "no refused allocation fell inside a sweep";
}

}  // namespace
}  // namespace blockeig::testing
