// The parallel kernels of tred12: the work is split here, by whole sums and
// whole elements, and each share computed by the kernels of
// arithmetic/extended_kernels.hpp.
#include "eigen/householder_kernels.hpp"

#include <algorithm>
#include <cstddef>

#include "arithmetic/extended_kernels.hpp"
#include "runtime/thread_pool.hpp"

namespace blockeig {

namespace {

constexpr int task_width = 16;  // rows or columns per task
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


}  // namespace

void reflect_products(MatrixView<const double> z, int l, const double* u, ext* g) {
  const long terms = static_cast<long>(l) * l;
  split_range(l, task_width, terms,
              [&](int first, int last) { kernels::product_sums(z, l, u, first, last, g); });
}

void rank_two_update(MatrixView<double> z, int l, const double* u, const double* e,
                     const ext* g) {
  const long terms = static_cast<long>(l) * l;
  split_range(l, task_width, terms,
              [&](int first, int last) { kernels::update_columns(z, l, u, e, g, first, last); });
}

int fused_progress_size(int l) { return std::max(1, (l + band_width - 1) / band_width); }

void update_and_reflect(MatrixView<double> z, int l, const double* u, const double* e, const ext* g,
                        const double* v, ext* g2, int* progress) {
  const int bands = (l + band_width - 1) / band_width;
  for (int j = 0; j < l; ++j) g2[j] = 0.0;
  for (int b = 0; b < bands; ++b) progress[b] = 0;
  const long terms = 2L * l * l;
  run_tasks(static_cast<std::size_t>(bands), terms, [&](std::size_t t) {
    const int b = static_cast<int>(t);
    const int k0 = 1 + b * band_width;
    const int k1 = std::min(l, k0 + band_width - 1);
    ext acc[band_width];
    for (int r0 = k0; r0 <= l; r0 += chunk_rows) {
      const int r1 = std::min(l, r0 + chunk_rows - 1);
      kernels::update_chunk(z, k0, k1, r0, r1, u, e, g);
      // The band before was claimed before this one, so it is running.
      if (b > 0) wait_for_progress(progress[b - 1], r1);
      kernels::reflect_chunk(MatrixView<const double>{z.base, z.n}, k0, k1, r0, r1, v, g2, acc);
      publish_progress(progress[b], r1);
    }
    for (int k = k0; k <= k1; ++k) g2[k - 1] = acc[k - k0];
  });
}

void apply_reflection(MatrixView<double> z, int l, int v, const double* r) {
  const double* column = z.column(v);
  const long terms = 2L * l * l;
  split_range(l, task_width, terms,
              [&](int first, int last) { kernels::reflect_columns(z, l, column, r, first, last); });
}

}  // namespace blockeig
