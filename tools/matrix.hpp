#pragma once
// The square matrix every scrtool format converts to and from: blockeig's
// own layout, element (i, j) (one-based) at position (j-1)*n + (i-1).
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/run_constants.hpp"
#include "io/record_format.hpp"

namespace scrtool {

// Orders blockeig can read: the summary line needs E(2), and 8*N*N bytes
// must fit one record.
inline constexpr std::int64_t min_order = blockeig::run::min_matrix_order;
inline constexpr std::int64_t max_order = blockeig::io::max_matrix_order;

struct Matrix {
  std::int32_t n = 0;
  std::vector<double> a;  // n*n elements, column by column

  Matrix() = default;
  explicit Matrix(std::int32_t order)
      : n(order), a(static_cast<std::size_t>(order) * static_cast<std::size_t>(order), 0.0) {}

  // One-based element access; requires 1 <= i, j <= n.
  double& operator()(std::int64_t i, std::int64_t j) {
    assert(i >= 1 && i <= n && j >= 1 && j <= n);
    return a[static_cast<std::size_t>((j - 1) * n + (i - 1))];
  }
  double operator()(std::int64_t i, std::int64_t j) const {
    assert(i >= 1 && i <= n && j >= 1 && j <= n);
    return a[static_cast<std::size_t>((j - 1) * n + (i - 1))];
  }
};

// Throws ToolError (naming `where`, e.g. "x.mtx:3:1") unless
// min_order <= n <= max_order.
void require_blockeig_order(std::int64_t n, const char* where_prefix);

}  // namespace scrtool
