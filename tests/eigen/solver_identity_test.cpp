// The fast solver against the straightforward sequential one kept in
// reference_solver.hpp: the same bits of val, vec and ierr for every input
// and every thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "eigen/solver.hpp"
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
constexpr double inf = std::numeric_limits<double>::infinity();

using Tred12 = void (*)(int, const double*, double*, double*, int, int&);

Solved run(Tred12 solver, const Square& a, int mode) {
  Solved s{std::vector<double>(a.n), Square(a.n, 0.5)};
  solver(a.n, a.data(), s.vec.data(), s.val.data(), mode, s.ierr);
  return s;
}

void expect_identical(const Solved& fast, const Solved& ref, bool compare_vec) {
  EXPECT_EQ(fast.ierr, ref.ierr);
  EXPECT_TRUE(same_bits(fast.val, ref.val));
  if (compare_vec) {
    EXPECT_TRUE(same_bits(fast.vec.a, ref.vec.a));
  }
}

// ---- Matrices ----------------------------------------------------------

Square random_matrix(int n) { return test::random_symmetric(n, 77 + n); }

Square all_ones(int n) { return Square(n, 1.0); }

Square diagonal(int n) {
  Square a(n);
  for (int i = 1; i <= n; ++i) a(i, i) = (i * 7 % 5) - 2.0;
  return a;
}

// P D P with a Householder reflector P and a diagonal D of few distinct
// values: eigenvalues repeated many times, elements not exact.
Square repeated_values(int n) {
  std::mt19937_64 gen(5 + n);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(n), dv(n);
  double vv = 0;
  for (int i = 0; i < n; ++i) {
    v[i] = u(gen);
    vv += v[i] * v[i];
    dv[i] = static_cast<double>(i % 3);
  }
  Square a(n);
  for (int c = 0; c < n; ++c)
    for (int r = c; r < n; ++r) {
      double sum = 0;  // (P D P)(r, c) with P = I - 2 v v' / v'v
      for (int k = 0; k < n; ++k) {
        const double prk = (r == k) - 2 * v[r] * v[k] / vv;
        const double pkc = (k == c) - 2 * v[k] * v[c] / vv;
        sum += prk * dv[k] * pkc;
      }
      a(r + 1, c + 1) = a(c + 1, r + 1) = sum;
    }
  return a;
}

// Elements scaled by 10^(r + c - n) over about 2n decades (capped at +-150).
Square graded(int n) {
  Square a = test::random_symmetric(n, 31 + n);
  for (int c = 1; c <= n; ++c)
    for (int r = 1; r <= n; ++r) {
      const int decade = std::max(-150, std::min(150, (r + c - n) * 24 / std::max(n, 1)));
      a(r, c) *= std::pow(10.0, decade);
    }
  return a;
}

struct Family {
  const char* name;
  std::function<Square(int)> make;
  std::vector<int> orders;
};

TEST(SolverIdentity, Tred12MatchesTheReferenceForEveryThreadCount) {
  const ThreadCountGuard guard;
  const Family families[] = {
      {"random", random_matrix, {1, 2, 3, 4, 5, 8, 13, 31, 64, 100, 300}},
      {"all ones", all_ones, {1, 2, 3, 9, 40, 130}},
      {"diagonal", diagonal, {1, 2, 6, 50}},
      {"repeated eigenvalues", repeated_values, {3, 10, 33, 120}},
      {"graded", graded, {2, 7, 25, 90, 200}},
  };
  for (const Family& f : families) {
    for (const int n : f.orders) {
      const Square a = f.make(n);
      const Solved ref = run(reference::tred12, a, 2);
      const Solved ref_values = run(reference::tred12, a, 1);
      for (const int threads : thread_counts) {
        SCOPED_TRACE(testing::Message() << f.name << ", n = " << n << ", threads " << threads);
        set_thread_count(threads);
        expect_identical(run(test::tred12, a, 2), ref, true);
        if (threads <= 2) expect_identical(run(test::tred12, a, 1), ref_values, false);
      }
    }
  }
}

TEST(SolverIdentity, NonFiniteInputAndFailureLeaveTheSameBits) {
  const ThreadCountGuard guard;
  struct Poison {
    const char* name;
    std::function<void(Square&)> apply;
    bool fails;  // the reference gives ierr != 0
  };
  const Poison poisons[] = {
      {"NaN on the diagonal", [](Square& a) { a(20, 20) = nan; }, true},
      {"NaN off the diagonal", [](Square& a) { a(33, 5) = a(5, 33) = nan; }, true},
      {"infinity", [](Square& a) { a(7, 3) = a(3, 7) = inf; }, false},
      {"huge finite", [](Square& a) { a(2, 1) = a(1, 2) = 1e300; }, false},
  };
  for (const Poison& p : poisons) {
    Square a = test::random_symmetric(41, 9);
    p.apply(a);
    const Solved ref = run(reference::tred12, a, 2);
    if (p.fails) {
      EXPECT_NE(ref.ierr, 0) << p.name;
    }
    for (const int threads : thread_counts) {
      SCOPED_TRACE(testing::Message() << p.name << ", threads " << threads);
      set_thread_count(threads);
      expect_identical(run(test::tred12, a, 2), ref, true);
    }
  }
}

}  // namespace
}  // namespace blockeig
