#include "eigen/block_products.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "eigen/extended.hpp"
#include "runtime/thread_pool.hpp"

// All three products are out(i,j) = sum over k of X(i,k) * Y(k,j), with Y read
// down its columns and X either as stored (A, C_b) or transposed (C_b^T).
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
// Tasks never share an output element, so the thread count and the order in
// which tasks run change no bit.

namespace blockeig {
namespace {

constexpr int tile_rows = 4;
constexpr std::size_t depth_chunk = 512;
constexpr std::size_t group_cols = 128;
constexpr std::size_t min_group_cols = 8;
constexpr std::size_t block_rows = 4 * tile_rows;
// Products with fewer terms run on the calling thread: waking the pool would
// cost more than it saves.
constexpr double inline_terms = 32768;

// The left factor: X(i,k) = data[i + k*ld], or data[k + i*ld] when transposed.
struct Left {
  const double* data;
  std::size_t ld;
  bool transposed;
};

struct Product {
  std::size_t rows, cols, depth;
  Left x;
  const double* y;  // Y(k,j) = y[k + j*ldy]
  std::size_t ldy;
  double* out;  // out(i,j) = out[i + j*ldo]
  std::size_t ldo;
  bool lower_only = false;  // form only out(i,j) with i >= j
};

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
void multiply_block(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
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

// Column groups as wide as the sums array allows, so that X is fetched from
// memory as few times as possible, but narrow enough to give every thread
// several tasks.
std::size_t group_width(std::size_t rows, std::size_t cols) {
  const std::size_t row_blocks = (rows + block_rows - 1) / block_rows;
  const std::size_t wanted_tasks = 8 * static_cast<std::size_t>(concurrent_threads());
  std::size_t width = std::min(cols, group_cols);
  while (width > min_group_cols && row_blocks * ((cols + width - 1) / width) < wanted_tasks) width = (width + 1) / 2;
  return width;
}

void multiply(const Product& p) {
  const std::size_t row_blocks = (p.rows + block_rows - 1) / block_rows;
  const std::size_t width = group_width(p.rows, p.cols);
  const std::size_t col_groups = (p.cols + width - 1) / width;
  const auto task = [&p, row_blocks, width](std::size_t index) {
    const std::size_t i0 = index % row_blocks * block_rows;
    const std::size_t j0 = index / row_blocks * width;
    multiply_block(p, i0, std::min(p.rows, i0 + block_rows), j0, std::min(p.cols, j0 + width));
  };
  const std::size_t tasks = row_blocks * col_groups;
  const double terms = static_cast<double>(p.rows) * static_cast<double>(p.cols) * static_cast<double>(p.depth);
  if (terms < inline_terms) {
    for (std::size_t index = 0; index < tasks; ++index) task(index);
  } else {
    parallel_for(tasks, task);
  }
}

}  // namespace

void block_times(int n, const double* a, const double* c_b, int m, double* t) {
  if (n < 1 || m < 1) return;
  const auto rows = static_cast<std::size_t>(n);
  const auto cols = static_cast<std::size_t>(m);
  multiply({rows, cols, rows, {a, rows, false}, c_b, rows, t, rows});
}

void block_projection(int n, int m, const double* c_b, const double* t, double* h) {
  if (n < 1 || m < 1) return;
  const auto depth = static_cast<std::size_t>(n);
  const auto order = static_cast<std::size_t>(m);
  multiply({order, order, depth, {c_b, depth, true}, t, depth, h, order, true});
}

void block_rotation(int n, int m, const double* c_b, const double* u, double* cnew) {
  if (n < 1 || m < 1) return;
  const auto rows = static_cast<std::size_t>(n);
  const auto order = static_cast<std::size_t>(m);
  multiply({rows, order, order, {c_b, rows, false}, u, order, cnew, rows});
}

}  // namespace blockeig
