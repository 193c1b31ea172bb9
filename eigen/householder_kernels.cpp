// The parallel kernels of tred12. Each sum is held in an x87 register from
// zero to its end; tiles of four sums (rows or columns) share the loads of
// u or r, which keeps four independent chains of additions in flight and
// fits the x87 register stack (four accumulators and the shared factor).
#include "eigen/householder_kernels.hpp"

#include <algorithm>
#include <cstddef>

#include "runtime/thread_pool.hpp"

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

// ---- Reduction: the update fused with the next step's sums ----------------
//
// Columns are taken in bands of band_width, one task each, in ascending
// order. A band updates its columns chunk by chunk of rows and, while the
// chunk is in the first-level cache, adds the updated elements to the sums:
// z(j,k)v(k) to the row part of g2(j) (held in g2[j-1] until the band of
// column j takes it over at the diagonal), z(j,k)v(j) to the column part of
// g2(k) (held by the band of column k). A row's part must receive its terms
// in column order, so a band works on a chunk only once the band before it
// has finished those rows: the bands follow one another down the matrix as
// a wavefront. Each band's rows and sums are its own, so the update and the
// sums are the bits of the two separate passes.

// Wide bands hand a row's running sum from band to band (and so from core to
// core) less often; a chunk of 128 rows of a band, 64 KiB, stays in the
// second-level cache between its update and its sums. Measured here at
// n = 1500 on 2 threads: 2.7 Gterm/s, against 2.1 with bands of 16 columns
// and chunks of 64 rows, and 1.8 for the two separate passes.
constexpr int band_width = 64;
constexpr int chunk_rows = 128;

// Rows r0..r1 of columns k0..k1 (one-based, k0 <= r1): the update.
void update_chunk(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                  const ext* g) {
  int k = k0;
  for (; k + tile - 1 <= k1; k += tile) {
    // The rows the tile's diagonal cuts, element by element; below, four
    // columns at once.
    const int full = std::max(r0, k + tile - 1);
    for (int j = std::max(r0, k); j < full && j <= r1; ++j)
      for (int c = k; c <= std::min(j, k + tile - 1); ++c)
        z(j, c) = updated(z(j, c), u[j - 1], e[c - 1], g[j - 1], u[c - 1]);
    double* c0 = z.column(k);
    double* c1 = z.column(k + 1);
    double* c2 = z.column(k + 2);
    double* c3 = z.column(k + 3);
    const double* ek = e + (k - 1);
    const double* uk = u + (k - 1);
    for (int j = full; j <= r1; ++j) {
      const ext uj = u[j - 1];
      const ext gj = g[j - 1];
      c0[j - 1] = static_cast<ext>(c0[j - 1]) - uj * ek[0] - gj * uk[0];
      c1[j - 1] = static_cast<ext>(c1[j - 1]) - uj * ek[1] - gj * uk[1];
      c2[j - 1] = static_cast<ext>(c2[j - 1]) - uj * ek[2] - gj * uk[2];
      c3[j - 1] = static_cast<ext>(c3[j - 1]) - uj * ek[3] - gj * uk[3];
    }
  }
  for (; k <= k1; ++k)
    for (int j = std::max(r0, k); j <= r1; ++j) z(j, k) = updated(z(j, k), u[j - 1], e[k - 1], g[j - 1], u[k - 1]);
}

// Rows r0..r1 of columns k0..k1 (at most one tile): the updated elements
// into the sums. acc holds the column parts of the tile's columns whose
// diagonal lies above r0.
void reflect_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2, ext* acc) {
  // The rows the tile's diagonal cuts, element by element (rows above the
  // tile hold none of its elements).
  const int full = std::max(r0, k1 + 1);
  for (int j = std::max(r0, k0); j < full && j <= r1; ++j) {
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
  if (full > r1) return;
  if (k1 - k0 + 1 == tile) {
    const double* c0 = z.column(k0);
    const double* c1 = z.column(k0 + 1);
    const double* c2 = z.column(k0 + 2);
    const double* c3 = z.column(k0 + 3);
    const double* vk = v + (k0 - 1);
    ext a0 = acc[0], a1 = acc[1], a2 = acc[2], a3 = acc[3];
    for (int j = full; j <= r1; ++j) {
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
    return;
  }
  for (int j = full; j <= r1; ++j) {
    ext s = g2[j - 1];
    for (int k = k0; k <= k1; ++k) {
      const ext x = z(j, k);
      s += x * v[k - 1];
      acc[k - k0] += x * v[j - 1];
    }
    g2[j - 1] = s;
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

int fused_progress_size(int l) { return std::max(1, (l + band_width - 1) / band_width); }

void update_and_reflect(MatrixView<double> z, int l, const double* u, const double* e, const ext* g,
                        const double* v, ext* g2, int* progress) {
  const int bands = (l + band_width - 1) / band_width;
  for (int j = 0; j < l; ++j) g2[j] = 0.0L;
  for (int b = 0; b < bands; ++b) progress[b] = 0;
  const long terms = 2L * l * l;
  run_tasks(static_cast<std::size_t>(bands), terms, [&](std::size_t t) {
    const int b = static_cast<int>(t);
    const int k0 = 1 + b * band_width;
    const int k1 = std::min(l, k0 + band_width - 1);
    ext acc[band_width];
    for (int r0 = k0; r0 <= l; r0 += chunk_rows) {
      const int r1 = std::min(l, r0 + chunk_rows - 1);
      update_chunk(z, k0, k1, r0, r1, u, e, g);
      // The band before was claimed before this one, so it is running.
      if (b > 0) wait_for_progress(progress[b - 1], r1);
      for (int t0 = k0; t0 <= k1 && t0 <= r1; t0 += tile)
        reflect_chunk(MatrixView<const double>{z.base, z.n}, t0, std::min(k1, t0 + tile - 1), r0, r1, v, g2,
                      acc + (t0 - k0));
      publish_progress(progress[b], r1);
    }
    for (int k = k0; k <= k1; ++k) g2[k - 1] = acc[k - k0];
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
