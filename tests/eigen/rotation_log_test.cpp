// The rotation log: recorded sweeps applied in row panels must leave every
// element as rotating two whole columns at a time does, whatever the log's
// bound (flushes between sweeps, sweeps too long for the log) and the thread
// count.
#include "eigen/rotation_log.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "runtime/thread_pool.hpp"
#include "tests/eigen/matrices.hpp"
#include "tests/eigen/reference_solver.hpp"

namespace blockeig {
namespace {

using test::same_bits;
using test::Square;
using test::ThreadCountGuard;
using test::Solved;
using test::thread_counts;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

void expect_identical(const Solved& fast, const Solved& ref) {
  EXPECT_EQ(fast.ierr, ref.ierr);
  EXPECT_TRUE(same_bits(fast.val, ref.val));
  EXPECT_TRUE(same_bits(fast.vec.a, ref.vec.a));
}

// Sweeps over ranges that overlap, nest and touch the matrix's ends, with
// rotations in extended precision (c^2 + s^2 only near 1, as in the QL
// sweep) and a NaN and an infinity in the matrix.
struct SweepRange {
  int l;
  int m;
};

TEST(RotationLog, PanelsGiveTheSameBitsAsWholeColumns) {
  const ThreadCountGuard guard;
  constexpr int n = 37;
  const SweepRange sweeps[] = {{1, 37}, {5, 9}, {1, 2}, {36, 37}, {12, 30}, {3, 37}, {20, 21}, {1, 37}};
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
  std::vector<std::vector<Rotation>> rotations;
  for (const SweepRange& r : sweeps) {
    std::vector<Rotation> sweep;
    for (int i = r.m - 1; i >= r.l; --i) {
      // Full 64-bit significands, not quite a unit vector.
      const double phi = angle(gen);
      const ext c = std::cos(phi), s = std::sin(phi);
      sweep.push_back(Rotation{c + s * 0x1p-58, s - c * 0x1p-58});
    }
    rotations.push_back(sweep);
  }
  Square start = test::random_symmetric(n, 3);
  start(4, 17) = nan;
  start(30, 2) = std::numeric_limits<double>::infinity();

  Square want = start;
  for (std::size_t w = 0; w < std::size(sweeps); ++w) {
    const Rotation* rot = rotations[w].data();
    for (int i = sweeps[w].m - 1; i >= sweeps[w].l; --i, ++rot)
      for (int k = 1; k <= n; ++k) {
        const double t = want(k, i + 1);
        want(k, i + 1) = static_cast<double>(rot->s * want(k, i) + rot->c * t);
        want(k, i) = static_cast<double>(rot->c * want(k, i) - rot->s * t);
      }
  }

  for (const std::size_t capacity : {std::size_t{36}, std::size_t{40}, std::size_t{100},
                                     default_rotation_capacity}) {
    for (const int threads : thread_counts) {
      SCOPED_TRACE(testing::Message() << "capacity " << capacity << ", threads " << threads);
      set_thread_count(threads);
      Square got = start;
      const MatrixView<double> z{got.data(), n};
      RotationLog log(n, capacity);
      for (std::size_t w = 0; w < std::size(sweeps); ++w) {
        Rotation* room = log.record_sweep(z, sweeps[w].l, sweeps[w].m);
        ASSERT_NE(room, nullptr);
        for (const Rotation& r : rotations[w]) *room++ = r;
      }
      log.flush(z);
      EXPECT_TRUE(same_bits(got.a, want.a));
    }
  }
}

TEST(RotationLog, SweepsLongerThanTheLogAreLeftToTheCaller) {
  constexpr int n = 10;
  Square z0 = test::random_symmetric(n, 4);
  const MatrixView<double> z{z0.data(), n};
  RotationLog log(n, 0);
  EXPECT_EQ(log.record_sweep(z, 1, n), nullptr);
  RotationLog small(n, 5);
  EXPECT_NE(small.record_sweep(z, 1, 4), nullptr);
  EXPECT_EQ(small.record_sweep(z, 1, n), nullptr);  // flushes the first sweep
}

// tql12 on its own, with a general (not identity) vec and log bounds that
// force flushes at every sweep, in the middle of sweeps' runs, or never.
TEST(RotationLog, Tql12MatchesTheReferenceForEveryLogBound) {
  const ThreadCountGuard guard;
  struct Case {
    const char* name;
    int n;
    bool poison;  // NaN on the diagonal: fails after 30 iterations
  };
  const Case cases[] = {{"random", 1, false}, {"random", 2, false}, {"random", 29, false},
                        {"random", 150, false}, {"NaN", 29, true}};
  for (const Case& c : cases) {
    const int n = c.n;
    std::mt19937_64 gen(400 + n);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> d(n), e(n);
    for (int i = 0; i < n; ++i) d[i] = u(gen), e[i] = u(gen);
    if (c.poison) d[n / 2] = nan;
    const Square vec0 = test::random_symmetric(n, 600 + n);

    Solved ref{d, vec0};
    std::vector<double> e_ref = e;
    reference::tql12(n, ref.vec.data(), ref.val.data(), ref.ierr, 2, e_ref.data());
    if (c.poison) {
      EXPECT_NE(ref.ierr, 0);
    }

    const std::size_t full = static_cast<std::size_t>(n) - (n > 1);
    for (const std::size_t bound : {std::size_t{0}, std::size_t{1}, full, full + 1,
                                    3 * full + 2, default_rotation_capacity}) {
      for (const int threads : thread_counts) {
        SCOPED_TRACE(testing::Message() << c.name << ", n = " << n << ", bound " << bound
                                        << ", threads " << threads);
        set_thread_count(threads);
        Solved fast{d, vec0};
        std::vector<double> e_fast = e;
        detail::tql12_bounded(n, fast.vec.data(), fast.val.data(), fast.ierr, 2, e_fast.data(),
                              bound);
        expect_identical(fast, ref);
      }
    }
  }
}

}  // namespace
}  // namespace blockeig
