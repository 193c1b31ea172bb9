#pragma once
// What the benchmarks share: best-of timings in wall and processor time, the
// x87 unit's multiply-add rate, random matrices, and the plain product loops
// that the block-phase kernels replace.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "arithmetic/extended.hpp"

namespace blockeig::bench {

using Clock = std::chrono::steady_clock;

inline double process_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

struct Timing {
  double wall = 1e300;  // best wall time of one call
  double cpu = 1e300;   // best processor time of one call, all threads
};

// Best times of one call of `run`, repeated at least `min_reps` times and
// until `seconds` of wall time have been spent. The best of several filters
// out some of the interference of other processes on a shared machine.
inline Timing best_time(const std::function<void()>& run, double seconds, int min_reps = 3) {
  Timing best;
  double spent = 0;
  for (int rep = 0; rep < min_reps || spent < seconds; ++rep) {
    const double c0 = process_seconds();
    const auto t0 = Clock::now();
    run();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, process_seconds() - c0);
    spent += wall;
  }
  return best;
}

// The 1-minute load average, or -1 when it cannot be read.
inline double load_average() {
  double load = -1;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

// R independent ext sums of products over arrays that stay in the level-1
// cache: the x87 multiply-add rate with nothing else in the way.
template <int R>
__attribute__((noinline)) void multiply_add_loop(int len, const double* x, const double* y, ext* sums) {
  ext s[R];
  for (int r = 0; r < R; ++r) s[r] = sums[r];
  for (int k = 0; k < len; ++k) {
    const ext yk = y[k];
#pragma GCC unroll 8
    for (int r = 0; r < R; ++r) s[r] += static_cast<ext>(x[k * R + r]) * yk;
  }
  for (int r = 0; r < R; ++r) sums[r] = s[r];
}

// Multiply-add terms per second of processor time with R accumulators.
template <int R>
double x87_rate(double seconds) {
  constexpr int len = 512;
  constexpr int calls = 20000;
  std::vector<double> x(len * R), y(len);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  for (double& v : x) v = u(rng);
  for (double& v : y) v = u(rng);
  ext sums[R] = {};
  const Timing t = best_time([&] {
    for (int c = 0; c < calls; ++c) multiply_add_loop<R>(len, x.data(), y.data(), sums);
  }, seconds);
  volatile double sink = static_cast<double>(sums[0]);
  (void)sink;
  return double(len) * R * calls / t.cpu;
}

struct X87Bound {
  double r4, r5, r6;
  double best() const { return std::max({r4, r5, r6}); }
};

inline X87Bound measure_x87_bound(double seconds) {
  return {x87_rate<4>(seconds), x87_rate<5>(seconds), x87_rate<6>(seconds)};
}

inline std::vector<double> random_matrix(std::size_t size, std::uint64_t seed) {
  std::vector<double> x(size);
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  for (double& v : x) v = u(rng);
  return x;
}

// A random symmetric n x n matrix, entries uniform in (-scale, scale).
inline std::vector<double> random_symmetric(int n, std::uint64_t seed, double scale = 1.0) {
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> a(un * un);
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  for (std::size_t j = 0; j < un; ++j)
    for (std::size_t i = j; i < un; ++i) a[i + j * un] = a[j + i * un] = scale * u(rng);
  return a;
}

inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The plain loops of the block products, one thread: one ext sum per
// element, from zero, ascending k, rounded once on store. They give the same
// bits as the kernels (and as the test suite's reference loops, which only
// add a volatile widening for the sake of NaN payloads).
inline void plain_times(int n, const double* a, const double* c_b, int m, double* t) {
  for (int u = 0; u < m; ++u)
    for (int i = 0; i < n; ++i) {
      ext sum = 0;
      for (int k = 0; k < n; ++k)
        sum += static_cast<ext>(a[i + std::size_t(k) * n]) * static_cast<ext>(c_b[k + std::size_t(u) * n]);
      t[i + std::size_t(u) * n] = static_cast<double>(sum);
    }
}

inline void plain_projection(int n, int m, const double* c_b, const double* t, double* h) {
  for (int j = 0; j < m; ++j)
    for (int l = 0; l < m; ++l) {
      ext sum = 0;
      for (int k = 0; k < n; ++k)
        sum += static_cast<ext>(c_b[k + std::size_t(l) * n]) * static_cast<ext>(t[k + std::size_t(j) * n]);
      h[l + std::size_t(j) * m] = static_cast<double>(sum);
    }
}

inline void plain_rotation(int n, int m, const double* c_b, const double* u, double* cnew) {
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < n; ++i) {
      ext sum = 0;
      for (int k = 0; k < m; ++k)
        sum += static_cast<ext>(c_b[i + std::size_t(k) * n]) * static_cast<ext>(u[k + std::size_t(j) * m]);
      cnew[i + std::size_t(j) * n] = static_cast<double>(sum);
    }
}

}  // namespace blockeig::bench
