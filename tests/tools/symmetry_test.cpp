#include "tools/symmetry.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace scrtool {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

Matrix of(std::int32_t n, std::vector<double> column_major) {
  Matrix m(n);
  m.a = std::move(column_major);
  return m;
}

TEST(Symmetry, FindsTheLargestDifference) {
  struct Case {
    const char* name;
    Matrix m;
    std::int64_t differing;
    double largest;
    std::int32_t i, j;
  };
  const Case cases[] = {
      {"symmetric", of(2, {1, 2, 2, 3}), 0, 0, 0, 0},
      // A zero's sign is a difference of bits, and the phases see it.
      {"signed zero", of(2, {1, -0.0, 0.0, 3}), 1, 0, 2, 1},
      {"largest wins", of(3, {1, 2, 3, 2.5, 4, 0, 3, 7, 0}), 2, 7, 3, 2},
      {"beyond the double range", of(2, {0, 1e308, -1e308, 0}), 1, std::numeric_limits<double>::infinity(), 2, 1},
      {"NaN against a number ranks first", of(3, {0, 5, nan, 0, 0, 0, 1, 0, 0}), 2, nan, 3, 1},
      {"NaN against the same NaN is equal", of(2, {0, nan, nan, 0}), 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Asymmetry a = find_asymmetry(c.m);
    EXPECT_EQ(a.pairs, c.m.n * (c.m.n - 1) / 2);
    EXPECT_EQ(a.differing, c.differing);
    EXPECT_EQ(a.symmetric(), c.differing == 0);
    if (std::isnan(c.largest))
      EXPECT_TRUE(std::isnan(a.largest));
    else
      EXPECT_EQ(std::bit_cast<std::uint64_t>(a.largest), std::bit_cast<std::uint64_t>(c.largest));
    EXPECT_EQ(a.i, c.i);
    EXPECT_EQ(a.j, c.j);
    if (c.differing > 0) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(a.lower), std::bit_cast<std::uint64_t>(c.m(c.i, c.j)));
      EXPECT_EQ(std::bit_cast<std::uint64_t>(a.upper), std::bit_cast<std::uint64_t>(c.m(c.j, c.i)));
    }
  }
}

TEST(Symmetry, SymmetrizeKeepsTheChosenElements) {
  // Lower triangle 4, 7, 8; upper 2, 3, 6.
  const Matrix m = of(3, {1, 4, 7, 2, 5, 8, 3, 6, 9});
  const std::pair<Symmetrize, std::vector<double>> cases[] = {
      {Symmetrize::lower, {1, 4, 7, 4, 5, 8, 7, 8, 9}},
      {Symmetrize::upper, {1, 2, 3, 2, 5, 6, 3, 6, 9}},
      {Symmetrize::average, {1, 3, 5, 3, 5, 7, 5, 7, 9}},
  };
  for (const auto& [rule, expected] : cases) {
    Matrix s = m;
    symmetrize(s, rule);
    EXPECT_EQ(s.a, expected);
    EXPECT_TRUE(find_asymmetry(s).symmetric());
  }
}

// The average is rounded once: rounding the sum to the extended type first
// would land on a tie between two doubles and round it the wrong way.
TEST(Symmetry, MidpointRoundsOnce) {
  struct Case {
    double x, y, expected;
  };
  const Case cases[] = {
      {1, 3, 2},
      {0x1.8p+1023, 0x1.cp+1023, 0x1.ap+1023},  // the sum exceeds the double range
      {0x1p-1074, 0, 0},            // a tie between 0 and the least subnormal: to even
      {0x1p-1074, 0x1p-1073, 0x1p-1073},
      {2, 0x1.0000000000001p-52, 1 + 0x1p-52},             // just above a tie: up
      {0x1.0000000000001p+1, 0x1.fffffffffffffp-53, 1 + 0x1p-52},  // just below a tie: down
      {-2, -0x1.0000000000001p-52, -1 - 0x1p-52},
      {std::numeric_limits<double>::infinity(), 1, std::numeric_limits<double>::infinity()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hexfloat << c.x << " " << c.y);
    EXPECT_EQ(midpoint(c.x, c.y), c.expected);
    EXPECT_EQ(midpoint(c.y, c.x), c.expected);
  }
  EXPECT_TRUE(std::isnan(midpoint(std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity())));
}

}  // namespace
}  // namespace scrtool
