// The kernels of eigen/extended_kernels.hpp on the software type: the plain
// loops, one SoftExt operation at a time.
#include "eigen/extended_kernels.hpp"

#if defined(BLOCKEIG_EXTENDED_SOFTWARE)

#include <algorithm>
#include <cstddef>

namespace blockeig::kernels {

namespace {

double left(const Left& x, std::size_t i, std::size_t k) {
  return x.transposed ? x.data[k + i * x.ld] : x.data[i + k * x.ld];
}

ext product_sum(const Product& p, std::size_t i, std::size_t j) {
  const double* y = p.y + j * p.ldy;
  ext sum = 0;
  for (std::size_t k = 0; k < p.depth; ++k) sum += ext(left(p.x, i, k)) * ext(y[k]);
  return sum;
}

double lower(MatrixView<const double> z, int j, int k) { return j >= k ? z(j, k) : z(k, j); }

ext product_sum_row(MatrixView<const double> z, int l, const double* u, int j) {
  ext g = 0;
  for (int k = 1; k <= l; ++k) g += ext(lower(z, j, k)) * ext(u[k - 1]);
  return g;
}

double updated(double z, double uj, double ek, ext gj, double uk) {
  return static_cast<double>(ext(z) - ext(uj) * ext(ek) - gj * ext(uk));
}

}  // namespace

ProductBlock product_block() { return {16, 128}; }

void multiply_block(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  for (std::size_t j = j0; j < j1; ++j)
    for (std::size_t i = i0; i < i1; ++i)
      p.out[i + j * p.ldo] = p.lower_only && i < j ? 0.0 : static_cast<double>(product_sum(p, i, j));
}

void rotate_rows(double* zi, double* zj, int rows, ext c, ext s) {
  for (int k = 0; k < rows; ++k) {
    const ext a = zi[k];
    const ext t = zj[k];
    zj[k] = static_cast<double>(s * a + c * t);
    zi[k] = static_cast<double>(c * a - s * t);
  }
}

void product_sums(MatrixView<const double> z, int l, const double* u, int first, int last, ext* g) {
  for (int j = first; j <= last; ++j) g[j - 1] = product_sum_row(z, l, u, j);
}

void update_columns(MatrixView<double> z, int l, const double* u, const double* e, const ext* g, int first,
                    int last) {
  for (int k = first; k <= last; ++k)
    for (int j = k; j <= l; ++j) z(j, k) = updated(z(j, k), u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
}

void update_chunk(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                  const ext* g) {
  for (int k = k0; k <= k1; ++k)
    for (int j = std::max(r0, k); j <= r1; ++j) z(j, k) = updated(z(j, k), u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
}

void reflect_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2, ext* acc) {
  for (int j = std::max(r0, k0); j <= r1; ++j) {
    ext s = g2[j - 1];
    for (int k = k0; k <= std::min(j, k1); ++k) {
      const ext x = z(j, k);
      s += x * ext(v[k - 1]);
      if (k < j) acc[k - k0] += x * ext(v[j - 1]);
    }
    if (j <= k1) {
      acc[j - k0] = s;  // the diagonal: the row part is complete, the column part follows
    } else {
      g2[j - 1] = s;
    }
  }
}

void reflect_columns(MatrixView<double> z, int l, const double* v, const double* r, int first, int last) {
  for (int j = first; j <= last; ++j) {
    double* col = z.column(j);
    ext g = 0;
    for (int k = 0; k < l; ++k) g += ext(r[k]) * ext(col[k]);
    for (int k = 0; k < l; ++k) col[k] = static_cast<double>(ext(col[k]) - g * ext(v[k]));
  }
}

}  // namespace blockeig::kernels

#endif
