// The direct phase computes eigenvalues only. Run side by side with the
// program as it was, whose direct solve also formed the eigenvectors in C,
// it must leave every byte the same: standard output, standard error,
// C.SCR.TXT and the exit status, on ordinary matrices and on those where the
// QL iteration gives up or meets NaN and infinity.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Outcome {
  ChildResult result;
  std::string eigenvalues;
};

Outcome run(const char* program, const std::string& scr, const std::string& input, const std::string& threads) {
  TempDir dir;
  write_file(dir / "A.SCR", scr);
  ChildOptions options;
  options.directory = dir.path();
  options.input = input;
  options.environment = {"BLOCKEIG_THREADS=" + threads};
  Outcome r;
  r.result = run_child(program, {}, options);
  r.eigenvalues = read_file(dir / "C.SCR.TXT");
  return r;
}

std::vector<double> set(std::vector<double> a, int n, int i, int j, double x) {
  a[static_cast<std::size_t>(i + j * n)] = a[static_cast<std::size_t>(j + i * n)] = x;
  return a;
}

std::vector<double> scaled(std::vector<double> a, double factor) {
  for (double& x : a) x *= factor;
  return a;
}

// Random elements on a spread diagonal: the sweeps settle within a few.
std::vector<double> spread(int n) {
  std::vector<double> a = random_symmetric_matrix(n, 9);
  for (int i = 0; i < n; ++i) a[static_cast<std::size_t>(i + i * n)] += i;
  return a;
}

// Upper triangle unlike the lower one: the direct solve reads only the lower.
std::vector<double> lopsided(int n) {
  std::vector<double> a = random_symmetric_matrix(n, 4);
  for (int j = 1; j < n; ++j)
    for (int i = 0; i < j; ++i) a[static_cast<std::size_t>(i + j * n)] += 3.0;
  return a;
}

TEST(DirectPhase, EigenvaluesOnlyChangeNoByteOfTheRun) {
  struct Case {
    const char* name;
    int n;
    std::vector<double> matrix;
    const char* blocks;
    const char* expected_ierr;  // the direct phase's IERR line
  };
  const Case cases[] = {
      {"random", 40, random_symmetric_matrix(40, 8), "4\n", " diagonalized - direct, IERR:  0"},
      {"order where the pool shares the work", 130, spread(130), "2\n",
       " diagonalized - direct, IERR:  0"},
      {"upper triangle unlike the lower", 12, lopsided(12), "2\n", " diagonalized - direct, IERR:  0"},
      {"order 2", 2, {4.0, 1.0, 1.0, -3.0}, "1\n", " diagonalized - direct, IERR:  0"},
      {"NaN", 12, set(random_symmetric_matrix(12, 1), 12, 7, 3, nan), "3\n", " diagonalized - direct, IERR:  1"},
      {"infinity", 12, set(random_symmetric_matrix(12, 2), 12, 4, 4, -inf), "2\n",
       " diagonalized - direct, IERR:  1"},
      {"no convergence (subnormal elements)", 6, scaled(one_two_one_matrix(6), std::numeric_limits<double>::denorm_min()),
       "2\n", " diagonalized - direct, IERR:  2"},
  };
  for (const Case& c : cases) {
    for (const char* threads : {"1", "2"}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + threads);
      const std::string scr = scr_file(c.n, c.matrix);
      const Outcome before = run(BLOCKEIG_WITH_VECTORS_BIN, scr, c.blocks, threads);
      const Outcome now = run(BLOCKEIG_BIN, scr, c.blocks, threads);
      ASSERT_EQ(before.result.status, 0) << before.result.err;
      EXPECT_NE(before.result.out.find(std::string(c.expected_ierr) + "\n"), std::string::npos) << before.result.out;
      EXPECT_EQ(now.result.out, before.result.out);
      EXPECT_EQ(now.result.err, before.result.err);
      EXPECT_EQ(now.result.status, before.result.status);
      EXPECT_EQ(now.eigenvalues, before.eigenvalues);
    }
  }
}

}  // namespace
}  // namespace blockeig::testing
