// The library's sort of eigenpairs and orthonormalization, held to judges
// of their own: a sort of the positions by value (std::sort) that the
// columns then follow, and the two properties that fix the Q of a QR
// factorization (Q'Q = I, and Q'A upper triangular with a positive
// diagonal), measured in long double.
#include <fenv.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "blockeig/blockeig.hpp"

namespace blockeig::testing {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::vector<double> uniform(std::size_t count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> x(count);
  for (double& v : x) v = u(random);
  return x;
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// values and their columns after the judge's sort: positions ordered by
// value (the values distinct), each column following its value.
void expect_sorted_as_the_judge_sorts(const std::vector<double>& values, const std::vector<double>& vectors) {
  const std::size_t n = values.size();
  std::vector<std::size_t> from(n);
  std::iota(from.begin(), from.end(), 0);
  std::sort(from.begin(), from.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  std::vector<double> v = values, z = vectors;
  sort_eigenpairs(v, z);
  for (std::size_t j = 0; j < n; ++j) {
    EXPECT_TRUE(same_bits(v[j], values[from[j]])) << j;
    for (std::size_t r = 0; r < n; ++r) EXPECT_TRUE(same_bits(z[r + j * n], vectors[r + from[j] * n])) << r << ", " << j;
  }
}

TEST(SortEigenpairs, SortsAsAnIndependentSortWithTheColumnsFollowing) {
  for (const std::size_t n : {1u, 2u, 3u, 8u, 41u}) {
    SCOPED_TRACE(n);
    expect_sorted_as_the_judge_sorts(uniform(n, 7 + n), uniform(n * n, 11 + n));
  }
  // Already sorted, reversed, and values of both signs and of every size.
  expect_sorted_as_the_judge_sorts({-3, -1, 0.5, 2}, uniform(16, 1));
  expect_sorted_as_the_judge_sorts({4, 3, 2, 1, 0}, uniform(25, 2));
  expect_sorted_as_the_judge_sorts({1e300, -1e-300, 0x1p-1074, 1e-20, -1e300}, uniform(25, 3));
}

TEST(SortEigenpairs, EqualValuesTakeTheFirstOneFirst) {
  // 2, 1, 1, 0.5: 0.5, 1, 1, 2 with the columns from positions 4, 2, 3, 1.
  std::vector<double> values = {2, 1, 1, 0.5};
  const std::vector<double> entry = uniform(16, 5);
  std::vector<double> vectors = entry;
  sort_eigenpairs(values, vectors);
  EXPECT_EQ(values, (std::vector<double>{0.5, 1, 1, 2}));
  const int from[] = {3, 1, 2, 0};
  for (int j = 0; j < 4; ++j)
    for (int r = 0; r < 4; ++r) EXPECT_TRUE(same_bits(vectors[r + 4 * j], entry[r + 4 * from[j]]));
}

// A caller that traps invalid operations gets its values sorted, NaN and
// all, and its trap back.
TEST(SortEigenpairs, KeepsTheCallersTrapsAndRefusesWhatDoesNotFit) {
  std::vector<double> values = {3, nan, 1}, vectors(9, 0.0);
  feenableexcept(FE_INVALID);
  sort_eigenpairs(values, vectors);
  const int traps = fegetexcept();
  fedisableexcept(FE_INVALID);
  EXPECT_EQ(traps, FE_INVALID);
  EXPECT_EQ(values[0], 1);

  std::vector<double> short_vectors(8);
  try {
    sort_eigenpairs(values, short_vectors);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), Errc::bad_matrix);
    EXPECT_STREQ(e.what(), "blockeig: vectors holds 8 doubles, not n * n = 9 for n = 3");
  }
}

// The worst |(Q'Q - I)(i, j)|, the worst |(Q'A)(i, j)| below the diagonal
// over the length of column j of A, and the smallest diagonal element of
// Q'A over that length.
struct QrMeasure {
  long double orthogonality = 0, lower = 0, smallest_diagonal = INFINITY;
};

QrMeasure measure(const std::vector<double>& a, const std::vector<double>& q, int n) {
  QrMeasure m;
  for (int j = 0; j < n; ++j) {
    long double length = 0;
    for (int k = 0; k < n; ++k) length += static_cast<long double>(a[k + j * n]) * a[k + j * n];
    length = std::sqrt(length);
    for (int i = 0; i < n; ++i) {
      long double qq = i == j ? -1.0L : 0.0L, qa = 0;
      for (int k = 0; k < n; ++k) {
        qq += static_cast<long double>(q[k + i * n]) * q[k + j * n];
        qa += static_cast<long double>(q[k + i * n]) * a[k + j * n];
      }
      m.orthogonality = std::max(m.orthogonality, std::fabs(qq));
      if (i > j) m.lower = std::max(m.lower, std::fabs(qa) / length);
      if (i == j) m.smallest_diagonal = std::min(m.smallest_diagonal, qa / length);
    }
  }
  return m;
}

TEST(Orthonormalize, GivesTheQOfTheQrFactorization) {
  struct Case {
    const char* name;
    int n;
    std::vector<double> a;
  };
  std::vector<Case> cases = {
      {"order 1", 1, {-4}},
      {"order 2", 2, {1, 1, 1, 0}},
      {"random, order 5", 5, uniform(25, 21)},
      {"random, order 60", 60, uniform(3600, 22)},
  };
  // Columns of every size from 1e-150 to 1e150, and columns close to each
  // other (every column the first plus a tenth of its own: Gram-Schmidt
  // loses orthogonality in proportion to the condition number, which this
  // keeps small).
  Case graded{"graded columns", 12, uniform(144, 23)};
  for (int j = 0; j < 12; ++j)
    for (int r = 0; r < 12; ++r) graded.a[r + 12 * j] *= std::pow(10.0, 25 * j - 150);
  Case close{"close columns", 10, uniform(100, 24)};
  for (int j = 1; j < 10; ++j)
    for (int r = 0; r < 10; ++r) close.a[r + 10 * j] = close.a[r] + 0.1 * close.a[r + 10 * j];
  cases.push_back(graded);
  cases.push_back(close);

  const long double eps = std::numeric_limits<double>::epsilon();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> q = c.a;
    orthonormalize(q, c.n);
    const QrMeasure m = measure(c.a, q, c.n);
    EXPECT_LT(m.orthogonality, 8 * c.n * eps) << m.orthogonality / eps << " eps";
    EXPECT_GT(m.smallest_diagonal, 0.0L);
    EXPECT_LT(m.lower, 8 * c.n * eps) << m.lower / eps << " eps";
  }
}

TEST(Orthonormalize, AZeroColumnTurnsItAndTheRestToNaN) {
  // e1, e1, e2: the second column is zero after its projection.
  std::vector<double> a = {1, 0, 0, 1, 0, 0, 0, 1, 0};
  orthonormalize(a, 3);
  EXPECT_EQ(std::vector<double>(a.begin(), a.begin() + 3), (std::vector<double>{1, 0, 0}));
  for (std::size_t k = 3; k < a.size(); ++k) EXPECT_TRUE(std::isnan(a[k])) << k;

  struct Bad {
    std::int64_t n;
    std::size_t doubles;
    Errc code;
  };
  for (const Bad& bad : {Bad{-1, 0, Errc::bad_order}, Bad{std::int64_t{1} << 31, 0, Errc::bad_order},
                         Bad{3, 8, Errc::bad_matrix}, Bad{2, 9, Errc::bad_matrix}}) {
    std::vector<double> m(bad.doubles);
    try {
      orthonormalize(m, bad.n);
      ADD_FAILURE() << "no error for n = " << bad.n;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), bad.code) << e.what();
    }
  }
}

}  // namespace
}  // namespace blockeig::testing
