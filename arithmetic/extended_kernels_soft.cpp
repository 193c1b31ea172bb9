// The kernels of arithmetic/extended_kernels.hpp on the software type: vector
// lanes (arithmetic/extended_lanes.hpp) where the processor has them and the
// operands are in their range, otherwise the plain loops, one SoftExt
// operation at a time.
#include "arithmetic/extended_kernels.hpp"

#if defined(BLOCKEIG_EXTENDED_SOFTWARE)

#include <algorithm>
#include <cstddef>

#include "arithmetic/extended_lanes.hpp"

namespace blockeig::kernels {

namespace {

// The widest lanes this processor has, or none.
const lanes::Kernels* processor_lanes() {
  static const lanes::Kernels* const chosen = [] {
    if (const lanes::Kernels* k = lanes::avx512_kernels()) return k;
    if (const lanes::Kernels* k = lanes::avx2_kernels()) return k;
    return lanes::neon_kernels();
  }();
  return chosen;
}

// The lanes in use: none when the plain loops are asked for.
const lanes::Kernels* vector_lanes() { return choice() == Choice::scalar ? nullptr : processor_lanes(); }

// ---- Block products ---------------------------------------------------------
//
// A task owns block_rows rows and up to group_cols columns; it walks the depth
// in chunks, packs its rows of X for a chunk into a panel (every cache line of
// X fetched once per chunk and column group) and runs the lanes' tiles of two
// columns over it, the running sums parked between chunks as pairs of doubles
// (exact). A task needs about 100 KiB of stack.
constexpr std::size_t block_rows = lanes::tile_rows;
constexpr std::size_t group_cols = 128;
constexpr std::size_t depth_chunk = 512;

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

// Every operand of a block must be zero or within the lanes' range, so that
// no product or sum leaves the range where they are exact.
bool operands_in_lane_range(const lanes::Kernels& lanes, const Product& p, std::size_t i0, std::size_t i1,
                            std::size_t j0, std::size_t j1) {
  bool in = true;
  if (p.x.transposed) {
    for (std::size_t i = i0; i < i1 && in; ++i) in = lanes.operands_in_range(p.x.data + i * p.x.ld, p.depth);
  } else {
    for (std::size_t k = 0; k < p.depth && in; ++k) in = lanes.operands_in_range(p.x.data + i0 + k * p.x.ld, i1 - i0);
  }
  for (std::size_t j = j0; j < j1 && in; ++j) in = lanes.operands_in_range(p.y + j * p.ldy, p.depth);
  return in;
}

void multiply_plainly(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  for (std::size_t j = j0; j < j1; ++j)
    for (std::size_t i = i0; i < i1; ++i)
      p.out[i + j * p.ldo] = p.lower_only && i < j ? 0.0 : static_cast<double>(product_sum(p, i, j));
}

// Rows i0..i1-1 of X, columns k0..k0+len-1, into panel[k*block_rows + r],
// zeros below the last row.
void pack(const Left& x, std::size_t i0, std::size_t i1, std::size_t k0, std::size_t len, double* panel) {
  for (std::size_t k = 0; k < len; ++k)
    for (std::size_t r = 0; r < block_rows; ++r) panel[k * block_rows + r] = i0 + r < i1 ? left(x, i0 + r, k0 + k) : 0.0;
}

void multiply_in_lanes(const lanes::Kernels& lanes, const Product& p, std::size_t i0, std::size_t i1, std::size_t j0,
                       std::size_t j1) {
  // One column more than a group: an odd last column is run beside itself.
  double hi[group_cols + 1][block_rows] = {}, lo[group_cols + 1][block_rows] = {};
  double panel[block_rows * depth_chunk];
  for (std::size_t k0 = 0; k0 < p.depth; k0 += depth_chunk) {
    const std::size_t len = std::min(depth_chunk, p.depth - k0);
    pack(p.x, i0, i1, k0, len, panel);
    for (std::size_t j = j0; j < j1; j += 2) {
      if (p.lower_only && j >= i1) break;  // every element above the diagonal
      const double* y0 = p.y + j * p.ldy + k0;
      const double* y1 = j + 1 < j1 ? y0 + p.ldy : y0;
      lanes.product_tile(len, panel, y0, y1, hi[j - j0], lo[j - j0]);
    }
  }
  for (std::size_t j = j0; j < j1; ++j)
    for (std::size_t i = i0; i < i1; ++i)
      p.out[i + j * p.ldo] = p.lower_only && i < j ? 0.0 : hi[j - j0][i - i0] + lo[j - j0][i - i0];
}

}  // namespace

std::string_view in_use() {
  const lanes::Kernels* lanes = vector_lanes();
  return lanes != nullptr ? lanes->name : "scalar";
}

ProductBlock product_block() { return {block_rows, group_cols}; }

void multiply_block(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  const lanes::Kernels* lanes = vector_lanes();
  if (lanes != nullptr && operands_in_lane_range(*lanes, p, i0, i1, j0, j1)) return multiply_in_lanes(*lanes, p, i0, i1, j0, j1);
  multiply_plainly(p, i0, i1, j0, j1);
}

void rotate_rows(double* zi, double* zj, int rows, ext c, ext s) {
  if (const lanes::Kernels* lanes = vector_lanes()) return lanes->rotate(zi, zj, rows, c, s);
  for (int k = 0; k < rows; ++k) {
    const ext a = zi[k];
    const ext t = zj[k];
    zj[k] = static_cast<double>(s * a + c * t);
    zi[k] = static_cast<double>(c * a - s * t);
  }
}

void rotate_sweep(MatrixView<double> z, int first, int rows, int l, int m, const Rotation* rot) {
  for (int i = m - 1; i >= l; --i, ++rot) rotate_rows(&z(first, i), &z(first, i + 1), rows, rot->c, rot->s);
}

void product_sums(MatrixView<const double> z, int l, const double* u, int first, int last, ext* g) {
  if (const lanes::Kernels* lanes = vector_lanes(); lanes && lanes->product_sums(z, l, u, first, last, g)) return;
  for (int j = first; j <= last; ++j) g[j - 1] = product_sum_row(z, l, u, j);
}

void update_chunk(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                  const ext* g) {
  if (const lanes::Kernels* lanes = vector_lanes()) return lanes->update_chunk(z, k0, k1, r0, r1, u, e, g);
  for (int k = k0; k <= k1; ++k)
    for (int j = std::max(r0, k); j <= r1; ++j) z(j, k) = updated(z(j, k), u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
}

void update_columns(MatrixView<double> z, int l, const double* u, const double* e, const ext* g, int first,
                    int last) {
  update_chunk(z, first, last, first, l, u, e, g);
}

void reflect_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2, ext* acc) {
  if (const lanes::Kernels* lanes = vector_lanes(); lanes && lanes->reflect_chunk(z, k0, k1, r0, r1, v, g2, acc))
    return;
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
  if (const lanes::Kernels* lanes = vector_lanes(); lanes && lanes->reflect_columns(z, l, v, r, first, last)) return;
  for (int j = first; j <= last; ++j) {
    double* col = z.column(j);
    ext g = 0;
    for (int k = 0; k < l; ++k) g += ext(r[k]) * ext(col[k]);
    for (int k = 0; k < l; ++k) col[k] = static_cast<double>(ext(col[k]) - g * ext(v[k]));
  }
}

}  // namespace blockeig::kernels

#endif
