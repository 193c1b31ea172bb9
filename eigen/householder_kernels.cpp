// The parallel kernels of tred12. Each sum is held in an x87 register from
// zero to its end; tiles of four sums (rows or columns) share the loads of
// u or r, which keeps four independent chains of additions in flight and
// fits the x87 register stack (four accumulators and the shared factor).
#include "eigen/householder_kernels.hpp"

#include <algorithm>
#include <cstddef>

#include "eigen/thread_pool.hpp"

namespace blockeig {

namespace {

constexpr int tile = 4;            // sums per tile
constexpr int tiles_per_task = 4;  // 16 rows or columns per task
// Below this many terms a step is done on the calling thread: handing it to
// the pool would cost more than it saves.
constexpr long min_parallel_terms = 128L * 128L;

template <class Body>
void run_tasks(std::size_t count, long terms, Body&& body) {
  if (terms < min_parallel_terms) {
    for (std::size_t t = 0; t < count; ++t) body(t);
  } else {
    parallel_for(count, body);
  }
}

// Calls part(first, last) on consecutive ranges of 1..l of `width` each
// (the last one shorter), as parallel tasks.
template <class Part>
void split_range(int l, int width, long terms, Part&& part) {
  const std::size_t count = static_cast<std::size_t>((l + width - 1) / width);
  run_tasks(count, terms, [&](std::size_t t) {
    const int first = 1 + static_cast<int>(t) * width;
    part(first, std::min(l, first + width - 1));
  });
}

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

void update_column(MatrixView<double> z, int l, const double* u, const double* e, const ext* g,
                   int k) {
  double* col = z.column(k);
  for (int j = k; j <= l; ++j) col[j - 1] = updated(col[j - 1], u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
}

// Columns k0 .. k0+3 together, so that each row's u(j) and unrounded g(j) are
// loaded once for four elements. The column factors are read from e and u in
// the loop on purpose: the x87 unit multiplies by a double in memory at no
// extra cost, while eight factors held as ext would not fit its registers.
void update_columns_tile(MatrixView<double> z, int l, const double* u, const double* e,
                         const ext* g, int k0) {
  for (int j = k0; j < k0 + tile - 1; ++j)
    for (int k = k0; k <= j; ++k) z(j, k) = updated(z(j, k), u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
  double* c0 = z.column(k0);
  double* c1 = z.column(k0 + 1);
  double* c2 = z.column(k0 + 2);
  double* c3 = z.column(k0 + 3);
  const double* ek = e + (k0 - 1);
  const double* uk = u + (k0 - 1);
  for (int j = k0 + tile - 1; j <= l; ++j) {
    const ext uj = u[j - 1];
    const ext gj = g[j - 1];
    c0[j - 1] = static_cast<ext>(c0[j - 1]) - uj * ek[0] - gj * uk[0];
    c1[j - 1] = static_cast<ext>(c1[j - 1]) - uj * ek[1] - gj * uk[1];
    c2[j - 1] = static_cast<ext>(c2[j - 1]) - uj * ek[2] - gj * uk[2];
    c3[j - 1] = static_cast<ext>(c3[j - 1]) - uj * ek[3] - gj * uk[3];
  }
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

}  // namespace

void reflect_products(MatrixView<const double> z, int l, const double* u, ext* g) {
  const long terms = static_cast<long>(l) * l;
  split_range(l, tile * tiles_per_task, terms, [&](int first, int last) {
    int j = first;
    for (; j + tile - 1 <= last; j += tile) product_sums_tile(z, l, u, j, g);
    for (; j <= last; ++j) g[j - 1] = product_sum_row(z, l, u, j);
  });
}

void rank_two_update(MatrixView<double> z, int l, const double* u, const double* e,
                     const ext* g) {
  const long terms = static_cast<long>(l) * l;
  split_range(l, tile * tiles_per_task, terms, [&](int first, int last) {
    int k = first;
    for (; k + tile - 1 <= last; k += tile) update_columns_tile(z, l, u, e, g, k);
    for (; k <= last; ++k) update_column(z, l, u, e, g, k);
  });
}

void apply_reflection(MatrixView<double> z, int l, int v, const double* r) {
  const double* column = z.column(v);
  const long terms = 2L * l * l;
  split_range(l, tile * tiles_per_task, terms, [&](int first, int last) {
    int j = first;
    for (; j + tile - 1 <= last; j += tile) reflect_columns_tile(z, l, column, r, j);
    for (; j <= last; ++j) reflect_column(z, l, column, r, j);
  });
}

}  // namespace blockeig
