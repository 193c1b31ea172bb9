#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

#include "eigen/precision.hpp"
#include "eigen/solver.hpp"
#include "tests/eigen/lapack_peer.hpp"
#include "tests/eigen/matrices.hpp"

namespace blockeig {
namespace {

using test::identity;
using test::same_bits;
using test::Square;
using test::Solved;
using test::tred12;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

Solved solve(const Square& a, int mode = 2, double vec_fill = 0.0) {
  Solved s{std::vector<double>(a.n), Square(a.n, vec_fill)};
  tred12(a.n, a.data(), s.vec.data(), s.val.data(), mode, s.ierr);
  return s;
}

Solved solve_tridiagonal(std::vector<double> d, const std::vector<double>& sub, Square vec) {
  Solved s{std::move(d), std::move(vec)};
  std::vector<double> e{0.0};
  e.insert(e.end(), sub.begin(), sub.end());
  tql12(static_cast<int>(s.val.size()), s.vec.data(), s.val.data(), s.ierr, 2, e.data());
  return s;
}

void expect_same_bits(const Solved& x, const Solved& y) {
  EXPECT_EQ(x.ierr, y.ierr);
  EXPECT_TRUE(same_bits(x.val, y.val));
  EXPECT_TRUE(same_bits(x.vec.a, y.vec.a));
}

// Residual checks every solved matrix has to pass.
void expect_eigenpairs(const Square& a, const Solved& s) {
  ASSERT_EQ(s.ierr, 0);
  EXPECT_TRUE(std::is_sorted(s.val.begin(), s.val.end()));
  const double bound = 1e-13 * a.n * std::max(test::norm1(a), 1.0);
  EXPECT_LT(test::eigen_residual(a, s.vec, s.val), bound);
  EXPECT_LT(test::orthogonality_residual(s.vec), 1e-13 * a.n);
}

// ---- Analytic spectra --------------------------------------------------

struct AnalyticCase {
  const char* name;
  std::function<Square(int)> matrix;
  std::function<std::vector<double>(int)> spectrum;  // any order; sorted here
};

Square one_two_one(int n) {
  return test::tridiagonal(std::vector<double>(n, 2.0), std::vector<double>(n - 1, -1.0));
}
std::vector<double> one_two_one_spectrum(int n) {
  std::vector<double> v;
  for (int k = 1; k <= n; ++k) v.push_back(2.0 - 2.0 * std::cos(k * std::numbers::pi / (n + 1)));
  return v;
}

double diagonal_value(int i) { return (i * 37 % 11) - 5.5 + 0.25 * i; }

Square diagonal(int n) {
  Square a(n);
  for (int i = 1; i <= n; ++i) a(i, i) = diagonal_value(i);
  return a;
}

// The diagonal permuted onto the anti-diagonal, kept symmetric: a(i, n+1-i) =
// a(n+1-i, i) = w(min(i, n+1-i)). Each pair of rows is a 2 x 2 block with
// eigenvalues +-w; the middle row of an odd order keeps w itself.
Square anti_diagonal(int n) {
  Square a(n);
  for (int i = 1; i <= n; ++i) a(i, n + 1 - i) = diagonal_value(std::min(i, n + 1 - i));
  return a;
}
std::vector<double> anti_diagonal_spectrum(int n) {
  std::vector<double> v;
  for (int k = 1; k <= n / 2; ++k) {
    v.push_back(diagonal_value(k));
    v.push_back(-diagonal_value(k));
  }
  if (n % 2 == 1) v.push_back(diagonal_value((n + 1) / 2));
  return v;
}

std::vector<double> diagonal_spectrum(int n) {
  std::vector<double> v;
  for (int i = 1; i <= n; ++i) v.push_back(diagonal_value(i));
  return v;
}

// Clement (Kac) matrix, symmetric form: zero diagonal, off-diagonal
// sqrt(k (n - k)); eigenvalues -(n-1), -(n-3), ..., n-1.
Square clement(int n) {
  std::vector<double> e;
  for (int k = 1; k < n; ++k) e.push_back(std::sqrt(static_cast<double>(k) * (n - k)));
  return test::tridiagonal(std::vector<double>(n, 0.0), e);
}
std::vector<double> clement_spectrum(int n) {
  std::vector<double> v;
  for (int k = 0; k < n; ++k) v.push_back(-(n - 1) + 2.0 * k);
  return v;
}

Square all_ones(int n) { return Square(n, 1.0); }
std::vector<double> all_ones_spectrum(int n) {
  std::vector<double> v(n, 0.0);
  v.back() = n;
  return v;
}

TEST(Tred12Analytic, KnownSpectra) {
  const AnalyticCase cases[] = {
      {"1-2-1 tridiagonal", one_two_one, one_two_one_spectrum},
      {"diagonal", diagonal, diagonal_spectrum},
      {"permuted (anti-)diagonal", anti_diagonal, anti_diagonal_spectrum},
      {"Clement (Kac)", clement, clement_spectrum},
      {"all ones", all_ones, all_ones_spectrum},
  };
  for (const AnalyticCase& c : cases) {
    for (const int n : {1, 2, 3, 4, 7, 20, 61}) {
      SCOPED_TRACE(testing::Message() << c.name << ", n = " << n);
      const Square a = c.matrix(n);
      const Solved s = solve(a);
      expect_eigenpairs(a, s);
      std::vector<double> want = c.spectrum(n);
      std::sort(want.begin(), want.end());
      // A few units of eps times the norm; the Clement elements are themselves
      // rounded square roots, which accounts for most of it.
      const double tol = 16 * ql_precision() * std::max(test::norm1(a), 1.0);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(s.val[i], want[i], tol) << "i = " << i;
    }
  }
}

TEST(Tred12Analytic, DiagonalIsExactWithAPermutationMatrix) {
  const Square a = diagonal(9);
  const Solved s = solve(a);
  ASSERT_EQ(s.ierr, 0);
  for (int j = 1; j <= 9; ++j) {
    int ones = 0;
    for (int r = 1; r <= 9; ++r) {
      const double z = s.vec(r, j);
      EXPECT_TRUE(z == 0.0 || z == 1.0);
      if (z == 1.0) {
        ++ones;
        EXPECT_TRUE(same_bits(s.val[j - 1], a(r, r)));
      }
    }
    EXPECT_EQ(ones, 1);
  }
}

// ---- What tql12 receives ----------------------------------------------

TEST(Tred12Handover, SmallOrdersAndTridiagonalRows) {
  // n = 1: val = a, vec = 1.
  Square one(1, -3.25);
  const Solved s1 = solve(one, 2, nan);
  EXPECT_EQ(s1.ierr, 0);
  EXPECT_TRUE(same_bits(s1.val, {-3.25}));
  EXPECT_TRUE(same_bits(s1.vec.a, {1.0}));

  // n = 2: no reflection; tql12 gets the diagonal, a(2,1), the identity.
  Square two(2);
  two(1, 1) = 0.3;
  two(2, 2) = -1.7;
  two(2, 1) = two(1, 2) = 0.9;
  expect_same_bits(solve(two), solve_tridiagonal({0.3, -1.7}, {0.9}, identity(2)));

  // Order 4 tridiagonal: each reflection only flips signs.
  const Square four = test::tridiagonal({2, 2, 2, 2}, {1, 1, 1});
  Square flips(4);
  for (int i = 1; i <= 4; ++i) flips(i, i) = (i == 2 || i == 3) ? -1.0 : 1.0;
  expect_same_bits(solve(four), solve_tridiagonal({2, 2, 2, 2}, {-1, 1, -1}, flips));
}

// Row 3 = (1, z, 2) with a zero leading 2 x 2 block: the reflection's sign
// comes from the sign bit of z alone. z = -0.0 gives g = +1, so tql12 gets
// e(3) = +1 and the accumulated matrix swaps rows 1 and 2; z = +0.0 gives
// g = -1, e(3) = -1 and the same swap with both signs flipped.
TEST(Tred12Handover, SignedZeroDecidesTheReflection) {
  struct Case {
    const char* name;
    double z32;
    double e3;
    double swap;  // value of vec(1,2) and vec(2,1)
  };
  const Case cases[] = {
      {"-0.0 beside the diagonal", -0.0, 1.0, 1.0},
      {"+0.0 beside the diagonal", 0.0, -1.0, -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Square a(3);
    a(3, 1) = a(1, 3) = 1.0;
    a(3, 2) = a(2, 3) = c.z32;
    a(3, 3) = 2.0;
    Square handed(3);
    handed(1, 2) = handed(2, 1) = c.swap;
    handed(3, 3) = 1.0;
    expect_same_bits(solve(a), solve_tridiagonal({0.0, 0.0, 2.0}, {0.0, c.e3}, handed));
  }
}

TEST(Tred12QuickReturn, OrdersBelowOneTouchNothing) {
  for (const int n : {0, -1}) {
    int ierr = 7;
    tred12(n, nullptr, nullptr, nullptr, 2, ierr);
    EXPECT_EQ(ierr, 0);
  }
}

// ---- Modes and the input matrix ---------------------------------------

TEST(Tred12Mode, ValuesOnlyModesGiveIdenticalEigenvalues) {
  const Square a = test::random_symmetric(13, 3);
  const Solved full = solve(a, 2);
  expect_eigenpairs(a, full);
  for (const int mode : {1, 0, 3, -1}) {
    Square vec(a.n);
    if (mode < 0) vec = a;
    std::vector<double> val(a.n);
    int ierr = -1;
    tred12(a.n, mode < 0 ? nullptr : a.data(), vec.data(), val.data(), mode, ierr);
    EXPECT_EQ(ierr, 0);
    EXPECT_TRUE(same_bits(val, full.val)) << "mode " << mode;
  }
}

TEST(Tred12Mode, MatrixInVecEqualsMatrixInA) {
  const Square a = test::random_symmetric(11, 5);
  // mode -2: lower triangle in vec, a never read (null), upper of vec garbage.
  Solved from_vec{std::vector<double>(a.n), Square(a.n, nan)};
  for (int c = 1; c <= a.n; ++c)
    for (int r = c; r <= a.n; ++r) from_vec.vec(r, c) = a(r, c);
  tred12(a.n, nullptr, from_vec.vec.data(), from_vec.val.data(), -2, from_vec.ierr);
  expect_same_bits(from_vec, solve(a, 2));
}

TEST(Tred12Input, UpperTriangleIsNeverReadAndAIsNeverWritten) {
  const Square a = test::random_symmetric(12, 7);
  Square lower_only = a;
  for (int c = 2; c <= a.n; ++c)
    for (int r = 1; r < c; ++r) lower_only(r, c) = nan;
  const Square before = lower_only;
  // vec's old content does not matter either.
  const Solved s = solve(lower_only, 2, nan);
  expect_same_bits(s, solve(a, 2, 0.0));
  EXPECT_EQ(std::memcmp(before.data(), lower_only.data(), before.a.size() * sizeof(double)), 0);
}

TEST(Tred12Scale, TinyMatricesAreSeenByTheirTridiagonalPart) {
  // Every row sum of a 1e-12-scale order-5 matrix stays below the absolute
  // cut-off 1e-10, so no row is reduced and only the tridiagonal part counts.
  const Square unit = test::random_symmetric(5, 11);
  Square tiny(5);
  Square tiny_tri(5);
  for (int c = 1; c <= 5; ++c)
    for (int r = 1; r <= 5; ++r) {
      tiny(r, c) = unit(r, c) * 1e-12;
      if (std::abs(r - c) <= 1) tiny_tri(r, c) = tiny(r, c);
    }
  expect_same_bits(solve(tiny), solve(tiny_tri));
  EXPECT_GT(test::eigen_residual(tiny, solve(tiny).vec, solve(tiny).val), 1e-3 * test::norm1(tiny));

  // The same matrix at ordinary scale is reduced normally.
  Square big(5);
  for (int i = 0; i < 25; ++i) big.a[i] = tiny.a[i] * 1e12;
  expect_eigenpairs(big, solve(big));
}

// Work obtained ahead, for a larger order and used twice: the same bits as
// work obtained for the order itself, also where the QL iteration gives up.
TEST(Tred12Work, WorkObtainedAheadGivesTheSameBits) {
  Square failing = test::random_symmetric(9, 2);
  failing(5, 4) = failing(4, 5) = nan;
  Tred12Work work;
  ASSERT_TRUE(work.obtain(20));
  for (const Square& a : {test::random_symmetric(17, 4), failing}) {
    const Solved own = solve(a);
    Solved ahead{std::vector<double>(a.n), Square(a.n)};
    tred12(a.n, a.data(), ahead.vec.data(), ahead.val.data(), 2, ahead.ierr, work);
    expect_same_bits(ahead, own);
  }
}

// ---- NaN and infinity --------------------------------------------------

// The arrays sit inside guard zones that must come back untouched.
TEST(Tred12NonFinite, EndsWithoutTouchingAnythingOutsideTheArrays) {
  constexpr int n = 6;
  constexpr int guard = 64;
  constexpr double sentinel = 0x1.5555555555555p+700;
  struct Poison {
    const char* name;
    std::function<void(Square&)> apply;
  };
  const Poison poisons[] = {
      {"NaN on the diagonal", [](Square& a) { a(4, 4) = nan; }},
      {"NaN off the diagonal", [](Square& a) { a(5, 2) = nan; }},
      {"NaN in the last row's sub-diagonal", [](Square& a) { a(6, 5) = nan; }},
      {"NaN in the first column", [](Square& a) { a(2, 1) = nan; }},
      {"infinity", [](Square& a) { a(3, 1) = inf; }},
      {"infinities of both signs", [](Square& a) { a(6, 6) = inf, a(2, 2) = -inf; }},
      {"all NaN", [](Square& a) { std::fill(a.a.begin(), a.a.end(), nan); }},
      {"overflowing finite", [](Square& a) { std::fill(a.a.begin(), a.a.end(), 1e308); }},
  };
  for (const Poison& p : poisons) {
    for (const int mode : {2, 1}) {
      SCOPED_TRACE(testing::Message() << p.name << ", mode " << mode);
      Square a = test::random_symmetric(n, 2);
      p.apply(a);
      std::vector<double> vec(n * n + 2 * guard, sentinel);
      std::vector<double> val(n + 2 * guard, sentinel);
      int ierr = -99;
      tred12(n, a.data(), vec.data() + guard, val.data() + guard, mode, ierr);
      EXPECT_GE(ierr, 0);
      EXPECT_LE(ierr, n);
      for (int i = 0; i < guard; ++i) {
        EXPECT_TRUE(same_bits(vec[i], sentinel) && same_bits(vec[guard + n * n + i], sentinel));
        EXPECT_TRUE(same_bits(val[i], sentinel) && same_bits(val[guard + n + i], sentinel));
      }
    }
  }
}

// ---- An outside judge --------------------------------------------------

#ifdef BLOCKEIG_HAVE_LAPACK
std::vector<double> dsyev_values(Square a) {
  const int n = a.n;
  std::vector<double> w(n);
  int lwork = -1, info = 0;
  double query = 0;
  dsyev_("N", "L", &n, a.data(), &n, w.data(), &query, &lwork, &info);
  lwork = static_cast<int>(query);
  std::vector<double> work(std::max(lwork, 1));
  dsyev_("N", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info);
  EXPECT_EQ(info, 0);
  return w;
}

TEST(Tred12Lapack, EigenvaluesAgreeWithDsyev) {
  for (const int n : {1, 2, 3, 5, 17, 64, 200}) {
    SCOPED_TRACE(testing::Message() << "n = " << n);
    const Square a = test::random_symmetric(n, 1000 + n);
    const Solved s = solve(a);
    expect_eigenpairs(a, s);
    const std::vector<double> w = dsyev_values(a);
    const double norm = test::norm1(a);
    for (int i = 0; i < n; ++i) EXPECT_LE(std::fabs(s.val[i] - w[i]), 1e-12 * norm) << i;
  }
}
#endif

}  // namespace
}  // namespace blockeig
