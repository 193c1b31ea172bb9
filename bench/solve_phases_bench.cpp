// The solver's phases against the x87 unit's own multiply-add rate measured
// in the same run, on one thread: the Householder reduction, the
// accumulation of the reflections and the QL iteration with its rotations,
// for the direct solve of order N and for the block solves of order N / 4
// (the blocks' matrices taken from the first and a later sweep of a run).
//
//   solve_phases_bench [seconds] [N ...]
//
// `seconds` (default 1) is the time spent on each measurement, the best of
// several repetitions within it; N defaults to 400 and 1000. Times are
// processor seconds of this process.
//
// Terms are counted from the code: a multiply and the add or subtract that
// takes its product, or a lone multiply (a rotation multiplies four times
// per row and adds twice; the unit does a multiply a cycle, so four). The
// O(n^2) loops of a step (its scale, h, f, hh and the divisions) are not
// counted: they are the time the O(n^3) kernels leave to the rest.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/phase_terms.hpp"
#include "eigen/block_products.hpp"
#include "eigen/solver.hpp"
#include "runtime/thread_pool.hpp"

namespace {

using namespace blockeig;
using namespace blockeig::bench;

double seconds_per_measurement = 1.0;

// Processor seconds of the parts of tred12 over a set of matrices of order
// n (each solved once per repetition): the reduction (with vectors or
// without), the accumulation of the reflections, and the QL iteration with
// vectors; `values` is the QL iteration's part without them.
struct Parts {
  double reduction = 0, accumulation = 0, iteration = 0, values = 0;
  double reduction_terms = 0, accumulation_terms = 0, iteration_terms = 0;
};

Parts measure(int n, const std::vector<std::vector<double>>& matrices, bool vectors_in_reduction) {
  const std::size_t un = static_cast<std::size_t>(n);
  Tred12Work work;
  if (!work.obtain(n)) std::abort();
  Parts p;
  // The state before each phase: the matrix, the reflections, the
  // accumulated matrix with the tridiagonal.
  struct State {
    std::vector<double> z, d, e;
  };
  std::vector<State> reduced, accumulated;
  for (const auto& a : matrices) {
    State s{a, std::vector<double>(un), std::vector<double>(un)};
    detail_tred12_phases(n, s.z.data(), s.d.data(), s.e.data(), 2, work);
    reduced.push_back(s);
    detail_tred12_phases(n, s.z.data(), s.d.data(), s.e.data(), 3, work);
    accumulated.push_back(s);
    p.iteration_terms += 4.0 * double(n) * ql_rotations(n, s.d, s.e);
  }
  p.reduction_terms = reduction_terms(n) * double(matrices.size());
  p.accumulation_terms = accumulation_terms(n) * double(matrices.size());
  const double seconds = seconds_per_measurement;
  State w{std::vector<double>(un * un), std::vector<double>(un), std::vector<double>(un)};
  const auto load = [&](const State& s) {
    std::copy(s.z.begin(), s.z.end(), w.z.begin());
    std::copy(s.d.begin(), s.d.end(), w.d.begin());
    std::copy(s.e.begin(), s.e.end(), w.e.begin());
  };
  const double copies = best_time([&] {
    for (const State& s : accumulated) load(s);
  }, seconds / 4).cpu;
  p.reduction = best_time([&] {
    for (const auto& a : matrices) {
      std::copy(a.begin(), a.end(), w.z.begin());
      detail_tred12_phases(n, w.z.data(), w.d.data(), w.e.data(), vectors_in_reduction ? 2 : 1, work);
    }
  }, seconds).cpu - copies;
  p.accumulation = best_time([&] {
    for (const State& s : reduced) {
      load(s);
      detail_tred12_phases(n, w.z.data(), w.d.data(), w.e.data(), 3, work);
    }
  }, seconds).cpu - copies;
  int ierr = 0;
  p.iteration = best_time([&] {
    for (const State& s : accumulated) {
      load(s);
      tql12(n, w.z.data(), w.d.data(), ierr, 2, w.e.data());
    }
  }, seconds).cpu - copies;
  p.values = best_time([&] {
    for (const State& s : accumulated) {
      load(s);
      tql12(n, w.z.data(), w.d.data(), ierr, 1, w.e.data());
    }
  }, seconds).cpu - copies;
  return p;
}

// The block matrices H of sweep `sweep` of a run at order n with `blocks`
// blocks (as the program forms them, lower triangle only).
std::vector<std::vector<double>> block_matrices(const std::vector<double>& a, int n, int blocks, int sweep) {
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> c(un * un, 0.0), e(un);
  for (std::size_t k = 0; k < un; ++k) c[k + k * un] = 1.0;
  std::vector<int> dim(blocks), start(blocks);
  for (int b = 0, s = 0; b < blocks; ++b) {
    dim[b] = b + 1 < blocks ? n / blocks : n - s;
    start[b] = s + 1;
    s += dim[b];
  }
  std::vector<std::vector<double>> hs;
  for (int sw = 1; sw <= sweep; ++sw) {
    for (int b = 0; b < blocks; ++b) {
      const int m = dim[b];
      const std::size_t um = static_cast<std::size_t>(m);
      double* c_b = c.data() + std::size_t(start[b] - 1) * un;
      std::vector<double> t(un * um), h(um * um), u(um * um), w(um), cnew(un * um);
      block_times(n, a.data(), c_b, m, t.data());
      block_projection(n, m, c_b, t.data(), h.data());
      int ierr = 0;
      Tred12Work work;
      if (!work.obtain(m)) std::abort();
      tred12(m, h.data(), u.data(), w.data(), 2, ierr, work);
      block_rotation(n, m, c_b, u.data(), cnew.data());
      std::copy(cnew.begin(), cnew.end(), c_b);
      std::copy(w.begin(), w.end(), e.begin() + (start[b] - 1));
      if (sw == sweep) hs.push_back(std::move(h));
    }
    reporder2(n, e.data(), c.data(), blocks, start.data());
  }
  return hs;
}

void row(const char* what, double terms, double seconds, double bound) {
  const double rate = terms / seconds;
  std::printf("| %-34s | %10.4g | %8.4f | %6.3f | %4.0f%% |\n", what, terms, seconds, rate / 1e9, 100 * rate / bound);
}

void report(const char* what, const Parts& p, double bound) {
  char name[96];
  std::snprintf(name, sizeof name, "%s reduction", what);
  row(name, p.reduction_terms, p.reduction, bound);
  std::snprintf(name, sizeof name, "%s accumulation", what);
  row(name, p.accumulation_terms, p.accumulation, bound);
  std::snprintf(name, sizeof name, "%s QL with vectors", what);
  row(name, p.iteration_terms, p.iteration, bound);
  std::snprintf(name, sizeof name, "%s (rotations alone)", what);
  row(name, p.iteration_terms, p.iteration - p.values, bound);
}

}  // namespace

int main(int argc, char** argv) {
  set_extended_environment();
  if (argc > 1) seconds_per_measurement = std::atof(argv[1]);
  std::vector<int> orders;
  for (int i = 2; i < argc; ++i) orders.push_back(std::atoi(argv[i]));
  if (orders.empty()) orders = {400, 1000};
  if (!(seconds_per_measurement > 0) || std::any_of(orders.begin(), orders.end(), [](int n) { return n < 8; })) {
    std::fprintf(stderr, "usage: solve_phases_bench [seconds per measurement > 0] [N >= 8 ...]\n");
    return 2;
  }
  set_thread_count(1);
  std::printf("processor: %s; arithmetic: %s\n", model_name().c_str(), std::string(extended_arithmetic).c_str());
  std::printf("load average (1 min) at start: %.2f\n", load_average());
  const double bound = measure_x87_bound(seconds_per_measurement).best();
  std::printf("x87 multiply-add rate per core (L1-resident data): %.3f Gterm/s\n\n", bound / 1e9);
  std::printf("| phase (one thread) | terms | proc s | Gterm/s | share |\n|:---|---:|---:|---:|---:|\n");
  for (const int n : orders) {
    std::vector<double> a = random_symmetric(n, 11);
    for (double& x : a) x *= 1e9;
    char what[64];
    std::snprintf(what, sizeof what, "direct N=%d", n);
    report(what, measure(n, {a}, false), bound);
    const int m = n / 4;
    std::snprintf(what, sizeof what, "blocks M=%d sweep 1", m);
    report(what, measure(m, block_matrices(a, n, 4, 1), true), bound);
    std::snprintf(what, sizeof what, "blocks M=%d sweep 3", m);
    report(what, measure(m, block_matrices(a, n, 4, 3), true), bound);
  }
  std::printf("\nload average (1 min) at end: %.2f\n", load_average());
  return 0;
}
