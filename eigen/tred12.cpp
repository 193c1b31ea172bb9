// Householder reduction of a symmetric matrix to tridiagonal form, row by row
// from the last row up, with the optional accumulation of the reflections,
// followed by the QL iteration of tql12.
//
// Precision: scale, h, hh, the g of the inner products and every dot-product
// sum stay in extended precision; elements of vec, val and offdiag and the
// running f are rounded to double whenever assigned. The g of the reflection
// itself is a double, formed from the square root of h rounded to double.
//
// The O(n^3) loops (a step's sums, its rank-two update, the accumulation's
// columns) are in eigen/householder_kernels.cpp, split across the thread
// pool by whole sums and whole elements; the O(n) sequential parts of a step
// stay here.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <new>

#include "arithmetic/extended.hpp"
#include "eigen/householder_kernels.hpp"
#include "runtime/index.hpp"
#include "eigen/sign.hpp"
#include "eigen/solver.hpp"

namespace blockeig {

namespace {

// Rows whose off-diagonal part sums to no more than this (in absolute value)
// are not reduced, and reflections no larger than this are not accumulated.
// It is an absolute threshold: matrices whose elements are all near 1e-10 or
// below are seen by their tridiagonal part only.
constexpr double small_row = 1.0e-10;

// z(r, c) = a(r, c) for the lower triangle with the diagonal.
void copy_lower(int n, const double* a, MatrixView<double> z) {
  const MatrixView<const double> A{a, n};
  for (int r = 1; r <= n; ++r)
    for (int c = 1; c <= r; ++c) z(r, c) = A(r, c);
}

// Work arrays of one call besides offdiag: the Householder rows of two
// consecutive steps as contiguous vectors (one serves the accumulation as
// its reflection row), their sums in extended precision, and the scratch of
// the fused pass.
struct Work {
  double* rows[2];
  ext* sums[2];
  int* progress;
};

// The doubles, extended sums and ints that Work needs for order n.
struct WorkSize {
  int rows, sums, progress;
};
WorkSize work_size(int n) { return {2 * n, 2 * n, fused_progress_size(n)}; }

// The part of reduction step i (l = i-1) before its sums: scales row i,
// forms the reflection into u (u[k-1] = z(i, k) while the row is scaled),
// sets e(i) and with vectors stores the Householder vector in column i
// above the diagonal. Returns false for a skipped row, which keeps its
// elements and takes its sub-diagonal element as it is (e(i), d(i) = 0 set).
bool start_step(MatrixView<double> z, VectorView<double> d, VectorView<double> e, int i, bool vectors, double* u,
                ext& h, ext& scale) {
  const int l = i - 1;
  auto skip = [&] {
    e(i) = z(i, l);
    d(i) = 0.0;
    return false;
  };
  if (l < 2) return skip();
  scale = 0.0;
  for (int k = 1; k <= l; ++k) scale += fabs(static_cast<ext>(z(i, k)));
  if (!(scale > small_row)) return skip();  // also when scale is NaN

  h = 0.0;
  for (int k = 1; k <= l; ++k) {
    z(i, k) = static_cast<double>(z(i, k) / scale);
    h += static_cast<ext>(z(i, k)) * z(i, k);
  }
  const double f = z(i, l);
  const auto root = static_cast<double>(sqrt(h));
  const double g0 = -sign(root, f);
  e(i) = static_cast<double>(scale * g0);
  h -= static_cast<ext>(f) * g0;
  z(i, l) = static_cast<double>(static_cast<ext>(f) - g0);
  for (int k = 1; k <= l; ++k) u[k - 1] = z(i, k);

  if (vectors)
    for (int j = 1; j <= l; ++j) z(j, i) = static_cast<double>(u[j - 1] / (h * scale));
  return true;
}

// The part of step i after its sums g (p = A u / h): f = u'p accumulated
// term by term, hh, and q = p - hh u into e(1..l), with g keeping q
// unrounded for the update. Then row i is scaled back and d(i) = h.
void complete_step(MatrixView<double> z, VectorView<double> d, VectorView<double> e, int i, const double* u, ext* g,
                   ext h, ext scale) {
  const int l = i - 1;
  double f = 0.0;
  ext fsum = 0.0;
  for (int j = 1; j <= l; ++j) {
    const ext q = g[j - 1] / h;
    e(j) = static_cast<double>(q);
    fsum = static_cast<ext>(f) + q * u[j - 1];
    f = static_cast<double>(fsum);
  }
  const ext hh = fsum / (h + h);
  for (int j = 1; j <= l; ++j) {
    g[j - 1] = static_cast<ext>(e(j)) - hh * u[j - 1];
    e(j) = static_cast<double>(g[j - 1]);
  }
  for (int k = 1; k <= l; ++k) z(i, k) = static_cast<double>(scale * z(i, k));
  d(i) = static_cast<double>(h);
}

// Row i of the rank-two update of the step before (the last row of its
// triangle), with that step's u, q (rounded in e, unrounded in g).
void update_row(MatrixView<double> z, int i, const double* u, const double* e, const ext* g) {
  for (int k = 1; k <= i; ++k)
    z(i, k) = static_cast<double>(static_cast<ext>(z(i, k)) - static_cast<ext>(u[i - 1]) * e[k - 1] - g[i - 1] * u[k - 1]);
}

// Householder reduction of rows n, n-1, ..., 2, each reflection applied to
// the leading l x l lower triangle as the rank-two update A - u q' - q u'.
//
// A step's update and the next step's sums are one pass over the triangle
// (update_and_reflect): the next step needs only the last row of the update
// to form its reflection, so that row is updated first, and the rest of the
// update is done while the next step's sums are formed from it. Each element
// is updated and each sum formed exactly as in separate passes; the f of a
// step is accumulated, and its q formed, only after all its sums, since the
// update of row j reads q(k) for k <= j.
void reduce(MatrixView<double> z, VectorView<double> d, VectorView<double> e, int n, bool vectors,
            const Work& work) {
  bool pending = false;  // the step of row i+1 has its update still to come
  int slot = 0;          // the rows[] and sums[] of step i; the other one holds step i+1's
  for (int i = n; i >= 2; --i) {
    const int l = i - 1;
    const double* up = work.rows[1 - slot];
    const ext* gp = work.sums[1 - slot];
    if (pending) update_row(z, i, up, &e(1), gp);
    double* u = work.rows[slot];
    ext* g = work.sums[slot];
    ext h = 0.0, scale = 0.0;
    const bool reduced = start_step(z, d, e, i, vectors, u, h, scale);
    if (reduced && pending) {
      update_and_reflect(z, l, up, &e(1), gp, u, g, work.progress);
    } else if (reduced) {
      reflect_products(MatrixView<const double>{z.base, z.n}, l, u, g);
    } else if (pending) {
      rank_two_update(z, l, up, &e(1), gp);
    }
    pending = reduced;
    if (reduced) {
      complete_step(z, d, e, i, u, g, h, scale);
      slot = 1 - slot;
    }
  }
}

// Multiplies the stored reflections together into z, leaving the diagonal of
// the reduced matrix in d. The columns of one step are independent and are
// transformed in parallel, each summed and updated while it is in cache.
void accumulate_reflections(int n, MatrixView<double> z, VectorView<double> d, double* row) {
  for (int i = 1; i <= n; ++i) {
    const int l = i - 1;
    if (!(std::fabs(d(i)) < small_row) && l >= 1) {
      for (int k = 1; k <= l; ++k) row[k - 1] = z(i, k);
      apply_reflection(z, l, i, row);
    }
    d(i) = z(i, i);
    z(i, i) = 1.0;
    for (int k = 1; k <= l; ++k) {
      z(i, k) = 0.0;
      z(k, i) = 0.0;
    }
  }
}

// tred12 with its work vectors given: offdiag (n doubles) and the Work.
void reduce_and_solve(int n, const double* a, double* vec, double* val, int mode, int& ierr, double* offdiag,
                      const Work& work) {
  const MatrixView<double> z{vec, n};
  const VectorView<double> d{val};
  const VectorView<double> e{offdiag};
  const bool vectors = std::abs(mode) == 2;

  if (mode >= 0) copy_lower(n, a, z);
  reduce(z, d, e, n, vectors, work);
  d(1) = 0.0;
  e(1) = 0.0;

  if (vectors) {
    accumulate_reflections(n, z, d, work.rows[0]);
  } else {
    for (int i = 1; i <= n; ++i) d(i) = z(i, i);
  }

  tql12(n, vec, val, ierr, std::abs(mode), offdiag);
}

}  // namespace

bool Tred12Work::obtain(int n) noexcept {
  const int order = std::max(n, 1);
  const WorkSize size = work_size(order);
  offdiag_.reset(new (std::nothrow) double[static_cast<std::size_t>(order)]);
  rows_.reset(new (std::nothrow) double[static_cast<std::size_t>(size.rows)]);
  sums_.reset(new (std::nothrow) ext[static_cast<std::size_t>(size.sums)]);
  progress_.reset(new (std::nothrow) int[static_cast<std::size_t>(size.progress)]);
  if (offdiag_ && rows_ && sums_ && progress_) {
    order_ = n;
    return true;
  }
  *this = Tred12Work();
  return false;
}

void detail_tred12_phases(int n, double* vec, double* val, double* offdiag, int phase, Tred12Work& work) {
  if (n < 1) return;
  assert(work.order_ >= n);
  double* rows = work.rows_.get();
  ext* sums = work.sums_.get();
  const Work w{{rows, rows + n}, {sums, sums + n}, work.progress_.get()};
  const MatrixView<double> z{vec, n};
  const VectorView<double> d{val};
  const VectorView<double> e{offdiag};
  if (phase == 3) {
    accumulate_reflections(n, z, d, w.rows[0]);
    return;
  }
  reduce(z, d, e, n, phase == 2, w);
  d(1) = 0.0;
  e(1) = 0.0;
}

void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr, Tred12Work& work) {
  ierr = 0;
  if (n < 1) return;
  assert(work.order_ >= n);
  double* rows = work.rows_.get();
  ext* sums = work.sums_.get();
  reduce_and_solve(n, a, vec, val, mode, ierr, work.offdiag_.get(),
                   Work{{rows, rows + n}, {sums, sums + n}, work.progress_.get()});
}

}  // namespace blockeig
