// The rotation log: recording sweeps, and applying them panel by panel.
#include "eigen/rotation_log.hpp"

#include <algorithm>
#include <new>

#include "arithmetic/extended_kernels.hpp"
#include "runtime/thread_pool.hpp"

namespace blockeig {

namespace {

// Rows per panel. The arithmetic, not memory, bounds the rotations: a row
// segment of a column is rotated at the same speed from 128 rows up to whole
// columns (shorter segments are slower), and the eigenvector matrix of the
// sizes the program meets stays in the last-level cache. So panels are long,
// and about four per thread, so that a thread slowed by other work on its
// core is evened out by the others; small orders still get one per thread.
int panel_rows(int n, int threads) {
  constexpr int long_rows = 128;
  constexpr int granule = 8;  // a cache line of doubles
  const int share = (n + 4 * threads - 1) / (4 * threads);
  const int rows = std::max(share, std::min(long_rows, (n + threads - 1) / threads));
  return std::min(n, (rows + granule - 1) / granule * granule);
}

}  // namespace

RotationLog::RotationLog(int n, std::size_t capacity) : n_(n) {
  // A whole QL run rarely needs more than n^2 rotations; beyond that the log
  // flushes. When memory is short, a log of half the size is tried, down to
  // one sweep's length.
  const std::size_t order = static_cast<std::size_t>(std::max(n, 0));
  std::size_t want = std::min(capacity, order * order);
  while (want > 0) {
    rotations_.reset(new (std::nothrow) Rotation[want]);
    if (rotations_) break;
    want = want / 2 < order ? 0 : want / 2;
  }
  if (!rotations_) return;
  const std::size_t sweeps = want / 4 + 1;
  sweeps_.reset(new (std::nothrow) Sweep[sweeps]);
  if (!sweeps_) {
    rotations_.reset();
    return;
  }
  rotation_capacity_ = want;
  sweep_capacity_ = sweeps;
}

RotationLog::~RotationLog() = default;

Rotation* RotationLog::record_sweep(MatrixView<double> z, int l, int m) {
  const std::size_t count = static_cast<std::size_t>(m - l);
  if (count > rotation_capacity_) {
    flush(z);
    return nullptr;
  }
  if (rotation_count_ + count > rotation_capacity_ || sweep_count_ == sweep_capacity_) flush(z);
  sweeps_[sweep_count_++] = Sweep{l, m, rotation_count_};
  Rotation* room = &rotations_[rotation_count_];
  rotation_count_ += count;
  return room;
}

void RotationLog::apply_to_rows(MatrixView<double> z, int first_row, int rows) const {
  for (std::size_t w = 0; w < sweep_count_; ++w) {
    const Sweep& sweep = sweeps_[w];
    kernels::rotate_sweep(z, first_row, rows, sweep.l, sweep.m, &rotations_[sweep.first]);
  }
}

void RotationLog::flush(MatrixView<double> z) {
  if (sweep_count_ == 0) return;
  const int rows = panel_rows(n_, concurrent_threads());
  const int panels = (n_ + rows - 1) / rows;
  parallel_for(static_cast<std::size_t>(panels), [&](std::size_t p) {
    const int first = 1 + static_cast<int>(p) * rows;
    apply_to_rows(z, first, std::min(rows, n_ - first + 1));
  });
  sweep_count_ = 0;
  rotation_count_ = 0;
}

}  // namespace blockeig
