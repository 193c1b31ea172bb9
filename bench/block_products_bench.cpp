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

#include "bench/bench_support.hpp"
#include "eigen/block_products.hpp"
#include "arithmetic/extended.hpp"
#include "runtime/thread_pool.hpp"

namespace {

using namespace blockeig::bench;

double seconds_per_measurement = 1.0;

Timing best_time(const std::function<void()>& run) { return blockeig::bench::best_time(run, seconds_per_measurement); }

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
      {"H = C_b'*T", double(m) * (m + 1) / 2 * n, [&](std::vector<double>& out) { blockeig::block_projection(n, m, c_b, t.data(), out.data()); }},
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
  std::printf("load average (1 min) at start: %.2f\n", load_average());
  const X87Bound x87 = measure_x87_bound(seconds_per_measurement);
  const double r4 = x87.r4, r5 = x87.r5, r6 = x87.r6;
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
