// The tiled, parallel kernels of tred12 against the plain loops they replace:
// the same bits for every order (tiles of four and their remainders, the
// corner of a row tile) and every thread count, and nothing written outside
// the elements each kernel owns.
#include "eigen/householder_kernels.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "runtime/thread_pool.hpp"
#include "tests/eigen/matrices.hpp"

namespace blockeig {
namespace {

using test::same_bits;
using test::Square;
using test::ThreadCountGuard;
using test::thread_counts;

// Orders 1..13 cover every remainder of the tiles and of the 16-wide tasks;
// 150 and 200 are large enough to be split across threads.
constexpr int orders[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 17, 33, 150, 200};
constexpr int spare = 3;  // the matrix is larger than the block worked on

std::vector<double> random_vector(int l, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(l);
  for (double& x : v) x = u(gen);
  return v;
}

// Full 64-bit significand and exponent; the padding of ext is not compared.
bool same_ext(ext x, ext y) { return std::memcmp(&x, &y, 10) == 0; }

// A general (not symmetric) matrix, so that reading the wrong triangle shows.
Square random_matrix(int n, std::uint64_t seed) {
  Square a(n);
  a.a = random_vector(n * n, seed);
  return a;
}

TEST(HouseholderKernels, ReflectProductsMatchThePlainSums) {
  const ThreadCountGuard guard;
  for (const int l : orders) {
    const int n = l + spare;
    const Square z = random_matrix(n, 10 + l);
    const std::vector<double> u = random_vector(l, 20 + l);
    std::vector<ext> want(l);
    for (int j = 1; j <= l; ++j) {
      ext g = 0.0;
      for (int k = 1; k <= j; ++k) g += static_cast<ext>(z(j, k)) * u[k - 1];
      for (int k = j + 1; k <= l; ++k) g += static_cast<ext>(z(k, j)) * u[k - 1];
      want[j - 1] = g;
    }
    for (const int threads : thread_counts) {
      SCOPED_TRACE(testing::Message() << "l = " << l << ", threads " << threads);
      set_thread_count(threads);
      std::vector<ext> got(l, -1.0);
      reflect_products(MatrixView<const double>{z.data(), n}, l, u.data(), got.data());
      for (int j = 0; j < l; ++j) EXPECT_TRUE(same_ext(got[j], want[j])) << "j = " << j + 1;
    }
  }
}

TEST(HouseholderKernels, RankTwoUpdateWritesTheLowerTriangleOnly) {
  const ThreadCountGuard guard;
  for (const int l : orders) {
    const int n = l + spare;
    const Square start = random_matrix(n, 30 + l);
    const std::vector<double> u = random_vector(l, 40 + l);
    const std::vector<double> e = random_vector(l, 50 + l);
    std::vector<ext> g(l);
    for (int j = 0; j < l; ++j) g[j] = static_cast<ext>(e[j]) / 3.0;  // not a double
    Square want = start;
    for (int j = 1; j <= l; ++j)
      for (int k = 1; k <= j; ++k)
        want(j, k) = static_cast<double>(static_cast<ext>(want(j, k)) - static_cast<ext>(u[j - 1]) * e[k - 1] -
                                         g[j - 1] * u[k - 1]);
    for (const int threads : thread_counts) {
      SCOPED_TRACE(testing::Message() << "l = " << l << ", threads " << threads);
      set_thread_count(threads);
      Square got = start;
      rank_two_update(MatrixView<double>{got.data(), n}, l, u.data(), e.data(), g.data());
      EXPECT_TRUE(same_bits(got.a, want.a));
    }
  }
}

// The update fused with the next step's sums: the bits of the two passes,
// for orders around the edges of its 64-column bands and 128-row chunks.
TEST(HouseholderKernels, FusedUpdateAndSumsMatchTheTwoPasses) {
  const ThreadCountGuard guard;
  for (const int l : {1, 2, 5, 63, 64, 65, 127, 128, 129, 200, 300}) {
    const int n = l + spare;
    const Square start = random_matrix(n, 70 + l);
    const std::vector<double> u = random_vector(l, 80 + l);
    const std::vector<double> e = random_vector(l, 90 + l);
    const std::vector<double> v = random_vector(l, 100 + l);
    std::vector<ext> g(l);
    for (int j = 0; j < l; ++j) g[j] = static_cast<ext>(e[j]) / 3.0;
    Square want = start;
    std::vector<ext> want_sums(l);
    set_thread_count(1);
    rank_two_update(MatrixView<double>{want.data(), n}, l, u.data(), e.data(), g.data());
    reflect_products(MatrixView<const double>{want.data(), n}, l, v.data(), want_sums.data());
    for (const int threads : thread_counts) {
      SCOPED_TRACE(testing::Message() << "l = " << l << ", threads " << threads);
      set_thread_count(threads);
      Square got = start;
      std::vector<ext> sums(l, -1.0);
      std::vector<int> progress(fused_progress_size(l));
      update_and_reflect(MatrixView<double>{got.data(), n}, l, u.data(), e.data(), g.data(), v.data(), sums.data(),
                         progress.data());
      EXPECT_TRUE(same_bits(got.a, want.a));
      for (int j = 0; j < l; ++j) EXPECT_TRUE(same_ext(sums[j], want_sums[j])) << "j = " << j + 1;
    }
  }
}

TEST(HouseholderKernels, ApplyReflectionMatchesColumnByColumn) {
  const ThreadCountGuard guard;
  for (const int l : orders) {
    const int n = l + spare;
    const int v = l + 2;  // the reflection's column, beyond the block
    const Square start = random_matrix(n, 60 + l);
    std::vector<double> r(l);
    for (int k = 1; k <= l; ++k) r[k - 1] = start(v, k);
    Square want = start;
    for (int j = 1; j <= l; ++j) {
      ext g = 0.0;
      for (int k = 1; k <= l; ++k) g += static_cast<ext>(r[k - 1]) * want(k, j);
      for (int k = 1; k <= l; ++k) want(k, j) = static_cast<double>(static_cast<ext>(want(k, j)) - g * want(k, v));
    }
    for (const int threads : thread_counts) {
      SCOPED_TRACE(testing::Message() << "l = " << l << ", threads " << threads);
      set_thread_count(threads);
      Square got = start;
      apply_reflection(MatrixView<double>{got.data(), n}, l, v, r.data());
      EXPECT_TRUE(same_bits(got.a, want.a));
    }
  }
}

}  // namespace
}  // namespace blockeig
