// The direct solve as the program first had it: tred12 with eigenvectors
// (mode 2) into C. Linked in place of driver/direct_solve.cpp into a second
// build of the program, so that tests can run both side by side.
#include "driver/direct_solve.hpp"

#include "eigen/solver.hpp"

namespace blockeig {

void direct_solve(std::int32_t N, const double* A, double* C, double* E, std::int32_t& IERR) {
  tred12(N, A, C, E, 2, IERR);
}

}  // namespace blockeig
