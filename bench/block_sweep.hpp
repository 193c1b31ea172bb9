// The block phase's arithmetic for one sweep, timed: what the results file
// and the checkpoint benches set their per-sweep costs against.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "bench/bench_support.hpp"
#include "eigen/block_products.hpp"
#include "eigen/solver.hpp"

namespace blockeig::bench {

inline double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Seconds for one sweep over A (N x N) and the basis C (N x N) in NBLOCKS
// blocks of M = N / NBLOCKS: per block the three products and the block
// solve. The reordering and the copies back into C are left out, which
// makes the sweep look cheaper and the files set against it dearer.
inline double one_sweep_seconds(int N, int NBLOCKS, const std::vector<double>& A, const std::vector<double>& C) {
  const int M = N / NBLOCKS;
  std::vector<double> T(static_cast<std::size_t>(N) * M), H(static_cast<std::size_t>(M) * M), U(H.size()),
      W(static_cast<std::size_t>(M)), CNEW(T.size());
  Tred12Work work;
  if (!work.obtain(M)) throw std::bad_alloc();
  const auto t0 = Clock::now();
  for (int b = 0; b < NBLOCKS; ++b) {
    const double* C_b = C.data() + static_cast<std::size_t>(b) * M * N;
    int ierr = 0;
    block_times(N, A.data(), C_b, M, T.data());
    block_projection(N, M, C_b, T.data(), H.data());
    tred12(M, H.data(), U.data(), W.data(), 2, ierr, work);
    block_rotation(N, M, C_b, U.data(), CNEW.data());
  }
  return seconds_since(t0);
}

}  // namespace blockeig::bench
