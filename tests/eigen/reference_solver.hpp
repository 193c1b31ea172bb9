#pragma once
// The straightforward sequential solver, kept as the reference the fast
// tred12 and tql12 must match bit for bit: every operation in extended
// precision, one column rotation at a time, one element at a time, in the
// order the algorithms are written. Only the work vector differs (a
// std::vector instead of a run-time array).
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "arithmetic/extended.hpp"
#include "runtime/index.hpp"
#include "eigen/precision.hpp"
#include "eigen/sign.hpp"

namespace blockeig::reference {


namespace ql {

inline constexpr int max_iterations = 30;

inline ext absx(double x) { return fabs(static_cast<ext>(x)); }

// Rotates columns i and i+1 of z by (c, s).
inline void rotate_columns(MatrixView<double> z, int n, int i, ext c, ext s) {
  for (int k = 1; k <= n; ++k) {
    const double t = z(k, i + 1);
    z(k, i + 1) = static_cast<double>(s * z(k, i) + c * t);
    z(k, i) = static_cast<double>(c * z(k, i) - s * t);
  }
}

// The first m >= l with |e(m)| <= b; n when there is none (NaN data).
inline int end_of_block(VectorView<double> e, int l, int n, double b) {
  for (int m = l; m <= n; ++m)
    if (std::fabs(e(m)) <= b) return m;
  return n;
}

// One QL step with implicit shift on the block l..m; returns nothing, leaves
// the new d, e and (mode 2) z in place and adds the shift to f.
inline void ql_step(VectorView<double> d, VectorView<double> e, MatrixView<double> z, int n, int l,
             int m, bool vectors, double& f) {
  // Shift: the eigenvalue of the leading 2 x 2 block nearer to d(l).
  const ext g0 = d(l);
  const ext q = (static_cast<ext>(d(l + 1)) - g0) / (2.0 * static_cast<ext>(e(l)));
  double p = static_cast<double>(q);
  const auto r0 = static_cast<double>(sqrt(q * q + 1.0));
  const ext dl = static_cast<ext>(e(l)) / (static_cast<ext>(p) + static_cast<ext>(sign(r0, p)));
  d(l) = static_cast<double>(dl);
  const ext shift = g0 - dl;
  for (int i = l + 1; i <= n; ++i) d(i) = static_cast<double>(static_cast<ext>(d(i)) - shift);
  f = static_cast<double>(static_cast<ext>(f) + shift);

  // Sweep from the bottom of the block up to l.
  p = d(m);
  ext c = 1.0;
  ext s = 0.0;
  for (int i = m - 1; i >= l; --i) {
    const ext g = c * static_cast<ext>(e(i));
    const ext h = c * static_cast<ext>(p);
    if (std::fabs(e(i)) > std::fabs(p)) {
      const ext t = static_cast<ext>(p) / static_cast<ext>(e(i));
      const ext r = sqrt(t * t + 1.0);
      e(i + 1) = static_cast<double>(s * static_cast<ext>(e(i)) * r);
      const auto rd = static_cast<double>(r);
      s = 1.0 / static_cast<ext>(rd);
      c = t * s;
    } else {
      const ext t = static_cast<ext>(e(i)) / static_cast<ext>(p);
      const ext r = sqrt(t * t + 1.0);
      e(i + 1) = static_cast<double>(s * static_cast<ext>(p) * r);
      const auto rd = static_cast<double>(r);
      s = t / static_cast<ext>(rd);
      c = 1.0 / static_cast<ext>(rd);
    }
    p = static_cast<double>(c * static_cast<ext>(d(i)) - s * g);
    d(i + 1) = static_cast<double>(h + s * (c * g + s * static_cast<ext>(d(i))));
    if (vectors) rotate_columns(z, n, i, c, s);
  }
  e(l) = static_cast<double>(s * static_cast<ext>(p));
  d(l) = static_cast<double>(c * static_cast<ext>(p));
}

// Ascending selection sort; the strict comparison keeps the first of equal
// minima. Columns of z follow their values when vectors is set.
inline void sort_ascending(VectorView<double> d, MatrixView<double> z, int n, bool vectors) {
  for (int i = 1; i <= n - 1; ++i) {
    int k = i;
    double p = d(i);
    for (int j = i + 1; j <= n; ++j) {
      if (d(j) < p) {
        k = j;
        p = d(j);
      }
    }
    if (k == i) continue;
    d(k) = d(i);
    d(i) = p;
    if (vectors)
      for (int r = 1; r <= n; ++r) std::swap(z(r, i), z(r, k));
  }
}

}  // namespace ql

inline void tql12(int n, double* vec, double* val, int& ierr, int mode, double* offdiag) {
  const double eps = ql_precision();
  ierr = 0;
  if (n <= 1) return;

  const MatrixView<double> z{vec, n};
  const VectorView<double> d{val};
  const VectorView<double> e{offdiag};
  const bool vectors = mode == 2;

  for (int i = 2; i <= n; ++i) e(i - 1) = e(i);
  e(n) = 0.0;

  double f = 0.0;
  double b = 0.0;
  for (int l = 1; l <= n; ++l) {
    const ext h = static_cast<ext>(eps) * (ql::absx(d(l)) + ql::absx(e(l)));
    if (h > b) b = static_cast<double>(h);
    const int m = ql::end_of_block(e, l, n, b);
    if (m != l) {
      for (int j = 0;;) {
        ql::ql_step(d, e, z, n, l, m, vectors, f);
        if (std::fabs(e(l)) <= b) break;
        if (++j == ql::max_iterations) {
          ierr = l;
          return;
        }
      }
    }
    d(l) = static_cast<double>(static_cast<ext>(d(l)) + static_cast<ext>(f));
  }
  ql::sort_ascending(d, z, n, vectors);
}




namespace householder {

// Rows whose off-diagonal part sums to no more than this (in absolute value)
// are not reduced, and reflections no larger than this are not accumulated.
// It is an absolute threshold: matrices whose elements are all near 1e-10 or
// below are seen by their tridiagonal part only.
inline constexpr double small_row = 1.0e-10;

// z(r, c) = a(r, c) for the lower triangle with the diagonal.
inline void copy_lower(int n, const double* a, MatrixView<double> z) {
  const MatrixView<const double> A{a, n};
  for (int r = 1; r <= n; ++r)
    for (int c = 1; c <= r; ++c) z(r, c) = A(r, c);
}

// Reduces row i (columns 1..l = i-1) by one Householder reflection, updating
// the leading l x l lower triangle. Leaves d(i) = h, e(i) the new sub-diagonal
// element, and with vectors the reflection in column i above the diagonal.
inline void reduce_row(MatrixView<double> z, VectorView<double> d, VectorView<double> e, int i,
                bool vectors) {
  const int l = i - 1;
  // A skipped row keeps its elements; its sub-diagonal element is taken as is.
  auto skip = [&] {
    e(i) = z(i, l);
    d(i) = 0.0;
  };
  if (l < 2) return skip();
  ext scale = 0.0;
  for (int k = 1; k <= l; ++k) scale += fabs(static_cast<ext>(z(i, k)));
  if (!(scale > small_row)) return skip();  // also when scale is NaN

  ext h = 0.0;
  for (int k = 1; k <= l; ++k) {
    z(i, k) = static_cast<double>(z(i, k) / scale);
    h += static_cast<ext>(z(i, k)) * z(i, k);
  }
  double f = z(i, l);
  const auto root = static_cast<double>(sqrt(h));
  const double g0 = -sign(root, f);
  e(i) = static_cast<double>(scale * g0);
  h -= static_cast<ext>(f) * g0;
  z(i, l) = static_cast<double>(static_cast<ext>(f) - g0);

  // p = A u / h into e(1..l), and f = u'p accumulated term by term.
  f = 0.0;
  ext fsum = 0.0;
  for (int j = 1; j <= l; ++j) {
    if (vectors) z(j, i) = static_cast<double>(z(i, j) / (h * scale));
    ext g = 0.0;
    for (int k = 1; k <= j; ++k) g += static_cast<ext>(z(j, k)) * z(i, k);
    for (int k = j + 1; k <= l; ++k) g += static_cast<ext>(z(k, j)) * z(i, k);
    const ext q = g / h;
    e(j) = static_cast<double>(q);
    fsum = static_cast<ext>(f) + q * z(i, j);
    f = static_cast<double>(fsum);
  }

  // q = p - hh u into e(1..l), and the rank-two update A - u q' - q u'.
  const ext hh = fsum / (h + h);
  for (int j = 1; j <= l; ++j) {
    f = z(i, j);
    const ext g = static_cast<ext>(e(j)) - hh * f;
    e(j) = static_cast<double>(g);
    for (int k = 1; k <= j; ++k)
      z(j, k) = static_cast<double>(static_cast<ext>(z(j, k)) - static_cast<ext>(f) * e(k) - g * z(i, k));
  }

  for (int k = 1; k <= l; ++k) z(i, k) = static_cast<double>(scale * z(i, k));
  d(i) = static_cast<double>(h);
}

// Multiplies the stored reflections together into z, leaving the diagonal of
// the reduced matrix in d.
inline void accumulate_reflections(int n, MatrixView<double> z, VectorView<double> d) {
  for (int i = 1; i <= n; ++i) {
    const int l = i - 1;
    if (!(std::fabs(d(i)) < small_row) && l >= 1) {
      for (int j = 1; j <= l; ++j) {
        ext g = 0.0;
        for (int k = 1; k <= l; ++k) g += static_cast<ext>(z(i, k)) * z(k, j);
        for (int k = 1; k <= l; ++k) z(k, j) = static_cast<double>(static_cast<ext>(z(k, j)) - g * z(k, i));
      }
    }
    d(i) = z(i, i);
    z(i, i) = 1.0;
    for (int k = 1; k <= l; ++k) {
      z(i, k) = 0.0;
      z(k, i) = 0.0;
    }
  }
}

}  // namespace householder

inline void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr) {
  ierr = 0;
  if (n < 1) return;

  std::vector<double> offdiag(static_cast<std::size_t>(n));

  const MatrixView<double> z{vec, n};
  const VectorView<double> d{val};
  const VectorView<double> e{offdiag.data()};
  const bool vectors = std::abs(mode) == 2;

  if (mode >= 0) householder::copy_lower(n, a, z);
  for (int i = n; i >= 2; --i) householder::reduce_row(z, d, e, i, vectors);
  d(1) = 0.0;
  e(1) = 0.0;

  if (vectors) {
    householder::accumulate_reflections(n, z, d);
  } else {
    for (int i = 1; i <= n; ++i) d(i) = z(i, i);
  }

  tql12(n, vec, val, ierr, std::abs(mode), offdiag.data());
}

}  // namespace blockeig::reference
