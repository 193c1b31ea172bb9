// The direct solve as the program first had it: tred12 with eigenvectors
// (mode 2) into C, reading A itself. Built in place of
// engine/direct_solve.cpp into a second build of the program
// (blockeig_with_vectors, tests/CMakeLists.txt), so that tests can run both
// side by side.
#include "engine/direct_solve.hpp"

namespace blockeig {

void direct_solve(const MatrixInPlace& A, double* C, double* E, std::int32_t& IERR, Tred12Work& work, bool) {
  tred12(A.N, A.base, C, E, 2, IERR, work);
}

}  // namespace blockeig
