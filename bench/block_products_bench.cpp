// Throughput of the block sweep's three products, in multiply-add terms per
// second, against the x87 unit's own multiply-add rate measured in the same
// run, for one thread and for two.
//
//   block_products_bench [seconds]
//
// `seconds` (default 1) is the time spent on each measurement; every figure
// is the best of several repetitions within that time, which filters out
// some of the interference of other processes on a shared machine. Rates are
// given per second of wall time and per second of processor time of this
// process (summed over its threads): the second is the rate per busy core and
// barely moves when other processes take turns on the same cores.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "eigen/block_products.hpp"
#include "eigen/extended.hpp"
#include "eigen/thread_pool.hpp"

namespace {

using blockeig::ext;
using Clock = std::chrono::steady_clock;

double seconds_per_measurement = 1.0;

double process_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

struct Timing {
  double wall = 1e300;  // best wall time of one call
  double cpu = 1e300;   // best processor time of one call, all threads
};

// Best times of one call of `run`, repeated for about seconds_per_measurement
// (at least three times).
Timing best_time(const std::function<void()>& run) {
  Timing best;
  double spent = 0;
  for (int rep = 0; rep < 3 || spent < seconds_per_measurement; ++rep) {
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

template <int R>
double x87_rate() {
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
  });
  volatile double sink = static_cast<double>(sums[0]);
  (void)sink;
  return double(len) * R * calls / t.cpu;
}

// The plain loop for T = A * C_b, one thread: the speed of the obvious code.
void plain_times(int n, const double* a, const double* c_b, int m, double* t) {
  for (int u = 0; u < m; ++u)
    for (int i = 0; i < n; ++i) {
      ext sum = 0;
      for (int k = 0; k < n; ++k)
        sum += static_cast<ext>(a[i + std::size_t(k) * n]) * static_cast<ext>(c_b[k + std::size_t(u) * n]);
      t[i + std::size_t(u) * n] = static_cast<double>(sum);
    }
}

std::vector<double> random_matrix(std::size_t size, std::uint64_t seed) {
  std::vector<double> x(size);
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  for (double& v : x) v = u(rng);
  return x;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

struct Kernel {
  const char* name;
  double terms;
  std::function<void(std::vector<double>&)> run;
};

void bench_block(int n, int m, double bound) {
  const std::size_t un = n, um = m;
  const std::vector<double> a = random_matrix(un * un, 1);
  const std::vector<double> c = random_matrix(un * un, 2);
  const std::vector<double> u = random_matrix(um * um, 3);
  const int s = (n - m) / 2;
  const double* c_b = c.data() + std::size_t(s) * un;
  std::vector<double> t(un * um);
  blockeig::block_times(n, a.data(), c_b, m, t.data());

  const Kernel kernels[] = {
      {"T = A*C_b", double(n) * n * m, [&](std::vector<double>& out) { blockeig::block_times(n, a.data(), c_b, m, out.data()); }},
      {"H = C_b'*T", double(m) * m * n, [&](std::vector<double>& out) { blockeig::block_projection(n, m, c_b, t.data(), out.data()); }},
      {"CNEW = C_b*U", double(n) * m * m, [&](std::vector<double>& out) { blockeig::block_rotation(n, m, c_b, u.data(), out.data()); }},
  };
  for (const Kernel& k : kernels) {
    std::vector<double> one(un * um), two(un * um);
    blockeig::set_thread_count(1);
    const Timing t1 = best_time([&] { k.run(one); });
    blockeig::set_thread_count(2);
    const Timing t2 = best_time([&] { k.run(two); });
    const double w1 = k.terms / t1.wall, w2 = k.terms / t2.wall;
    const double c1 = k.terms / t1.cpu, c2 = k.terms / t2.cpu;
    std::printf("N=%-5d M=%-4d %-13s | 1 thread: %5.3f G/s wall, %5.3f G/s per core = %3.0f%% | "
                "2 threads: %5.3f G/s wall = %4.2fx, %5.3f G/s per core = %3.0f%% | %s\n",
                n, m, k.name, w1 / 1e9, c1 / 1e9, 100 * c1 / bound, w2 / 1e9, w2 / w1, c2 / 1e9, 100 * c2 / bound,
                same_bits(one, two) ? "bits equal" : "BITS DIFFER");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) seconds_per_measurement = std::atof(argv[1]);
  if (!(seconds_per_measurement > 0)) {
    std::fprintf(stderr, "usage: block_products_bench [seconds per measurement > 0]\n");
    return 2;
  }
  // Other processes on the same cores show in the wall-time rates; say how
  // busy the machine was.
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    double load = 0;
    if (std::fscanf(f, "%lf", &load) == 1) std::printf("load average (1 min) at start: %.2f\n", load);
    std::fclose(f);
  }
  const double r4 = x87_rate<4>(), r5 = x87_rate<5>(), r6 = x87_rate<6>();
  const double bound = std::max({r4, r5, r6});
  std::printf("x87 multiply-add bound per core (L1-resident data): %.3f Gterm/s (4 sums %.3f, 5 sums %.3f, 6 sums %.3f)\n"
              "Rates in Gterm/s (1e9 multiply-add terms per second); %% = share of the bound per core.\n",
              bound / 1e9, r4 / 1e9, r5 / 1e9, r6 / 1e9);

  {
    const int n = 1000, m = 125;
    const std::vector<double> a = random_matrix(std::size_t(n) * n, 1);
    const std::vector<double> c_b = random_matrix(std::size_t(n) * m, 2);
    std::vector<double> t(std::size_t(n) * m);
    const Timing time = best_time([&] { plain_times(n, a.data(), c_b.data(), m, t.data()); });
    const double rate = double(n) * n * m / time.cpu;
    std::vector<double> fast(t.size());
    blockeig::set_thread_count(2);
    blockeig::block_times(n, a.data(), c_b.data(), m, fast.data());
    std::printf("N=%-5d M=%-4d %-13s | 1 thread: %5.3f G/s per core = %3.0f%% | %s\n", n, m, "plain T loop", rate / 1e9,
                100 * rate / bound, same_bits(t, fast) ? "bits equal to block_times" : "BITS DIFFER FROM block_times");
  }
  bench_block(1000, 125, bound);
  bench_block(2000, 250, bound);
  return 0;
}
