#pragma once
// Test matrices and the scaled checks the solver tests judge by. Residuals are
// formed in extended precision so that the check adds no rounding of its own
// worth speaking of.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "eigen/solver.hpp"
#include "runtime/thread_pool.hpp"

namespace blockeig::test {

// An order-n square matrix, column-major, element (r, c) one-based.
struct Square {
  int n = 0;
  std::vector<double> a;

  explicit Square(int order, double fill = 0.0)
      : n(order), a(static_cast<std::size_t>(order) * order, fill) {}
  double& operator()(int r, int c) { return a[static_cast<std::size_t>(c - 1) * n + (r - 1)]; }
  double operator()(int r, int c) const {
    return a[static_cast<std::size_t>(c - 1) * n + (r - 1)];
  }
  double* data() { return a.data(); }
  const double* data() const { return a.data(); }
};

// tred12 as the program and the library call it: its work obtained first,
// for exactly this order.
inline void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr) {
  Tred12Work work;
  if (!work.obtain(n)) throw std::bad_alloc();
  blockeig::tred12(n, a, vec, val, mode, ierr, work);
}

inline Square identity(int n) {
  Square z(n);
  for (int i = 1; i <= n; ++i) z(i, i) = 1.0;
  return z;
}

// Symmetric, elements uniform in [-1, 1), fixed by the seed.
inline Square random_symmetric(int n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Square a(n);
  for (int c = 1; c <= n; ++c)
    for (int r = c; r <= n; ++r) a(r, c) = a(c, r) = u(gen);
  return a;
}

// Symmetric tridiagonal with diagonal d(1..n) and sub-diagonal e(1..n-1).
inline Square tridiagonal(const std::vector<double>& d, const std::vector<double>& e) {
  const int n = static_cast<int>(d.size());
  Square a(n);
  for (int i = 1; i <= n; ++i) a(i, i) = d[i - 1];
  for (int i = 1; i < n; ++i) a(i + 1, i) = a(i, i + 1) = e[i - 1];
  return a;
}

// Largest column sum of absolute values.
inline double norm1(const Square& a) {
  long double best = 0;
  for (int c = 1; c <= a.n; ++c) {
    long double sum = 0;
    for (int r = 1; r <= a.n; ++r) sum += std::fabs(static_cast<long double>(a(r, c)));
    best = std::max(best, sum);
  }
  return static_cast<double>(best);
}

// max over columns of the 1-norm of A v_j - lambda_j v_j.
inline double eigen_residual(const Square& a, const Square& v, const std::vector<double>& val) {
  const int n = a.n;
  long double worst = 0;
  for (int j = 1; j <= n; ++j) {
    long double col = 0;
    for (int r = 1; r <= n; ++r) {
      long double sum = -static_cast<long double>(val[j - 1]) * v(r, j);
      for (int k = 1; k <= n; ++k) sum += static_cast<long double>(a(r, k)) * v(k, j);
      col += std::fabs(sum);
    }
    worst = std::max(worst, col);
  }
  return static_cast<double>(worst);
}

// max over columns of the 1-norm of (V'V - I) e_j.
inline double orthogonality_residual(const Square& v) {
  const int n = v.n;
  long double worst = 0;
  for (int j = 1; j <= n; ++j) {
    long double col = 0;
    for (int i = 1; i <= n; ++i) {
      long double dot = i == j ? -1.0L : 0.0L;
      for (int k = 1; k <= n; ++k) dot += static_cast<long double>(v(k, i)) * v(k, j);
      col += std::fabs(dot);
    }
    worst = std::max(worst, col);
  }
  return static_cast<double>(worst);
}

inline bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

inline bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// The thread counts that bit-identity tests run under.
inline constexpr int thread_counts[] = {1, 2, 3, 7};

// Restores the thread count a test changed.
class ThreadCountGuard {
 public:
  ThreadCountGuard() : saved_(thread_count()) {}
  ~ThreadCountGuard() { set_thread_count(saved_); }

 private:
  int saved_;
};

// What a solver call left behind.
struct Solved {
  std::vector<double> val;
  Square vec;
  int ierr = -99;
};

}  // namespace blockeig::test
