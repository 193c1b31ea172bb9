#include "eigen/block_products.hpp"

#include <cstddef>

#include "eigen/extended.hpp"

namespace blockeig {

namespace {

inline std::size_t at(int row, int col, int rows) {
  return static_cast<std::size_t>(col) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(row);
}

}  // namespace

void block_times(int n, const double* a, const double* c_b, int m, double* t) {
  for (int u = 0; u < m; ++u)
    for (int i = 0; i < n; ++i) {
      ext sum = 0.0L;
      for (int k = 0; k < n; ++k) sum += static_cast<ext>(a[at(i, k, n)]) * c_b[at(k, u, n)];
      t[at(i, u, n)] = sum;
    }
}

void block_projection(int n, int m, const double* c_b, const double* t, double* h) {
  for (int j = 0; j < m; ++j)
    for (int l = 0; l < m; ++l) {
      ext sum = 0.0L;
      for (int k = 0; k < n; ++k) sum += static_cast<ext>(c_b[at(k, l, n)]) * t[at(k, j, n)];
      h[at(l, j, m)] = sum;
    }
}

void block_rotation(int n, int m, const double* c_b, const double* u, double* cnew) {
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < n; ++i) {
      ext sum = 0.0L;
      for (int k = 0; k < m; ++k) sum += static_cast<ext>(c_b[at(i, k, n)]) * u[at(k, j, m)];
      cnew[at(i, j, n)] = sum;
    }
}

}  // namespace blockeig
