#include "engine/direct_solve.hpp"

#include <cstdlib>

#include "runtime/index.hpp"

namespace blockeig {

namespace {

// Mode -1 (or -2) tells tred12 that C's lower triangle already holds the
// matrix.
constexpr int values_in_place = -1;
constexpr int vectors_in_place = -2;

// C's lower triangle with the diagonal becomes A's, walked along whichever
// of A's directions is the contiguous one.
void copy_lower(const MatrixInPlace& A, double* C) {
  const MatrixView<double> z{C, A.N};
  if (std::abs(A.row_step) <= std::abs(A.column_step)) {
    for (std::int32_t c = 1; c <= A.N; ++c)
      for (std::int32_t r = c; r <= A.N; ++r) z(r, c) = A(r, c);
  } else {
    for (std::int32_t r = 1; r <= A.N; ++r)
      for (std::int32_t c = 1; c <= r; ++c) z(r, c) = A(r, c);
  }
}

}  // namespace

void direct_solve(const MatrixInPlace& A, double* C, double* E, std::int32_t& IERR, Tred12Work& work,
                  bool vectors) {
  copy_lower(A, C);
  tred12(A.N, nullptr, C, E, vectors ? vectors_in_place : values_in_place, IERR, work);
}

}  // namespace blockeig
