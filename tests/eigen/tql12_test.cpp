#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "eigen/precision.hpp"
#include "eigen/solver.hpp"
#include "tests/eigen/matrices.hpp"

namespace blockeig {
namespace {

using test::identity;
using test::same_bits;
using test::Square;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Runs tql12 with vec = identity and mode 2; offdiag(1) is a NaN that must be
// ignored.
struct QlRun {
  std::vector<double> val;
  Square vec;
  int ierr = -99;

  QlRun(std::vector<double> d, const std::vector<double>& sub, int mode = 2)
      : val(std::move(d)), vec(identity(static_cast<int>(val.size()))) {
    std::vector<double> e{nan};
    e.insert(e.end(), sub.begin(), sub.end());
    tql12(static_cast<int>(val.size()), vec.data(), val.data(), ierr, mode, e.data());
  }
};

TEST(Tql12Precision, IsTwoToTheMinus52) {
  EXPECT_TRUE(same_bits(ql_precision(), std::ldexp(1.0, -52)));
  EXPECT_EQ(ql_precision(), 2.220446049250313e-16);
}

TEST(Tql12QuickReturn, OrderOneAndBelow) {
  QlRun one({7.5}, {});
  EXPECT_EQ(one.ierr, 0);
  EXPECT_TRUE(same_bits(one.val, {7.5}));
  EXPECT_EQ(one.vec(1, 1), 1.0);

  for (const int n : {0, -3}) {
    int ierr = 5;
    tql12(n, nullptr, nullptr, ierr, 2, nullptr);
    EXPECT_EQ(ierr, 0) << n;
  }
}

// Diagonal input: no iteration, the sort alone decides, columns follow.
struct SortCase {
  const char* name;
  std::vector<double> d;
  std::vector<double> sorted;
  std::vector<int> unit_row;  // row of the 1 in each result column
};

TEST(Tql12Sort, DiagonalInputIsSortedWithItsColumns) {
  const SortCase cases[] = {
      {"3,1,2: exchanges 1<->2 then 2<->3", {3, 1, 2}, {1, 2, 3}, {2, 3, 1}},
      {"2,1,1: the first of equal minima is taken", {2, 1, 1}, {1, 1, 2}, {2, 3, 1}},
      {"already ascending", {-1, 0, 4}, {-1, 0, 4}, {1, 2, 3}},
      {"all equal: nothing moves", {5, 5, 5, 5}, {5, 5, 5, 5}, {1, 2, 3, 4}},
  };
  for (const SortCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int n = static_cast<int>(c.d.size());
    QlRun run(c.d, std::vector<double>(n - 1, 0.0));
    EXPECT_EQ(run.ierr, 0);
    EXPECT_TRUE(same_bits(run.val, c.sorted));
    for (int j = 1; j <= n; ++j)
      for (int r = 1; r <= n; ++r) EXPECT_EQ(run.vec(r, j), r == c.unit_row[j - 1] ? 1.0 : 0.0);
  }
}

TEST(Tql12Shift, NegativeZeroPTakesTheNegativeRoot) {
  // d(1) = d(2) and e < 0 make p = -0.0: SIGN(r, p) = -r, so the shift is
  // d(1) - (-e/r) = 0 and one rotation by 45 degrees finishes. Taking +r
  // instead shifts by 2 and ends with val = 2^-52, 2 and other signs.
  QlRun neg({1.0, 1.0}, {-1.0});
  EXPECT_EQ(neg.ierr, 0);
  EXPECT_TRUE(same_bits(neg.val, {0.0, 0x1.fffffffffffffp+0}));
  const double c = 0x1.6a09e667f3bccp-1;  // 1 / sqrt(2) rounded to double, in extended, rounded
  EXPECT_TRUE(same_bits(neg.vec.a, {c, c, -c, c}));
}

TEST(Tql12Mode, ValuesOnlyGiveTheSameBitsAndNeverTouchVec) {
  const std::vector<double> d{4.0, -1.5, 2.25, 0.125, 3.0, -2.0, 1.0};
  const std::vector<double> e{0.5, -1.25, 2.0, 0.75, -0.5, 1.5};
  QlRun with_vectors(d, e, 2);
  ASSERT_EQ(with_vectors.ierr, 0);
  for (const int mode : {1, 0, 3, -2}) {
    std::vector<double> val = d;
    std::vector<double> off{0.0};
    off.insert(off.end(), e.begin(), e.end());
    int ierr = -1;
    tql12(static_cast<int>(d.size()), nullptr, val.data(), ierr, mode, off.data());
    EXPECT_EQ(ierr, 0);
    EXPECT_TRUE(same_bits(val, with_vectors.val)) << "mode " << mode;
  }
}

TEST(Tql12Residual, TridiagonalEigenpairs) {
  const std::vector<double> d{4.0, -1.5, 2.25, 0.125, 3.0, -2.0, 1.0};
  const std::vector<double> e{0.5, -1.25, 2.0, 0.75, -0.5, 1.5};
  QlRun run(d, e);
  ASSERT_EQ(run.ierr, 0);
  const Square t = test::tridiagonal(d, e);
  EXPECT_TRUE(std::is_sorted(run.val.begin(), run.val.end()));
  EXPECT_LT(test::eigen_residual(t, run.vec, run.val), 1e-13 * 7 * test::norm1(t));
  EXPECT_LT(test::orthogonality_residual(run.vec), 1e-13 * 7);
}

// NaN and infinity: the call ends, at the latest after 30 iterations on one
// position, and names the position that did not converge (0 when the
// tolerance itself became infinite).
struct FailureCase {
  const char* name;
  std::vector<double> d;
  std::vector<double> e;
  int ierr;
  std::vector<double> final_values;  // val(1..ierr-1), exact
};

TEST(Tql12Failure, NonConvergenceStopsWithThePosition) {
  const FailureCase cases[] = {
      {"NaN on the diagonal", {nan, 1.0, 2.0}, {1.0, 1.0}, 1, {}},
      {"NaN after a decoupled first pair", {1.0, nan, 2.0}, {0.0, 1.0}, 2, {1.0}},
      {"NaN off the diagonal", {1.0, 2.0, 3.0}, {nan, 1.0}, 1, {}},
      // An infinite element makes the tolerance infinite: everything passes.
      {"infinite diagonal", {inf, 1.0, 2.0}, {1.0, 1.0}, 0, {}},
      {"infinite off-diagonal", {1.0, 2.0, 3.0}, {1.0, -inf}, 2, {}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    QlRun run(c.d, c.e);
    EXPECT_EQ(run.ierr, c.ierr);
    for (std::size_t i = 0; i < c.final_values.size(); ++i)
      EXPECT_TRUE(same_bits(run.val[i], c.final_values[i]));
  }
}

}  // namespace
}  // namespace blockeig
