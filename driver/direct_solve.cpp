// The direct phase shows the eigenvalues and IERR, never eigenvectors: no
// file, line or report holds them, and the block phase sets all of C to the
// identity before it reads any of it. So the solve asks tred12 for
// eigenvalues only. Its E and IERR are the bits that a solve with vectors
// gives (the reduction and the QL iteration's values do not depend on the
// vectors), without the accumulation of the reflections, the rotations and
// their log. The solver's work vector is still allocated at statement 169.
#include "driver/direct_solve.hpp"

#include "eigen/solver.hpp"

namespace blockeig {

namespace {
constexpr int eigenvalues_only = 1;
}  // namespace

void direct_solve(std::int32_t N, const double* A, double* C, double* E, std::int32_t& IERR) {
  tred12(N, A, C, E, eigenvalues_only, IERR);
}

}  // namespace blockeig
