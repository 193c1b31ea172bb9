#pragma once
#include <cstdint>

namespace blockeig {

// The direct phase's solve of the whole matrix: E receives the eigenvalues
// of A in ascending order (as the QL iteration leaves them when IERR is not
// 0), IERR the solver's code. C is the solve's work matrix and holds nothing
// of use afterwards. A is not changed.
void direct_solve(std::int32_t N, const double* A, double* C, double* E, std::int32_t& IERR);

}  // namespace blockeig
