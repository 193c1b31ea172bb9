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

#include "eigen/extended.hpp"
#include "eigen/householder_kernels.hpp"
#include "eigen/index.hpp"
#include "eigen/sign.hpp"
#include "eigen/solver.hpp"
#include "runtime/allocate.hpp"
#include "runtime/locus.hpp"

namespace blockeig {

namespace {

// Rows whose off-diagonal part sums to no more than this (in absolute value)
// are not reduced, and reflections no larger than this are not accumulated.
// It is an absolute threshold: matrices whose elements are all near 1e-10 or
// below are seen by their tridiagonal part only.
constexpr double small_row = 1.0e-10;

constexpr int offdiag_statement = 169;

// z(r, c) = a(r, c) for the lower triangle with the diagonal.
void copy_lower(int n, const double* a, MatrixView<double> z) {
  const MatrixView<const double> A{a, n};
  for (int r = 1; r <= n; ++r)
    for (int c = 1; c <= r; ++c) z(r, c) = A(r, c);
}

// Work arrays of one call besides offdiag: the Householder row of a step
// (or the reflection row of the accumulation) as a contiguous vector, and
// the step's sums in extended precision.
struct Work {
  double* row;
  ext* sums;
};

// Reduces row i (columns 1..l = i-1) by one Householder reflection, updating
// the leading l x l lower triangle. Leaves d(i) = h, e(i) the new sub-diagonal
// element, and with vectors the reflection in column i above the diagonal.
//
// The sums of the step are independent of each other and formed in parallel
// (reflect_products); the running f is then accumulated in their order, all
// new e(j) are formed, and only then the lower triangle is updated in
// parallel, since the update of row j reads e(k) for k <= j, all new.
void reduce_row(MatrixView<double> z, VectorView<double> d, VectorView<double> e, int i,
                bool vectors, const Work& work) {
  const int l = i - 1;
  // A skipped row keeps its elements; its sub-diagonal element is taken as is.
  auto skip = [&] {
    e(i) = z(i, l);
    d(i) = 0.0;
  };
  if (l < 2) return skip();
  ext scale = 0.0L;
  for (int k = 1; k <= l; ++k) scale += std::fabs(static_cast<ext>(z(i, k)));
  if (!(scale > small_row)) return skip();  // also when scale is NaN

  double* u = work.row;  // u[k-1] = z(i, k) while the row is scaled
  ext h = 0.0L;
  for (int k = 1; k <= l; ++k) {
    z(i, k) = z(i, k) / scale;
    h += static_cast<ext>(z(i, k)) * z(i, k);
  }
  double f = z(i, l);
  const double root = std::sqrt(h);
  const double g0 = -sign(root, f);
  e(i) = scale * g0;
  h -= static_cast<ext>(f) * g0;
  z(i, l) = static_cast<ext>(f) - g0;
  for (int k = 1; k <= l; ++k) u[k - 1] = z(i, k);

  if (vectors)
    for (int j = 1; j <= l; ++j) z(j, i) = u[j - 1] / (h * scale);

  // p = A u / h into e(1..l), and f = u'p accumulated term by term.
  ext* g = work.sums;
  reflect_products(MatrixView<const double>{z.base, z.n}, l, u, g);
  f = 0.0;
  ext fsum = 0.0L;
  for (int j = 1; j <= l; ++j) {
    const ext q = g[j - 1] / h;
    e(j) = q;
    fsum = static_cast<ext>(f) + q * u[j - 1];
    f = fsum;
  }

  // q = p - hh u into e(1..l) (g keeps it unrounded), and the rank-two
  // update A - u q' - q u'.
  const ext hh = fsum / (h + h);
  for (int j = 1; j <= l; ++j) {
    g[j - 1] = static_cast<ext>(e(j)) - hh * u[j - 1];
    e(j) = g[j - 1];
  }
  rank_two_update(z, l, u, &e(1), g);

  for (int k = 1; k <= l; ++k) z(i, k) = scale * z(i, k);
  d(i) = h;
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
  for (int i = n; i >= 2; --i) reduce_row(z, d, e, i, vectors, work);
  d(1) = 0.0;
  e(1) = 0.0;

  if (vectors) {
    accumulate_reflections(n, z, d, work.row);
  } else {
    for (int i = 1; i <= n; ++i) d(i) = z(i, i);
  }

  tql12(n, vec, val, ierr, std::abs(mode), offdiag);
}

}  // namespace

void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr) {
  ierr = 0;
  if (n < 1) return;

  runtime::Array<double> offdiag;
  runtime::Array<double> row;
  runtime::Array<ext> sums;
  runtime::at(offdiag_statement);
  runtime::allocate(offdiag, {n});
  runtime::allocate(row, {n});
  runtime::allocate(sums, {n});
  reduce_and_solve(n, a, vec, val, mode, ierr, offdiag.data(), Work{row.data(), sums.data()});
  runtime::deallocate(sums);
  runtime::deallocate(row);
  runtime::deallocate(offdiag);
}

bool Tred12Work::obtain(int n) noexcept {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 1));
  offdiag_.reset(new (std::nothrow) double[size]);
  row_.reset(new (std::nothrow) double[size]);
  sums_.reset(new (std::nothrow) ext[size]);
  if (offdiag_ && row_ && sums_) {
    order_ = n;
    return true;
  }
  offdiag_.reset();
  row_.reset();
  sums_.reset();
  order_ = 0;
  return false;
}

void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr, Tred12Work& work) {
  ierr = 0;
  if (n < 1) return;
  assert(work.order_ >= n);
  reduce_and_solve(n, a, vec, val, mode, ierr, work.offdiag_.get(), Work{work.row_.get(), work.sums_.get()});
}

}  // namespace blockeig
