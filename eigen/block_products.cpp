#include "eigen/block_products.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "eigen/extended.hpp"
#include "eigen/thread_pool.hpp"

// All three products are out(i,j) = sum over k of X(i,k) * Y(k,j), with Y read
// down its columns and X either as stored (A, C_b) or transposed (C_b^T).
//
// Kernel: a tile of tile_rows rows of X is copied, k by k, into a small panel
// that stays in the level-1 cache, and each output element of the tile keeps
// its own running ext sum. With four sums, the loaded Y value and one product
// the x87 register stack holds every operand; more sums would spill to memory
// on every term. The depth is walked in chunks of depth_chunk terms so that the
// panel has a fixed size; between chunks a running sum is parked in an ext
// array, which is exact, so each element is still one ascending sum.
//
// Parallel work: one task is a block of block_rows rows times group_cols
// columns of the output; tasks never share an output element.

namespace blockeig {
namespace {

constexpr int tile_rows = 4;
constexpr std::size_t depth_chunk = 512;
constexpr std::size_t group_cols = 32;
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

// panel[k*R + r] = X(i0+r, k0+k), quieted, for r < R, k < len.
template <int R>
void pack_panel(const Left& x, std::size_t i0, std::size_t k0, std::size_t len, double* panel) {
  if (!x.transposed) {
    const double* column = x.data + i0 + k0 * x.ld;
    for (std::size_t k = 0; k < len; ++k, column += x.ld)
      for (int r = 0; r < R; ++r) panel[k * R + r] = quieted(column[r]);
  } else {
    for (int r = 0; r < R; ++r) {
      const double* row = x.data + k0 + (i0 + r) * x.ld;
      for (std::size_t k = 0; k < len; ++k) panel[k * R + r] = quieted(row[k]);
    }
  }
}

// sum[r] += panel[k*R + r] * y[k] for k = 0, 1, ..., len-1, each product and
// partial sum in ext.
template <int R>
void accumulate(std::size_t len, const double* panel, const double* y, ext* sum) {
  ext s[R];
  for (int r = 0; r < R; ++r) s[r] = sum[r];
  for (std::size_t k = 0; k < len; ++k) {
    ext yk = y[k];
    // Keeps yk a loaded (and so quieted) x87 register value: the compiler
    // would otherwise be free to multiply by y[k] as a memory operand.
    asm("" : "+t"(yk));
#pragma GCC unroll 8
    for (int r = 0; r < R; ++r) s[r] += static_cast<ext>(panel[k * R + r]) * yk;
  }
  for (int r = 0; r < R; ++r) sum[r] = s[r];
}

// Output rows i0..i0+R-1, columns j0..j1-1 (j1 - j0 <= group_cols).
template <int R>
void multiply_tile(const Product& p, std::size_t i0, std::size_t j0, std::size_t j1) {
  ext sums[group_cols][R];
  for (auto& column : sums)
    for (ext& s : column) s = 0.0L;
  double panel[depth_chunk * R];
  for (std::size_t k0 = 0; k0 < p.depth; k0 += depth_chunk) {
    const std::size_t len = std::min(depth_chunk, p.depth - k0);
    pack_panel<R>(p.x, i0, k0, len, panel);
    for (std::size_t j = j0; j < j1; ++j) accumulate<R>(len, panel, p.y + j * p.ldy + k0, sums[j - j0]);
  }
  for (std::size_t j = j0; j < j1; ++j)
    for (int r = 0; r < R; ++r) p.out[i0 + r + j * p.ldo] = static_cast<double>(sums[j - j0][r]);
}

// The last rows - fewer than tile_rows - of a block.
template <int R>
void multiply_edge(const Product& p, std::size_t i0, std::size_t rows, std::size_t j0, std::size_t j1) {
  if constexpr (R > 0) {
    if (rows == R) return multiply_tile<R>(p, i0, j0, j1);
    multiply_edge<R - 1>(p, i0, rows, j0, j1);
  }
}

void multiply_block(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
  std::size_t i = i0;
  for (; i1 - i >= tile_rows; i += tile_rows) multiply_tile<tile_rows>(p, i, j0, j1);
  multiply_edge<tile_rows - 1>(p, i, i1 - i, j0, j1);
}

void multiply(const Product& p) {
  const std::size_t row_blocks = (p.rows + block_rows - 1) / block_rows;
  const std::size_t col_groups = (p.cols + group_cols - 1) / group_cols;
  const auto task = [&p, row_blocks](std::size_t index) {
    const std::size_t i0 = index % row_blocks * block_rows;
    const std::size_t j0 = index / row_blocks * group_cols;
    multiply_block(p, i0, std::min(p.rows, i0 + block_rows), j0, std::min(p.cols, j0 + group_cols));
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
  multiply({order, order, depth, {c_b, depth, true}, t, depth, h, order});
}

void block_rotation(int n, int m, const double* c_b, const double* u, double* cnew) {
  if (n < 1 || m < 1) return;
  const auto rows = static_cast<std::size_t>(n);
  const auto order = static_cast<std::size_t>(m);
  multiply({rows, order, order, {c_b, rows, false}, u, order, cnew, rows});
}

}  // namespace blockeig
