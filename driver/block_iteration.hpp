#pragma once
#include <cstdint>

#include "runtime/allocate.hpp"

namespace blockeig {

// The block phase: asks for the number of blocks, lays the blocks out in
// BDIM and BSTART (left allocated for the caller to release), resets C to
// the identity and runs block Rayleigh-Ritz sweeps until E(1) moves by no
// more than TOL or 101 sweeps have run (another TOL and limit when --tol
// and --max-sweeps give them). A is read only; C and E end with
// the last sweep's basis and values; IERR holds the last block solve's code.
void block_iteration(std::int32_t N, const runtime::Array<double>& A, runtime::Array<double>& C, runtime::Array<double>& E,
                     std::int32_t& IERR, runtime::Array<std::int32_t>& BDIM, runtime::Array<std::int32_t>& BSTART);

}  // namespace blockeig
