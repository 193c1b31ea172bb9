// Matrices holding NaN, infinities, values that overflow and subnormal
// values: every run ends normally and quickly. A NaN or infinity that the
// direct solve reads makes its values NaN (the QL iteration gives up with
// IERR = 1); one that only the block phase reads (the upper triangle) leaves
// the direct results alone. Either way the block values turn NaN, DELTA is
// NaN, and the sweeps end after the first.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr int n = 6;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The 1-2-1 matrix of order 6 with (i, j) set to x, and (j, i) too when
// `both` (zero-based indices).
std::vector<double> with(int i, int j, double x, bool both) {
  std::vector<double> a = one_two_one_matrix(n);
  a[static_cast<std::size_t>(i + j * n)] = x;
  if (both) a[static_cast<std::size_t>(j + i * n)] = x;
  return a;
}

std::vector<double> scaled(double factor) {
  std::vector<double> a = one_two_one_matrix(n);
  for (double& x : a) x *= factor;
  return a;
}

struct Outcome {
  ChildResult result;
  std::vector<std::string> console;
  std::vector<std::string> eigenvalues;
};

Outcome run_on(const std::vector<double>& a, int size = n, const std::string& blocks = "2\n") {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(size, a));
  ChildOptions options;
  options.directory = dir.path();
  options.input = blocks;
  options.timeout_seconds = 60;
  Outcome run;
  run.result = run_child(BLOCKEIG_BIN, {}, options);
  run.console = lines_of(run.result.out);
  run.eigenvalues = lines_of(read_file(dir / "C.SCR.TXT"));
  return run;
}

TEST(NonFinite, NaNAndInfinityEndTheSweepsWithoutHarm) {
  struct Case {
    const char* name;
    std::vector<double> matrix;
    bool direct_reads_it;  // the lower triangle or the diagonal holds it
  };
  const Case cases[] = {
      {"NaN in both triangles", with(2, 1, nan, true), true},
      {"NaN on the diagonal", with(3, 3, nan, false), true},
      {"NaN in the upper triangle only", with(1, 2, nan, false), false},
      {"+Inf on the diagonal", with(0, 0, inf, false), true},
      {"-Inf in both triangles", with(5, 4, -inf, true), true},
      {"+Inf in the upper triangle only", with(0, 5, inf, false), false},
      {"every element NaN", std::vector<double>(n * n, nan), true},
      {"elements that overflow (1e308 scale)", scaled(1e308), true},
  };
  const Outcome clean = run_on(one_two_one_matrix(n));
  ASSERT_EQ(clean.result.status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome r = run_on(c.matrix);
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.err, "");
    // 6 lines of the direct phase, the prompt, the table (heading and 2
    // rows), 2 block lines and a single sweep line.
    ASSERT_EQ(r.console.size(), 13u) << r.result.out;
    const std::string& sweep = r.console.back();
    ASSERT_EQ(sweep.size(), 77u);
    EXPECT_EQ(sweep.substr(0, 5), "    1");
    EXPECT_EQ(sweep.substr(53), "         NaN   0.100E-05");
    ASSERT_EQ(r.eigenvalues.size(), static_cast<std::size_t>(n));
    if (c.direct_reads_it) {
      EXPECT_EQ(r.console[3], " diagonalized - direct, IERR:  1");
      EXPECT_EQ(r.console[4], "         NaN         NaN         NaN         NaN");
      for (const std::string& line : r.eigenvalues) EXPECT_EQ(line.substr(12), "         NaN");
    } else {
      EXPECT_EQ(r.console[3], clean.console[3]);
      EXPECT_EQ(r.console[4], clean.console[4]);
      EXPECT_EQ(r.eigenvalues, clean.eigenvalues);
    }
  }
}

// Subnormal elements: finite values throughout (the QL iteration may give
// up, which the IERR line shows), a normal end within the sweep limit.
TEST(NonFinite, SubnormalMatrixEndsNormally) {
  const Outcome r = run_on(scaled(std::numeric_limits<double>::denorm_min()));
  EXPECT_EQ(r.result.status, 0);
  EXPECT_EQ(r.result.err, "");
  EXPECT_EQ(r.result.out.find("NaN"), std::string::npos);
  EXPECT_EQ(r.result.out.find("Inf"), std::string::npos);
  ASSERT_EQ(r.eigenvalues.size(), static_cast<std::size_t>(n));
  ASSERT_FALSE(r.console.empty());
  EXPECT_EQ(r.console.back().size(), 77u);
}

// A larger matrix with one NaN: no search or sweep runs away.
TEST(NonFinite, LargerMatrixWithOneNaNEndsAfterOneSweep) {
  const int size = 60;
  std::vector<double> a = one_two_one_matrix(size);
  a[static_cast<std::size_t>(30 + 29 * size)] = nan;
  const Outcome r = run_on(a, size, "5\n");
  EXPECT_EQ(r.result.status, 0);
  EXPECT_EQ(r.result.err, "");
  ASSERT_EQ(r.console.size(), 6u + 1u + 1u + 5u + 5u + 1u);
  EXPECT_EQ(r.console.back().substr(53), "         NaN   0.100E-05");
}

}  // namespace
}  // namespace blockeig::testing
