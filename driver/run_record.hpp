#pragma once
// The opt-in records of a run (the results file; later the checkpoint):
// the driver calls these at fixed points of the run, and each is a no-op
// when no record was asked for, so that a run without them does no work
// for them and writes nothing more.
//
// Everything a record needs at the end of a sweep comes through the one
// call record_sweep().
#include <cstdint>
#include <span>

namespace blockeig {

// Start-up, before any work: opens the results file when BLOCKEIG_RESULTS
// (or --results) names one, by writing its first document. A file that
// cannot be written ends the run with a start-up report, exit status 2.
void start_run_record();

// A.SCR has been read (and closed): N and the matrix.
void record_input(std::int32_t N, std::span<const double> A);
// The direct solve has returned: IERR and the N eigenvalues.
void record_direct(std::int32_t IERR, std::span<const double> E);
// The direct phase is complete ("written"): the results file is replaced.
void record_direct_phase_end();
// The block table has been printed.
void record_layout(std::int32_t NBLOCKS, std::span<const std::int32_t> BDIM, std::span<const std::int32_t> BSTART);
// Block IB's line has been printed: its M eigenvalues.
void record_block(std::int32_t IB, std::span<const double> W);

// The state of the block phase when a sweep's line has been printed and
// EPREV updated.
struct SweepEnd {
  std::int32_t N;
  std::int32_t NBLOCKS;
  std::int32_t ITER;
  std::int32_t IERR;
  const double* C;  // N x N, the basis
  const double* E;  // N
  double EPREV;
  double DELTA;
  double TOL;
};
void record_sweep(const SweepEnd& sweep);
// The block phase has ended after `sweep` (its last).
void record_block_phase_end(const SweepEnd& sweep);

}  // namespace blockeig
