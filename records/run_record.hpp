#pragma once
// The opt-in records of a run (the results file, the checkpoint): the
// driver calls these at fixed points of the run, and each is a no-op when no
// record was asked for, so that a run without them does no work for them
// and writes nothing more.
//
// Everything a record needs at the end of a sweep comes through the one
// call record_sweep(); a run resumed from a checkpoint takes up its sweeps
// in begin_sweeps().
#include <cstdint>
#include <span>

#include "runtime/run_constants.hpp"

namespace blockeig {

// Start-up, before any work: checks the checkpoint when BLOCKEIG_CHECKPOINT
// (or --checkpoint) names one, then opens the results file when
// BLOCKEIG_RESULTS (or --results) names one, by writing its first document.
// A checkpoint that does not fit the run, or a file that cannot be written,
// ends the run with a start-up report, exit status 2.
void start_run_record();

// A.SCR has been read (and closed): N and the matrix.
void record_input(std::int32_t N, std::span<const double> A);
// The direct solve has returned: IERR and the N eigenvalues.
void record_direct(std::int32_t IERR, std::span<const double> E);
// The direct phase is complete ("written"): the results file is replaced.
void record_direct_phase_end();
// The count of blocks has been read.
void record_block_count(std::int32_t NBLOCKS);
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
  run::SweepRule rule;  // TOL and the sweep limit in force
};
void record_sweep(const SweepEnd& sweep);
// The state of the block phase before its first sweep (C the identity,
// ITER 0, EPREV 1.0e12): a run resumed from a checkpoint writes the console
// lines of the sweeps the checkpoint holds and sets ITER, IERR, C, E and
// EPREV as they were at the end of the last of them.
struct SweepStart {
  std::int32_t N;
  std::int32_t NBLOCKS;
  std::int32_t& ITER;
  std::int32_t& IERR;
  double* C;  // N x N
  double* E;  // N
  double& EPREV;
};
void begin_sweeps(const SweepStart& start);

// The block phase has ended after `sweep` (its last).
void record_block_phase_end(const SweepEnd& sweep);

}  // namespace blockeig
