#include "eigen/block_products.hpp"

#include <gtest/gtest.h>

#include <fpu_control.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "arithmetic/extended.hpp"
#include "runtime/thread_pool.hpp"
#include "support/x87_unit.hpp"

namespace blockeig {
namespace {

ext widen(double v) { return widened_in_memory(v); }

// The straightforward loops that define the products: one ext sum per
// element, from zero, ascending k, rounded once on store.
void reference_times(int n, const double* a, const double* c_b, int m, double* t) {
  for (int u = 0; u < m; ++u)
    for (int i = 0; i < n; ++i) {
      ext sum = 0;
      for (int k = 0; k < n; ++k)
        sum += widen(a[i + std::size_t(k) * n]) * widen(c_b[k + std::size_t(u) * n]);
      t[i + std::size_t(u) * n] = static_cast<double>(sum);
    }
}

// The lower triangle with the diagonal; +0 above it.
void reference_projection(int n, int m, const double* c_b, const double* t, double* h) {
  for (int j = 0; j < m; ++j)
    for (int l = 0; l < m; ++l) {
      h[l + std::size_t(j) * m] = 0.0;
      if (l < j) continue;
      ext sum = 0;
      for (int k = 0; k < n; ++k)
        sum += widen(c_b[k + std::size_t(l) * n]) * widen(t[k + std::size_t(j) * n]);
      h[l + std::size_t(j) * m] = static_cast<double>(sum);
    }
}

void reference_rotation(int n, int m, const double* c_b, const double* u, double* cnew) {
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < n; ++i) {
      ext sum = 0;
      for (int k = 0; k < m; ++k)
        sum += widen(c_b[i + std::size_t(k) * n]) * widen(u[k + std::size_t(j) * m]);
      cnew[i + std::size_t(j) * n] = static_cast<double>(sum);
    }
}

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// Kinds of matrix element, each a function of the generator.
enum class Kind { random, ones, graded, special };

const char* name(Kind kind) {
  switch (kind) {
    case Kind::random: return "random";
    case Kind::ones: return "ones";
    case Kind::graded: return "graded";
    case Kind::special: return "special";
  }
  return "?";
}

// Awkward values: NaNs with different payloads and signs, infinities, signed
// zeros, subnormals, the extremes, values whose products overflow or
// underflow the double range but not the ext range.
const double specials[] = {
    0.0,
    -0.0,
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    from_bits(0x7ff8000000000001),  // quiet NaN, payload 1
    from_bits(0xfff8000000abcdef),  // negative quiet NaN
    from_bits(0x7ff0000000000003),  // signalling NaN
    std::numeric_limits<double>::denorm_min(),
    -from_bits(0x000fffffffffffff),  // largest subnormal
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    1e300,
    1e-300,
    1.0 + std::numeric_limits<double>::epsilon(),
    -1.0,
};

std::vector<double> make_matrix(std::size_t rows, std::size_t cols, Kind kind, std::mt19937_64& rng) {
  std::vector<double> x(rows * cols);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(specials) - 1);
  for (std::size_t j = 0; j < cols; ++j)
    for (std::size_t i = 0; i < rows; ++i) {
      double& v = x[i + j * rows];
      switch (kind) {
        case Kind::random: v = uniform(rng); break;
        case Kind::ones: v = 1.0; break;
        // Rows and columns of widely different scale, so that sums cancel
        // and round at very different points of the ext range.
        case Kind::graded: v = std::ldexp(uniform(rng), static_cast<int>(2 * i + j) % 97 - 48) * std::pow(10.0, exponent(rng) / 10); break;
        // Mostly ordinary numbers with one awkward value in about eight.
        case Kind::special: v = rng() % 8 == 0 ? specials[pick(rng)] : uniform(rng); break;
      }
    }
  return x;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Index of the first element whose bits differ, or -1.
long first_difference(const std::vector<double>& a, const std::vector<double>& b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    if (bits(a[i]) != bits(b[i])) return static_cast<long>(i);
  return -1;
}

class BlockProducts : public ::testing::Test {
 protected:
  void TearDown() override { set_thread_count(saved_); }

  // Runs the three products for one block of an n x n basis and compares
  // them, bit for bit, with the reference loops for every thread count.
  void check(int n, int m, int s, Kind kind, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const std::size_t un = n, um = m;
    const std::vector<double> a = make_matrix(un, un, kind, rng);
    const std::vector<double> c = make_matrix(un, un, kind, rng);
    const std::vector<double> u = make_matrix(um, um, kind, rng);
    const double* c_b = c.data() + std::size_t(s) * un;
    // T is a product of the generated matrices, H uses a generated T so that
    // awkward values reach it directly.
    const std::vector<double> t_in = make_matrix(un, um, kind, rng);

    std::vector<double> t_ref(un * um), h_ref(um * um), cnew_ref(un * um);
    reference_times(n, a.data(), c_b, m, t_ref.data());
    reference_projection(n, m, c_b, t_in.data(), h_ref.data());
    reference_rotation(n, m, c_b, u.data(), cnew_ref.data());

    const std::string where = std::string(name(kind)) + " n=" + std::to_string(n) + " m=" + std::to_string(m);
    for (int threads : {1, 2, 3, 7}) {
      set_thread_count(threads);
      // Poisoned outputs: every element must be written.
      std::vector<double> t(un * um, from_bits(0x7ff4dead0000beef));
      std::vector<double> h(um * um, from_bits(0x7ff4dead0000beef));
      std::vector<double> cnew(un * um, from_bits(0x7ff4dead0000beef));
      block_times(n, a.data(), c_b, m, t.data());
      block_projection(n, m, c_b, t_in.data(), h.data());
      block_rotation(n, m, c_b, u.data(), cnew.data());
      EXPECT_EQ(first_difference(t, t_ref), -1) << "T, " << where << " threads=" << threads;
      EXPECT_EQ(first_difference(h, h_ref), -1) << "H, " << where << " threads=" << threads;
      EXPECT_EQ(first_difference(cnew, cnew_ref), -1) << "CNEW, " << where << " threads=" << threads;
    }
  }

 private:
  int saved_ = thread_count();
};

// Every order from 1 to 70 with block widths that hit every row-tile edge
// (1 to 3 rows left over), the column-group edge and the full width.
TEST_F(BlockProducts, AllSmallOrdersMatchTheReference) {
  for (int n = 1; n <= 70; ++n)
    for (int m : {1, 2, 3, 5, n / 2, n - 1, n}) {
      if (m < 1 || m > n) continue;
      const int s = (n - m) / 2;
      check(n, m, s, n % 3 == 0 ? Kind::special : Kind::random, 1000u * n + m);
    }
}

TEST_F(BlockProducts, EveryKindMatchesTheReference) {
  const struct {
    int n, m;
  } shapes[] = {{2, 2}, {17, 4}, {33, 33}, {64, 8}, {70, 65}};
  std::uint64_t seed = 1;
  for (Kind kind : {Kind::random, Kind::ones, Kind::graded, Kind::special})
    for (const auto& shape : shapes) check(shape.n, shape.m, shape.n - shape.m, kind, seed++);
}

// Depths past one chunk of the kernel's panel, where the running sums are
// parked between chunks, and more columns than one task takes.
TEST_F(BlockProducts, LongSumsMatchTheReference) {
  check(513, 33, 100, Kind::random, 7);
  check(600, 70, 530, Kind::special, 8);
  check(1030, 3, 0, Kind::graded, 9);
  check(150, 140, 5, Kind::special, 10);  // more columns than one group holds
}

// The workers compute under the caller's x87 control word, whatever it was
// when they started: here the caller lowers the precision to 53 bits after the
// pool's threads exist.
TEST_F(BlockProducts, WorkersFollowTheCallersPrecisionControl) {
  if (extended_arithmetic != "x87") GTEST_SKIP() << "the software arithmetic has no control word";
  const int n = 200, m = 25;
  std::mt19937_64 rng(11);
  const std::vector<double> a = make_matrix(n * n, 1, Kind::random, rng);
  const std::vector<double> c_b = make_matrix(n * m, 1, Kind::random, rng);
  std::vector<double> extended(n * m), one(n * m), two(n * m);
  set_thread_count(2);
  block_times(n, a.data(), c_b.data(), m, extended.data());  // starts the workers

  fpu_control_t saved;
  _FPU_GETCW(saved);
  const fpu_control_t double_precision = (saved & ~_FPU_EXTENDED) | _FPU_DOUBLE;
  _FPU_SETCW(double_precision);
  block_times(n, a.data(), c_b.data(), m, two.data());
  set_thread_count(1);
  block_times(n, a.data(), c_b.data(), m, one.data());
  _FPU_SETCW(saved);

  EXPECT_EQ(first_difference(two, one), -1);
  EXPECT_NE(first_difference(one, extended), -1) << "53-bit sums should round differently somewhere";
}

TEST_F(BlockProducts, EmptyShapesWriteNothing) {
  const double in[4] = {1, 2, 3, 4};
  double out[4] = {5, 5, 5, 5};
  block_times(0, in, in, 2, out);
  block_times(2, in, in, 0, out);
  block_projection(0, 2, in, in, out);
  block_projection(2, -1, in, in, out);
  block_rotation(-3, 2, in, in, out);
  block_rotation(2, 0, in, in, out);
  for (double v : out) EXPECT_EQ(v, 5.0);
}

TEST_F(BlockProducts, SumStartsFromPositiveZero) {
  // -0 * 1 summed from +0 gives +0, not -0.
  const double a[1] = {-0.0}, c[1] = {1.0};
  double t[1] = {-1.0};
  block_times(1, a, c, 1, t);
  EXPECT_EQ(bits(t[0]), bits(0.0));
}

TEST_F(BlockProducts, ExtendedRangeHoldsBetweenTerms) {
  // 1e300 * 1e300 overflows a double but not ext; the following -1e300*1e300
  // cancels it and the stored sum is the last term.
  const double a[3] = {1e300, -1e300, 0.5};
  const double c[3] = {1e300, 1e300, 3.0};
  double t[1];
  block_projection(3, 1, a, c, t);
  EXPECT_EQ(t[0], 1.5);
}

}  // namespace
}  // namespace blockeig
