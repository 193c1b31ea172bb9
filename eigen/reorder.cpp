// Reordering of eigenpairs (block leaders to the front, ascending sort) and
// modified Gram-Schmidt orthonormalization. Moves are exact copies; the
// Gram-Schmidt sums and norms stay in extended precision.
#include <algorithm>
#include <cmath>
#include <utility>

#include "arithmetic/extended.hpp"
#include "runtime/index.hpp"
#include "eigen/solver.hpp"
#include "runtime/allocate.hpp"

namespace blockeig {

namespace {

void copy_column(const double* from, double* to, int n) { std::copy(from, from + n, to); }

// Moves the pair at position s to position b (b <= s), shifting the pairs
// b..s-1 one place towards the end.
void move_pair_forward(VectorView<double> val, MatrixView<double> z, int n, int b, int s,
                       double* buffer) {
  const double t = val(s);
  copy_column(z.column(s), buffer, n);
  for (int q = s; q >= b + 1; --q) {
    val(q) = val(q - 1);
    copy_column(z.column(q - 1), z.column(q), n);
  }
  val(b) = t;
  copy_column(buffer, z.column(b), n);
}

}  // namespace

void reporder2(int n, double* val, double* vec, int nblocks, const int* bstart) {
  runtime::Array<double> buffer;
  runtime::allocate(buffer, {n});
  reporder2(n, val, vec, nblocks, bstart, buffer.data());
  runtime::deallocate(buffer);
}

void reporder2(int n, double* val, double* vec, int nblocks, const int* bstart, double* buffer) {
  const VectorView<double> v{val};
  const MatrixView<double> z{vec, n};
  const VectorView<const int> start{bstart};
  // A leader outside the arrays cannot be moved; such a block is left alone.
  for (int b = 2; b <= nblocks && b <= n; ++b) {
    const int s = start(b);
    if (s >= 1 && s <= n) move_pair_forward(v, z, n, b, s, buffer);
  }
}

void reporder(int n, double* val, double* vec) {
  const VectorView<double> v{val};
  const MatrixView<double> z{vec, n};
  for (int i = 1; i <= n; ++i) {
    int k = i;
    for (int j = i + 1; j <= n; ++j)
      if (v(k) > v(j)) k = j;
    if (k == i) continue;
    std::swap(v(i), v(k));
    std::swap_ranges(z.column(i), z.column(i) + n, z.column(k));
  }
}

void ortog(int n, double* vec) {
  const MatrixView<double> z{vec, n};
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= i - 1; ++j) {
      ext s = 0.0;
      for (int k = 1; k <= n; ++k) s += static_cast<ext>(z(k, i)) * z(k, j);
      for (int k = 1; k <= n; ++k) z(k, i) = static_cast<double>(static_cast<ext>(z(k, i)) - s * z(k, j));
    }
    ext norm2 = 0.0;
    for (int k = 1; k <= n; ++k) norm2 += static_cast<ext>(z(k, i)) * z(k, i);
    const ext r = 1.0 / sqrt(norm2);
    for (int k = 1; k <= n; ++k) z(k, i) = static_cast<double>(z(k, i) * r);
  }
}

}  // namespace blockeig
