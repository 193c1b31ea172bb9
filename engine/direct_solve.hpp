#pragma once
// The direct solve of the whole matrix, which the program and the library
// share.
#include <cstddef>
#include <cstdint>

#include "eigen/solver.hpp"

namespace blockeig {

// A symmetric matrix of order N read where it lies: element (r, c), one-based,
// at base[(r-1) * row_step + (c-1) * column_step]. Stored column by column
// with leading dimension ld, row_step is 1 and column_step ld; stored row by
// row, the other way round.
struct MatrixInPlace {
  const double* base;
  std::int32_t N;
  std::ptrdiff_t row_step;
  std::ptrdiff_t column_step;

  double operator()(std::int32_t r, std::int32_t c) const { return base[(r - 1) * row_step + (c - 1) * column_step]; }
};

// tred12 on the whole matrix, with its work obtained ahead (work.obtain(N)).
//   A       [in]  only the lower triangle with the diagonal is read.
//   C       [out] N x N; with `vectors`, column j is the unit eigenvector of
//                 E(j); without, scratch (the reduced lower triangle).
//   E       [out] N; the eigenvalues, ascending when IERR is 0 (as the QL
//                 iteration leaves them otherwise).
//   IERR    [out] 0, or the position at which the QL iteration gave up.
// The same bits as tred12(N, A, C, E, vectors ? 2 : 1, IERR) on A stored
// column by column. Allocates nothing but, with vectors, the QL iteration's
// rotation log, whose refusal costs no result.
void direct_solve(const MatrixInPlace& A, double* C, double* E, std::int32_t& IERR, Tred12Work& work,
                  bool vectors);

}  // namespace blockeig
