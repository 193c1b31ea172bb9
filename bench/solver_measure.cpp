// Measurements for the record, not checks: times tred12 (mode 2) on random
// matrices up to order 1000 beside LAPACK dsyev and prints the largest
// scaled residuals and LAPACK differences met; and times tred12 with 1 and 2
// threads beside the straightforward sequential solver kept as the tests'
// reference (wall and process CPU time, which tell apart a busy machine
// from a slow program).
//
//   solver_measure
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <vector>

#include "eigen/precision.hpp"
#include "eigen/solver.hpp"
#include "runtime/thread_pool.hpp"
#include "tests/eigen/lapack_peer.hpp"
#include "tests/eigen/matrices.hpp"
#include "tests/eigen/reference_solver.hpp"

namespace blockeig {
namespace {

using test::Square;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Measured {
  double seconds;
  double residual;       // ||AV - V diag(val)||_1 / (n ||A||_1 eps)
  double orthogonality;  // ||V'V - I||_1 / (n eps)
  std::vector<double> val;
};

Measured run_tred12(const Square& a) {
  Square vec(a.n);
  std::vector<double> val(a.n);
  int ierr = -1;
  Tred12Work work;
  if (!work.obtain(a.n)) throw std::bad_alloc();
  const auto t0 = Clock::now();
  tred12(a.n, a.data(), vec.data(), val.data(), 2, ierr, work);
  const double s = seconds_since(t0);
  if (ierr != 0) std::printf("warning: ierr = %d at order %d\n", ierr, a.n);
  const double eps = ql_precision();
  return {s, test::eigen_residual(a, vec, val) / (a.n * test::norm1(a) * eps),
          test::orthogonality_residual(vec) / (a.n * eps), val};
}

#ifdef BLOCKEIG_HAVE_LAPACK
Measured run_dsyev(Square a) {
  const int n = a.n;
  std::vector<double> w(n);
  int lwork = -1, info = 0;
  double query = 0;
  dsyev_("V", "L", &n, a.data(), &n, w.data(), &query, &lwork, &info);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  const auto t0 = Clock::now();
  dsyev_("V", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info);
  return {seconds_since(t0), 0, 0, w};
}

void tred12_beside_dsyev() {
  double worst_residual = 0, worst_orthogonality = 0, worst_difference = 0;
  for (const int n : {1, 2, 3, 5, 10, 17, 32, 64, 100, 200, 500, 1000}) {
    const Square a = test::random_symmetric(n, 1000 + n);
    const Measured ours = run_tred12(a);
    const Measured peer = run_dsyev(a);
    double diff = 0;
    for (int i = 0; i < n; ++i) diff = std::max(diff, std::fabs(ours.val[i] - peer.val[i]));
    diff /= test::norm1(a);
    std::printf("n=%5d  tred12 %8.3f s  dsyev %8.3f s  residual %.3g n|A|eps  "
                "orthogonality %.3g n eps  max|val-dsyev|/|A| %.3g\n",
                n, ours.seconds, peer.seconds, ours.residual, ours.orthogonality, diff);
    worst_residual = std::max(worst_residual, ours.residual);
    worst_orthogonality = std::max(worst_orthogonality, ours.orthogonality);
    worst_difference = std::max(worst_difference, diff);
  }
  std::printf("worst: residual %.3g n|A|eps (%.3g n|A|), orthogonality %.3g n eps (%.3g n), "
              "eigenvalue difference %.3g |A|\n",
              worst_residual, worst_residual * ql_precision(), worst_orthogonality,
              worst_orthogonality * ql_precision(), worst_difference);
}
#endif

using Tred12 = void (*)(int, const double*, double*, double*, int, int&);

struct Timed {
  double wall;
  double cpu;
};

Timed time_solver(Tred12 solver, const Square& a) {
  Square vec(a.n);
  std::vector<double> val(a.n);
  int ierr = -1;
  const auto t0 = Clock::now();
  const std::clock_t c0 = std::clock();
  solver(a.n, a.data(), vec.data(), val.data(), 2, ierr);
  const Timed t{seconds_since(t0), static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC};
  if (ierr != 0) std::printf("warning: ierr = %d at order %d\n", ierr, a.n);
  return t;
}

void fast_beside_the_sequential_reference() {
  const int saved = thread_count();
  for (const int n : {500, 1000, 2000}) {
    const Square a = test::random_symmetric(n, 1000 + n);
    const Timed ref = time_solver(reference::tred12, a);
    std::printf("n=%5d  sequential reference  wall %8.3f s  cpu %8.3f s\n", n, ref.wall, ref.cpu);
    for (const int threads : {1, 2}) {
      set_thread_count(threads);
      const Timed fast = time_solver(test::tred12, a);
      std::printf("n=%5d  tred12, %d thread%s     wall %8.3f s  cpu %8.3f s  (%.2fx the reference)\n",
                  n, threads, threads == 1 ? " " : "s", fast.wall, fast.cpu, ref.wall / fast.wall);
    }
  }
  set_thread_count(saved);
}

}  // namespace
}  // namespace blockeig

int main() {
#ifdef BLOCKEIG_HAVE_LAPACK
  blockeig::tred12_beside_dsyev();
#endif
  blockeig::fast_beside_the_sequential_reference();
}
