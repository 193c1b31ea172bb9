#include "eigen/block_products.hpp"

#include <algorithm>
#include <cstddef>

#include "arithmetic/extended_kernels.hpp"
#include "runtime/thread_pool.hpp"

// All three products are out(i,j) = sum over k of X(i,k) * Y(k,j), with Y read
// down its columns and X either as stored (A, C_b) or transposed (C_b^T).
//
// A task owns a block of output rows and columns as wide as the arithmetic's
// kernel (arithmetic/extended_kernels.hpp) wants it, and the kernel forms each of
// its elements as one sum over the whole depth. Tasks never share an output
// element, so the thread count and the order in which tasks run change no
// bit.

namespace blockeig {
namespace {

using kernels::Left;
using kernels::Product;

constexpr std::size_t min_group_cols = 8;
// Products with fewer terms run on one thread (the caller's, where its stack
// holds a tile's frame): waking the pool would cost more than it saves.
constexpr double inline_terms = 32768;

// Column groups as wide as the kernel takes, so that X is fetched from
// memory as few times as possible, but narrow enough to give every thread
// several tasks.
std::size_t group_width(std::size_t rows, std::size_t cols) {
  const auto [block_rows, group_cols] = kernels::product_block();
  const std::size_t row_blocks = (rows + block_rows - 1) / block_rows;
  const std::size_t wanted_tasks = 8 * static_cast<std::size_t>(concurrent_threads());
  std::size_t width = std::min(cols, group_cols);
  while (width > min_group_cols && row_blocks * ((cols + width - 1) / width) < wanted_tasks) width = (width + 1) / 2;
  return width;
}

void multiply(const Product& p) {
  const std::size_t block_rows = kernels::product_block().rows;
  const std::size_t row_blocks = (p.rows + block_rows - 1) / block_rows;
  const std::size_t width = group_width(p.rows, p.cols);
  const std::size_t col_groups = (p.cols + width - 1) / width;
  const auto task = [&p, row_blocks, block_rows, width](std::size_t index) {
    const std::size_t i0 = index % row_blocks * block_rows;
    const std::size_t j0 = index / row_blocks * width;
    kernels::multiply_block(p, i0, std::min(p.rows, i0 + block_rows), j0, std::min(p.cols, j0 + width));
  };
  const std::size_t tasks = row_blocks * col_groups;
  const double terms = static_cast<double>(p.rows) * static_cast<double>(p.cols) * static_cast<double>(p.depth);
  if (terms < inline_terms) {
    serial_for(tasks, task);
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
