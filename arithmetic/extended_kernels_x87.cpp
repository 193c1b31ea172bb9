// The kernels of arithmetic/extended_kernels.hpp on the x87 unit: long double
// sums held in its eight stack registers, tiles sized so that none spills.
#include "arithmetic/extended_kernels.hpp"

#if !defined(BLOCKEIG_EXTENDED_SOFTWARE)

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

namespace blockeig::kernels {

namespace {

// ---- Block products ---------------------------------------------------------
//
// Kernel: four rows of X (a tile) are copied, k by k, into a panel, and each
// of the tile's four output elements in one column keeps its own running ext
// sum. Four sums, the loaded Y value and one product fill six of the eight
// x87 registers, so no term touches memory except its two operands; up to six
// sums would fit, seven or more spill on every term. Measured here, four, five
// and six independent sums all run at the x87 unit's multiply-add rate (about
// 1.8 cycles a term); four keeps the tile edges few.
//
// Blocking: a task owns block_rows rows and up to group_cols columns of the
// output. It walks the depth in chunks of depth_chunk terms; per chunk it
// copies its rows of X once (so every cache line and page of A is fetched once
// per chunk and column group) and runs every tile against every column. Between
// chunks the running sums are parked in an ext array, which is exact, so each
// element is still one ascending sum from +0. A task needs about 96 KiB of
// stack (panels 64 KiB, sums 32 KiB).
//
constexpr int tile_rows = 4;
constexpr std::size_t depth_chunk = 512;
constexpr std::size_t group_cols = 128;
constexpr std::size_t block_rows = 4 * tile_rows;

// The panel value of v. Converting a signalling NaN to ext quiets it, and a
// product of two quiet NaNs is the one with the larger payload. The kernel
// may multiply by the panel value as a double memory operand, which the x87
// does not quiet first (a signalling NaN operand would lose to a quiet one
// whatever the payloads), so the panel holds the quieted NaN that the
// conversion would have made.
double quieted(double v) {
  constexpr std::uint64_t exponent = 0x7ff0'0000'0000'0000;
  constexpr std::uint64_t fraction = 0x000f'ffff'ffff'ffff;
  constexpr std::uint64_t quiet = 0x0008'0000'0000'0000;
  std::uint64_t b = std::bit_cast<std::uint64_t>(v);
  if ((b & exponent) == exponent && (b & fraction) != 0) b |= quiet;
  return std::bit_cast<double>(b);
}

// Copies rows i0..i0+rows-1 (rows <= block_rows) of X, columns k0..k0+len-1,
// quieted, into one panel per tile of tile_rows rows (the last tile may be
// narrower): tile t of width w holds X(i0 + t*tile_rows + r, k0 + k) at
// panels[t*tile_rows*len + k*w + r]. A whole block is copied at once so that
// every cache line and page of X is fetched once per chunk, not once per tile.
void pack_block(const Left& x, std::size_t i0, std::size_t rows, std::size_t k0, std::size_t len, double* panels) {
  for (std::size_t t0 = 0; t0 < rows; t0 += tile_rows) {
    const std::size_t w = std::min<std::size_t>(tile_rows, rows - t0);
    double* panel = panels + t0 * len;
    if (!x.transposed) {
      const double* column = x.data + i0 + t0 + k0 * x.ld;
      for (std::size_t k = 0; k < len; ++k, column += x.ld)
        for (std::size_t r = 0; r < w; ++r) panel[k * w + r] = quieted(column[r]);
    } else {
      for (std::size_t r = 0; r < w; ++r) {
        const double* row = x.data + k0 + (i0 + t0 + r) * x.ld;
        for (std::size_t k = 0; k < len; ++k) panel[k * w + r] = quieted(row[k]);
      }
    }
  }
}

// sum[r] += panel[k*S + r] * y[k] for r < R and k = 0, 1, ..., len-1, each
// product and partial sum in ext. S is the panel's width; R < S takes the
// first R rows of a panel (offset by the caller).
template <int R, int S = R>
void accumulate(std::size_t len, const double* panel, const double* y, ext* sum) {
  static_assert(R <= S);
  ext s[R];
  for (int r = 0; r < R; ++r) s[r] = sum[r];
  for (std::size_t k = 0; k < len; ++k) {
    ext yk = y[k];
    // Keeps yk a loaded (and so quieted) x87 register value: the compiler
    // would otherwise be free to multiply by y[k] as a memory operand.
    asm("" : "+t"(yk));
#pragma GCC unroll 8
    for (int r = 0; r < R; ++r) s[r] += static_cast<ext>(panel[k * S + r]) * yk;
  }
  for (int r = 0; r < R; ++r) sum[r] = s[r];
}

// The last `rows` rows (1 <= rows < S) of a panel of width S, for a tile
// that the diagonal of a lower-triangle product cuts.
template <int S>
void accumulate_last_rows(int rows, std::size_t len, const double* panel, const double* y, ext* sum) {
  const int skip = S - rows;
  if constexpr (S >= 2) {
    if (rows == 1) return accumulate<1, S>(len, panel + skip, y, sum + skip);
  }
  if constexpr (S >= 3) {
    if (rows == 2) return accumulate<2, S>(len, panel + skip, y, sum + skip);
  }
  if constexpr (S >= 4) {
    if (rows == 3) return accumulate<3, S>(len, panel + skip, y, sum + skip);
  }
}

// The running sums of one block, by column then row.
using BlockSums = ext[group_cols][block_rows];

// One chunk of one tile of width R (output rows i..i+R-1) for columns
// j0..j1-1. For a lower-triangle product only the elements with row >= column
// are formed: a tile is skipped for the columns right of its last row and cut
// for the columns among its rows.
template <int R>
void multiply_tile(const Product& p, std::size_t i, std::size_t r0, std::size_t k0, std::size_t len, std::size_t j0,
                   std::size_t j1, const double* panel, BlockSums& sums) {
  std::size_t full_end = j1;  // columns j0..full_end-1 take the whole tile
  if (p.lower_only) full_end = std::min(j1, std::max(j0, i + 1));
  for (std::size_t j = j0; j < full_end; ++j) accumulate<R>(len, panel, p.y + j * p.ldy + k0, &sums[j - j0][r0]);
  for (std::size_t j = full_end; j < std::min(j1, i + R); ++j)
    accumulate_last_rows<R>(static_cast<int>(i + R - j), len, panel, p.y + j * p.ldy + k0, &sums[j - j0][r0]);
}

// The same for a tile of width w <= R, chosen at run time.
template <int R>
void multiply_narrow_tile(const Product& p, std::size_t w, std::size_t i, std::size_t r0, std::size_t k0,
                          std::size_t len, std::size_t j0, std::size_t j1, const double* panel, BlockSums& sums) {
  if constexpr (R > 0) {
    if (w == R) return multiply_tile<R>(p, i, r0, k0, len, j0, j1, panel, sums);
    multiply_narrow_tile<R - 1>(p, w, i, r0, k0, len, j0, j1, panel, sums);
  }
}

// Output rows i0..i1-1 (at most block_rows), columns j0..j1-1 (at most
// group_cols), walking the depth chunk by chunk.
// A lower-triangle product stores +0 above the diagonal.
void multiply_block_x87(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  const std::size_t rows = i1 - i0;
  BlockSums sums;
  for (auto& column : sums)
    for (ext& s : column) s = 0.0L;
  double panels[block_rows * depth_chunk];
  const bool empty = p.lower_only && i1 <= j0;  // every element above the diagonal
  for (std::size_t k0 = 0; k0 < p.depth && !empty; k0 += depth_chunk) {
    const std::size_t len = std::min(depth_chunk, p.depth - k0);
    pack_block(p.x, i0, rows, k0, len, panels);
    for (std::size_t r0 = 0; r0 < rows; r0 += tile_rows) {
      const std::size_t w = std::min<std::size_t>(tile_rows, rows - r0);
      multiply_narrow_tile<tile_rows>(p, w, i0 + r0, r0, k0, len, j0, j1, panels + r0 * len, sums);
    }
  }
  for (std::size_t j = j0; j < j1; ++j)
    for (std::size_t r = 0; r < rows; ++r) p.out[i0 + r + j * p.ldo] = static_cast<double>(sums[j - j0][r]);
}

// ---- Householder reduction and accumulation ---------------------------------
//
// Each sum is held in an x87 register from zero to its end; tiles of four
// sums (rows or columns) share the loads of u or r, which keeps four
// independent chains of additions in flight and fits the x87 register stack
// (four accumulators and the shared factor).

constexpr int tile = 4;  // sums per tile

// ---- Reduction: the sums g(j) ------------------------------------------

// Element (j, k) of the symmetric leading block, read from the lower triangle.
double lower(MatrixView<const double> z, int j, int k) { return j >= k ? z(j, k) : z(k, j); }

ext product_sum_row(MatrixView<const double> z, int l, const double* u, int j) {
  ext g = 0.0L;
  for (int k = 1; k <= j; ++k) g += static_cast<ext>(z(j, k)) * u[k - 1];
  const double* col = z.column(j);
  for (int k = j + 1; k <= l; ++k) g += static_cast<ext>(col[k - 1]) * u[k - 1];
  return g;
}

// g(j0) .. g(j0+3): the row parts read four adjacent elements of each column
// k <= j0, the corner is read element by element, the column parts run down
// four columns side by side.
void product_sums_tile(MatrixView<const double> z, int l, const double* u, int j0, ext* g) {
  ext a0 = 0.0L, a1 = 0.0L, a2 = 0.0L, a3 = 0.0L;
  for (int k = 1; k <= j0; ++k) {
    const double* p = &z(j0, k);
    const ext uk = u[k - 1];
    a0 += p[0] * uk;
    a1 += p[1] * uk;
    a2 += p[2] * uk;
    a3 += p[3] * uk;
  }
  for (int k = j0 + 1; k < j0 + tile; ++k) {
    const ext uk = u[k - 1];
    a0 += lower(z, j0, k) * uk;
    a1 += lower(z, j0 + 1, k) * uk;
    a2 += lower(z, j0 + 2, k) * uk;
    a3 += lower(z, j0 + 3, k) * uk;
  }
  const double* c0 = z.column(j0);
  const double* c1 = z.column(j0 + 1);
  const double* c2 = z.column(j0 + 2);
  const double* c3 = z.column(j0 + 3);
  for (int k = j0 + tile; k <= l; ++k) {
    const ext uk = u[k - 1];
    a0 += c0[k - 1] * uk;
    a1 += c1[k - 1] * uk;
    a2 += c2[k - 1] * uk;
    a3 += c3[k - 1] * uk;
  }
  g[j0 - 1] = a0;
  g[j0] = a1;
  g[j0 + 1] = a2;
  g[j0 + 2] = a3;
}

// ---- Reduction: the rank-two update --------------------------------------

ext updated(double z, double uj, double ek, ext gj, double uk) {
  return static_cast<ext>(z) - static_cast<ext>(uj) * ek - gj * uk;
}

// Rows r0..r1 of columns k0..k1 (one-based, k0 <= r1): the update. Eight
// columns go together, so that each row's u(j) and unrounded g(j) (an 80-bit
// load) are loaded once for eight elements; measured on an Intel Xeon the
// reduction of order 1000 takes about 5% less time than with four (the
// register use is the same: u(j), g(j), the element and one product). The
// column factors are read from e and u in the loop on purpose: the x87 unit
// multiplies by a double in memory at no extra cost, while the factors held
// as ext would not fit its registers.
template <int W>
void update_tile(MatrixView<double> z, int k, int r0, int r1, const double* u, const double* e, const ext* g) {
  // The rows the tile's diagonal cuts, element by element; below, W columns
  // at once.
  const int full = std::max(r0, k + W - 1);
  for (int j = std::max(r0, k); j < full && j <= r1; ++j)
    for (int c = k; c <= std::min(j, k + W - 1); ++c)
      z(j, c) = updated(z(j, c), u[j - 1], e[c - 1], g[j - 1], u[c - 1]);
  double* col[W];
  for (int c = 0; c < W; ++c) col[c] = z.column(k + c);
  const double* ek = e + (k - 1);
  const double* uk = u + (k - 1);
  for (int j = full; j <= r1; ++j) {
    const ext uj = u[j - 1];
    const ext gj = g[j - 1];
#pragma GCC unroll 8
    for (int c = 0; c < W; ++c) col[c][j - 1] = static_cast<ext>(col[c][j - 1]) - uj * ek[c] - gj * uk[c];
  }
}

// Columns k0..k1, rows r0..r1 (below or on the diagonal), element by element.
void update_plainly(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                    const ext* g) {
  for (int k = k0; k <= k1; ++k)
    for (int j = std::max(r0, k); j <= r1; ++j) z(j, k) = updated(z(j, k), u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
}

void update_chunk_x87(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                      const ext* g) {
  constexpr int wide = 2 * tile;
  int k = k0;
  for (; k + wide - 1 <= k1; k += wide) update_tile<wide>(z, k, r0, r1, u, e, g);
  for (; k + tile - 1 <= k1; k += tile) update_tile<tile>(z, k, r0, r1, u, e, g);
  update_plainly(z, k, k1, r0, r1, u, e, g);
}

// Rows r0..r1 of columns k0..k1, element by element: each row's sum g2(j)
// from the columns up to its diagonal, and the column sums acc.
void reflect_plainly(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2,
                     ext* acc) {
  for (int j = std::max(r0, k0); j <= r1; ++j) {
    ext s = g2[j - 1];
    for (int k = k0; k <= std::min(j, k1); ++k) {
      const ext x = z(j, k);
      s += x * v[k - 1];
      if (k < j) acc[k - k0] += x * v[j - 1];
    }
    if (j <= k1) {
      acc[j - k0] = s;  // the diagonal: the row part is complete, the column part follows
    } else {
      g2[j - 1] = s;
    }
  }
}

// Rows j0..j1 of the four columns k0..k0+3, all below the columns'
// diagonal: z(j,k)v(k), k = k0..k0+3, into row j's sum g2(j) and z(j,k)v(j)
// into column k's sum acc(k - k0), held in registers through the rows.
void reflect_tile_rows(MatrixView<const double> z, int k0, int j0, int j1, const double* v, ext* g2, ext* acc) {
  const double* c0 = z.column(k0);
  const double* c1 = z.column(k0 + 1);
  const double* c2 = z.column(k0 + 2);
  const double* c3 = z.column(k0 + 3);
  const double* vk = v + (k0 - 1);
  ext a0 = acc[0], a1 = acc[1], a2 = acc[2], a3 = acc[3];
  for (int j = j0; j <= j1; ++j) {
    // The column factors are multiplied in from memory as doubles: held as
    // ext they would not fit the x87 registers beside the five sums and
    // would be reloaded from 80-bit spills.
    asm("" : "+r"(vk));
    const ext vj = v[j - 1];
    ext s = g2[j - 1];
    const ext x0 = c0[j - 1];
    s += x0 * vk[0];
    a0 += x0 * vj;
    const ext x1 = c1[j - 1];
    s += x1 * vk[1];
    a1 += x1 * vj;
    const ext x2 = c2[j - 1];
    s += x2 * vk[2];
    a2 += x2 * vj;
    const ext x3 = c3[j - 1];
    s += x3 * vk[3];
    a3 += x3 * vj;
    g2[j - 1] = s;
  }
  acc[0] = a0;
  acc[1] = a1;
  acc[2] = a2;
  acc[3] = a3;
}

// A whole tile of four columns k0..k0+3 and rows r0..r1 that either lie
// below its diagonal rows or take all of them: the diagonal rows' elements
// go into the column sums in registers (through acc in memory each term
// would cost an 80-bit load and store), then the rows below as
// reflect_tile_chunk takes them.
void reflect_whole_tile(MatrixView<const double> z, int k0, int r0, int r1, const double* v, ext* g2, ext* acc) {
  const double* c0 = z.column(k0);
  const double* c1 = z.column(k0 + 1);
  const double* c2 = z.column(k0 + 2);
  const double* c3 = z.column(k0 + 3);
  const double* vk = v + (k0 - 1);
  int first = r0;
  if (r0 <= k0) {
    ext a0, a1, a2, a3;
    // Row j of the diagonal rows adds z(j,k)v(k), k = k0..j, to its row
    // part, which is then complete and begins column j's sum; its elements
    // left of the diagonal add z(j,k)v(j) to the sums of columns k < j.
    const int d = k0 - 1;  // zero-based row of column k0's diagonal
    ext s = g2[d];
    s += static_cast<ext>(c0[d]) * vk[0];
    a0 = s;
    {
      const ext vj = vk[1];
      const ext x0 = c0[d + 1];
      s = g2[d + 1];
      s += x0 * vk[0];
      a0 += x0 * vj;
      s += static_cast<ext>(c1[d + 1]) * vj;
      a1 = s;
    }
    {
      const ext vj = vk[2];
      const ext x0 = c0[d + 2];
      const ext x1 = c1[d + 2];
      s = g2[d + 2];
      s += x0 * vk[0];
      a0 += x0 * vj;
      s += x1 * vk[1];
      a1 += x1 * vj;
      s += static_cast<ext>(c2[d + 2]) * vj;
      a2 = s;
    }
    {
      const ext vj = vk[3];
      const ext x0 = c0[d + 3];
      const ext x1 = c1[d + 3];
      const ext x2 = c2[d + 3];
      s = g2[d + 3];
      s += x0 * vk[0];
      a0 += x0 * vj;
      s += x1 * vk[1];
      a1 += x1 * vj;
      s += x2 * vk[2];
      a2 += x2 * vj;
      s += static_cast<ext>(c3[d + 3]) * vj;
      a3 = s;
    }
    first = k0 + tile;
    acc[0] = a0;
    acc[1] = a1;
    acc[2] = a2;
    acc[3] = a3;
  }
  reflect_tile_rows(z, k0, first, r1, v, g2, acc);
}

// Rows r0..r1 of columns k0..k1 (at most one tile): the updated elements
// into the sums. acc holds the column parts of the tile's columns whose
// diagonal lies above r0.
void reflect_tile_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2,
                        ext* acc) {
  if (k1 - k0 + 1 < tile) return reflect_plainly(z, k0, k1, r0, r1, v, g2, acc);
  if (r0 > k1 || (r0 <= k0 && k1 <= r1)) return reflect_whole_tile(z, k0, r0, r1, v, g2, acc);
  // The rows the tile's diagonal cuts, element by element (rows above the
  // tile hold none of its elements), then the rows below four columns a row.
  const int full = std::max(r0, k1 + 1);
  reflect_plainly(z, k0, k1, r0, std::min(r1, full - 1), v, g2, acc);
  if (full <= r1) reflect_tile_rows(z, k0, full, r1, v, g2, acc);
}

// ---- Accumulation ----------------------------------------------------------

void reflect_column(MatrixView<double> z, int l, const double* v, const double* r, int j) {
  double* col = z.column(j);
  ext g = 0.0L;
  for (int k = 0; k < l; ++k) g += static_cast<ext>(r[k]) * col[k];
  for (int k = 0; k < l; ++k) col[k] = static_cast<ext>(col[k]) - g * v[k];
}

void reflect_columns_tile(MatrixView<double> z, int l, const double* v, const double* r, int j0) {
  double* c0 = z.column(j0);
  double* c1 = z.column(j0 + 1);
  double* c2 = z.column(j0 + 2);
  double* c3 = z.column(j0 + 3);
  ext a0 = 0.0L, a1 = 0.0L, a2 = 0.0L, a3 = 0.0L;
  for (int k = 0; k < l; ++k) {
    const ext rk = r[k];
    a0 += rk * c0[k];
    a1 += rk * c1[k];
    a2 += rk * c2[k];
    a3 += rk * c3[k];
  }
  for (int k = 0; k < l; ++k) {
    const ext vk = v[k];
    c0[k] = static_cast<ext>(c0[k]) - a0 * vk;
    c1[k] = static_cast<ext>(c1[k]) - a1 * vk;
    c2[k] = static_cast<ext>(c2[k]) - a2 * vk;
    c3[k] = static_cast<ext>(c3[k]) - a3 * vk;
  }
}

// ---- Rotations ----------------------------------------------------------------

// Rotates rows [0, rows) of the column segments zi (column i) and zj (column
// i+1) by (c, s), exactly as the sequential sweep does row by row.
void rotate_segment(double* zi, double* zj, int rows, ext c, ext s) {
  for (int k = 0; k < rows; ++k) {
    const double a = zi[k];
    const double t = zj[k];
    zj[k] = s * a + c * t;
    zi[k] = c * a - s * t;
  }
}

// ---- The plain loops, one sum at a time (Choice::scalar) --------------------

double left(const Left& x, std::size_t i, std::size_t k) {
  return x.transposed ? x.data[k + i * x.ld] : x.data[i + k * x.ld];
}

void multiply_plainly(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  for (std::size_t j = j0; j < j1; ++j) {
    const double* y = p.y + j * p.ldy;
    for (std::size_t i = i0; i < i1; ++i) {
      ext sum = 0.0L;
      if (!p.lower_only || i >= j) {
        for (std::size_t k = 0; k < p.depth; ++k) {
          // As the tiles do: the left operand quieted, the right one loaded.
          ext yk = y[k];
          asm("" : "+t"(yk));
          sum += static_cast<ext>(quieted(left(p.x, i, k))) * yk;
        }
      }
      p.out[i + j * p.ldo] = static_cast<double>(sum);
    }
  }
}

bool scalar() { return choice() == Choice::scalar; }

}  // namespace

std::string_view in_use() {
  if (scalar()) return "scalar";
  // The sums a tile holds: the block products' and the Householder loops'.
  static const std::string tiles =
      tile_rows == tile ? "x87 tiles of " + std::to_string(tile) + " sums"
                        : "x87 tiles of " + std::to_string(tile_rows) + " sums (products), " + std::to_string(tile) +
                              " (Householder)";
  return tiles;
}

ProductBlock product_block() { return {block_rows, group_cols}; }

void multiply_block(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  if (scalar()) return multiply_plainly(p, i0, i1, j0, j1);
  multiply_block_x87(p, i0, i1, j0, j1);
}

void rotate_rows(double* zi, double* zj, int rows, ext c, ext s) { rotate_segment(zi, zj, rows, c, s); }

void rotate_sweep(MatrixView<double> z, int first, int rows, int l, int m, const Rotation* rot) {
  for (int i = m - 1; i >= l; --i, ++rot) rotate_segment(&z(first, i), &z(first, i + 1), rows, rot->c, rot->s);
}

void product_sums(MatrixView<const double> z, int l, const double* u, int first, int last, ext* g) {
  int j = first;
  if (!scalar())
    for (; j + tile - 1 <= last; j += tile) product_sums_tile(z, l, u, j, g);
  for (; j <= last; ++j) g[j - 1] = product_sum_row(z, l, u, j);
}

void update_columns(MatrixView<double> z, int l, const double* u, const double* e, const ext* g, int first,
                    int last) {
  update_chunk(z, first, last, first, l, u, e, g);
}

void update_chunk(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                  const ext* g) {
  if (scalar()) return update_plainly(z, k0, k1, r0, r1, u, e, g);
  update_chunk_x87(z, k0, k1, r0, r1, u, e, g);
}

void reflect_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2, ext* acc) {
  if (scalar()) return reflect_plainly(z, k0, k1, r0, r1, v, g2, acc);
  for (int t0 = k0; t0 <= k1 && t0 <= r1; t0 += tile)
    reflect_tile_chunk(z, t0, std::min(k1, t0 + tile - 1), r0, r1, v, g2, acc + (t0 - k0));
}

void reflect_columns(MatrixView<double> z, int l, const double* v, const double* r, int first, int last) {
  int j = first;
  if (!scalar())
    for (; j + tile - 1 <= last; j += tile) reflect_columns_tile(z, l, v, r, j);
  for (; j <= last; ++j) reflect_column(z, l, v, r, j);
}

}  // namespace blockeig::kernels

#endif
