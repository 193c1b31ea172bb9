#include "bench/program_bench.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <new>

#include "eigen/block_products.hpp"
#include "eigen/solver.hpp"
#include "runtime/thread_pool.hpp"
#include "reference_solver.hpp"

namespace blockeig::bench {

namespace {

struct Layout {
  std::vector<int> dim, start;
};

// The program's block layout: N / NBLOCKS positions each, the last takes the
// rest.
Layout lay_out(int n, int blocks) {
  Layout layout{std::vector<int>(blocks), std::vector<int>(blocks)};
  int s = 0;
  for (int b = 0; b < blocks; ++b) {
    layout.dim[b] = b + 1 < blocks ? n / blocks : n - s;
    layout.start[b] = s + 1;
    s += layout.dim[b];
  }
  return layout;
}

// Adds the processor time of f() to `to`.
template <class F>
void timed(double& to, F&& f) {
  const double t0 = process_seconds();
  f();
  to += process_seconds() - t0;
}

}  // namespace

Phases replay(const std::vector<double>& a, int n, int blocks, int sweeps, Arithmetic arithmetic, int replayed) {
  const int saved_threads = thread_count();
  set_thread_count(1);
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> c(un * un), e(un);
  int ierr = 0;
  // The solver's work for every solve, obtained once, as the program does.
  Tred12Work work;
  if (!work.obtain(n)) throw std::bad_alloc();
  Phases direct;
  timed(direct.direct,
        [&] { tred12(n, a.data(), c.data(), e.data(), arithmetic == Arithmetic::now ? 1 : 2, ierr, work); });

  const Layout layout = lay_out(n, blocks);
  std::fill(c.begin(), c.end(), 0.0);
  for (std::size_t k = 0; k < un; ++k) c[k + k * un] = 1.0;
  replayed = std::max(1, std::min(replayed, sweeps));
  Phases sweep;
  for (int s = 0; s < replayed; ++s) {
    for (int b = 0; b < blocks; ++b) {
      const int m = layout.dim[b];
      const std::size_t um = static_cast<std::size_t>(m);
      double* c_b = c.data() + static_cast<std::size_t>(layout.start[b] - 1) * un;
      std::vector<double> t(un * um), h(um * um), upper(um * um), u(um * um), w(um), cnew(un * um);
      timed(sweep.times, [&] { block_times(n, a.data(), c_b, m, t.data()); });
      timed(sweep.projection, [&] {
        block_projection(n, m, c_b, t.data(), h.data());
        // Before, all of H was formed: its upper triangle is the lower
        // triangle of T' C_b, the same sums in the same order.
        if (arithmetic == Arithmetic::before) block_projection(n, m, t.data(), c_b, upper.data());
      });
      timed(sweep.solves, [&] { tred12(m, h.data(), u.data(), w.data(), 2, ierr, work); });
      timed(sweep.rotation, [&] { block_rotation(n, m, c_b, u.data(), cnew.data()); });
      timed(sweep.copies, [&] {
        std::copy(cnew.begin(), cnew.end(), c_b);
        std::copy(w.begin(), w.end(), e.begin() + (layout.start[b] - 1));
      });
    }
    timed(sweep.reorder, [&] { reporder2(n, e.data(), c.data(), blocks, layout.start.data()); });
  }
  set_thread_count(saved_threads);

  const double scale = static_cast<double>(sweeps) / replayed;
  Phases all = direct;
  all.times = sweep.times * scale;
  all.projection = sweep.projection * scale;
  all.solves = sweep.solves * scale;
  all.rotation = sweep.rotation * scale;
  all.copies = sweep.copies * scale;
  all.reorder = sweep.reorder * scale;
  return all;
}

double sweep_product_terms(int n, int blocks, Arithmetic arithmetic) {
  const Layout layout = lay_out(n, blocks);
  const double dn = n;
  double terms = 0;
  for (const int m : layout.dim) {
    const double dm = m;
    const double projection = arithmetic == Arithmetic::now ? dm * (dm + 1) / 2 * dn : dm * dm * dn;
    terms += dn * dn * dm + projection + dn * dm * dm;
  }
  return terms;
}

Straightforward straightforward(int n, int blocks, int sweeps) {
  const int saved_threads = thread_count();
  set_thread_count(1);
  Straightforward s;
  {
    const std::vector<double> a = random_symmetric(n, 7);
    std::vector<double> vec(static_cast<std::size_t>(n) * n), val(n);
    int ierr = 0;
    s.direct = best_time([&] { reference::tred12(n, a.data(), vec.data(), val.data(), 2, ierr); }, 0, 1);
  }
  const int m = n / blocks;
  const std::size_t un = n, um = m;
  const std::vector<double> a = random_symmetric(n, 5);
  std::vector<double> c = random_matrix(un * um, 6);
  std::vector<double> t(un * um), h(um * um), u(um * um), w(um), cnew(un * um);
  int ierr = 0;
  s.block = best_time([&] {
    plain_times(n, a.data(), c.data(), m, t.data());
    plain_projection(n, m, c.data(), t.data(), h.data());
    reference::tred12(m, h.data(), u.data(), w.data(), 2, ierr);
    plain_rotation(n, m, c.data(), u.data(), cnew.data());
    std::copy(cnew.begin(), cnew.end(), c.begin());
  }, 0, 2);
  const double count = static_cast<double>(sweeps) * blocks;
  s.total.wall = s.direct.wall + count * s.block.wall;
  s.total.cpu = s.direct.cpu + count * s.block.cpu;
  set_thread_count(saved_threads);
  return s;
}

SolveParts tred12_parts(int n) {
  const std::vector<double> a = random_symmetric(n, 31 + n);
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> vec(un * un), val(un);
  int ierr = 0;
  Tred12Work work;
  if (!work.obtain(n)) throw std::bad_alloc();
  SolveParts parts;
  parts.total = best_time([&] { tred12(n, a.data(), vec.data(), val.data(), 2, ierr, work); }, 0, 2).wall;
  parts.reduction = best_time([&] { tred12(n, a.data(), vec.data(), val.data(), 1, ierr, work); }, 0, 2).wall;

  // The reduced tridiagonal matrix and the accumulated reflections, from
  // the straightforward code (the same bits as the fast one's).
  std::vector<double> z(un * un), d(un), e(un);
  reference::householder_reduction(n, a.data(), z.data(), d.data(), e.data(), 2);
  std::vector<double> zq, dq, eq;
  parts.iteration = best_time([&] {
    zq = z;
    dq = d;
    eq = e;
    tql12(n, zq.data(), dq.data(), ierr, 2, eq.data());
  }, 0, 2).wall;
  parts.accumulation = parts.total - parts.reduction - parts.iteration;
  return parts;
}

ProgramCase write_case(const std::string& work, const std::string& name, const std::vector<double>& a, int n) {
  ProgramCase c{work + "/" + name, n};
  ::mkdir(work.c_str(), 0755);
  ::mkdir(c.dir.c_str(), 0755);
  write_record_file(c.dir + "/A.SCR", n, a);
  return c;
}

}  // namespace blockeig::bench
