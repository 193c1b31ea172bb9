#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "eigen/solver.hpp"
#include "tests/eigen/matrices.hpp"

namespace blockeig {
namespace {

using test::same_bits;
using test::Square;

// Pairs tagged so that every column carries its value: column j of an order-n
// matrix is val(j) in every row, plus the row number, so any mix-up shows.
struct Pairs {
  std::vector<double> val;
  Square vec;

  explicit Pairs(std::vector<double> v) : val(std::move(v)), vec(static_cast<int>(val.size())) {
    for (int c = 1; c <= vec.n; ++c)
      for (int r = 1; r <= vec.n; ++r) vec(r, c) = val[c - 1] * 100 + r;
  }
  // The position whose pair stood at `from` on entry has the column of `from`.
  bool column_is(int position, double value) const {
    for (int r = 1; r <= vec.n; ++r)
      if (vec(r, position) != value * 100 + r) return false;
    return true;
  }
};

struct LeaderCase {
  const char* name;
  std::vector<double> val;
  std::vector<int> bstart;
  std::vector<double> result;
};

TEST(Reporder2, LeadersMoveToTheFront) {
  const LeaderCase cases[] = {
      {"one block: nothing moves", {6, 5, 4}, {1}, {6, 5, 4}},
      {"two blocks of three", {11, 12, 13, 21, 22, 23}, {1, 4}, {11, 21, 12, 13, 22, 23}},
      {"three blocks of two", {11, 12, 21, 22, 31, 32}, {1, 3, 5}, {11, 21, 31, 12, 22, 32}},
      {"bstart(b) = b: that step moves nothing", {11, 21, 31, 32}, {1, 2, 3}, {11, 21, 31, 32}},
      {"blocks of one", {4, 3, 2, 1}, {1, 2, 3, 4}, {4, 3, 2, 1}},
      {"bstart(1) is not read", {11, 12, 21}, {-50, 3}, {11, 21, 12}},
      // Outside the arrays: the block is left alone instead.
      {"leader beyond n is skipped", {11, 12, 21}, {1, 9}, {11, 12, 21}},
      {"leader below 1 is skipped", {11, 12, 21}, {1, 0}, {11, 12, 21}},
  };
  for (const LeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pairs p(c.val);
    reporder2(p.vec.n, p.val.data(), p.vec.data(), static_cast<int>(c.bstart.size()),
              c.bstart.data());
    EXPECT_TRUE(same_bits(p.val, c.result));
    for (int j = 1; j <= p.vec.n; ++j) EXPECT_TRUE(p.column_is(j, c.result[j - 1])) << j;
  }
}

TEST(Reporder2, ThreeBlocksStepByStep) {
  // After b = 2 the order is a1 b1 a2 b2 c1 c2; after b = 3, a1 b1 c1 a2 b2 c2.
  Pairs p({11, 12, 21, 22, 31, 32});
  const int two_blocks[] = {1, 3};
  reporder2(6, p.val.data(), p.vec.data(), 2, two_blocks);
  EXPECT_TRUE(same_bits(p.val, {11, 21, 12, 22, 31, 32}));
}

// An order of 0 or less has no pair: the arrays the caller passes (here
// ones with pairs to spare, and block starts that would reach them) keep
// every bit.
TEST(Reporder2, EmptyOrderDoesNothing) {
  const int starts[] = {1, 3};
  for (const int n : {0, -4}) {
    SCOPED_TRACE(n);
    Pairs p({3, 1, 2});
    const Pairs entry = p;
    reporder2(n, p.val.data(), p.vec.data(), 2, starts);
    EXPECT_TRUE(same_bits(p.val, entry.val));
    EXPECT_TRUE(same_bits(p.vec.a, entry.vec.a));
    reporder(n, p.val.data(), p.vec.data());
    EXPECT_TRUE(same_bits(p.val, entry.val));
    EXPECT_TRUE(same_bits(p.vec.a, entry.vec.a));
  }
}

// Moves and exchanges copy bits: a signalling NaN keeps its payload (a trip
// through the x87 unit would quieten it), -0.0 its sign, a subnormal its value.
TEST(Reorder, MovesAreExactCopies) {
  const double snan = std::bit_cast<double>(std::uint64_t{0x7ff4000000000123});
  const double tiny = std::numeric_limits<double>::denorm_min();
  const std::vector<double> entry_val = {3, snan, -0.0, 1, tiny, 2};
  Square entry(6);
  for (int i = 0; i < 36; ++i) entry.a[i] = i % 3 == 0 ? snan : i % 3 == 1 ? -0.0 : -tiny * i;

  std::vector<double> val = entry_val;
  Square vec = entry;
  const int starts[] = {1, 3, 6};
  reporder2(6, val.data(), vec.data(), 3, starts);
  const int moved_from[] = {1, 3, 6, 2, 4, 5};  // leaders 3 and 6 to positions 2 and 3
  for (int j = 1; j <= 6; ++j) {
    EXPECT_TRUE(same_bits(val[j - 1], entry_val[moved_from[j - 1] - 1])) << j;
    for (int r = 1; r <= 6; ++r) EXPECT_TRUE(same_bits(vec(r, j), entry(r, moved_from[j - 1]))) << r << ", " << j;
  }

  // NaN compares false both ways: the selection never picks it, and while it
  // is the candidate nothing displaces it, so it keeps position 2.
  val = entry_val;
  vec = entry;
  reporder(6, val.data(), vec.data());
  const int sorted_from[] = {3, 2, 5, 4, 6, 1};
  for (int j = 1; j <= 6; ++j) {
    EXPECT_TRUE(same_bits(val[j - 1], entry_val[sorted_from[j - 1] - 1])) << j;
    for (int r = 1; r <= 6; ++r) EXPECT_TRUE(same_bits(vec(r, j), entry(r, sorted_from[j - 1]))) << r << ", " << j;
  }
}

TEST(Reporder, SortsAscendingWithColumns) {
  // 2, 1, 1, 0.5 -> 0.5, 1, 1, 2 with the columns from positions 4, 2, 3, 1.
  Pairs p({2, 1, 1, 0.5});
  const Pairs entry = p;
  reporder(4, p.val.data(), p.vec.data());
  EXPECT_TRUE(same_bits(p.val, {0.5, 1, 1, 2}));
  const int from[] = {4, 2, 3, 1};
  for (int j = 1; j <= 4; ++j)
    for (int r = 1; r <= 4; ++r) EXPECT_TRUE(same_bits(p.vec(r, j), entry.vec(r, from[j - 1])));

  reporder(0, nullptr, nullptr);
}

TEST(Ortog, OrthonormalizesLeftToRight) {
  // (1,1), (1,0) -> (h, h), (h, -h) with h = 1/sqrt(2); the first column is
  // h correctly rounded because r stays in extended precision.
  const double h = 1.0L / std::sqrt(2.0L);
  Square z(2);
  z.a = {1, 1, 1, 0};
  ortog(2, z.data());
  EXPECT_TRUE(same_bits(z.a[0], h));
  EXPECT_TRUE(same_bits(z.a[1], h));
  EXPECT_NEAR(z.a[2], h, 4.5e-16);
  EXPECT_NEAR(z.a[3], -h, 4.5e-16);

  const Square q = test::identity(5);
  Square same = q;
  ortog(5, same.data());
  EXPECT_TRUE(same_bits(same.a, q.a));

  Square r = test::random_symmetric(9, 4);
  ortog(9, r.data());
  EXPECT_LT(test::orthogonality_residual(r), 1e-14);
}

TEST(Ortog, ZeroColumnBecomesNaNAndSpreads) {
  // e1, e1, e2: the second column is exactly zero after its projection,
  // 1/sqrt(0) = inf turns it into NaN, and the third inherits NaN from it.
  Square z(3);
  z(1, 1) = 1;
  z(1, 2) = 1;
  z(2, 3) = 1;
  ortog(3, z.data());
  EXPECT_TRUE(same_bits(std::vector<double>(z.a.begin(), z.a.begin() + 3), {1, 0, 0}));
  for (int i = 3; i < 9; ++i) EXPECT_TRUE(std::isnan(z.a[i])) << i;
}

}  // namespace
}  // namespace blockeig
