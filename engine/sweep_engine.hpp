#pragma once
// The block sweeps' engine, which the program and the library share: the
// block layout, the work arrays of one block, and the solves of every block
// of a sweep, side by side on the pool's threads where threads and memory
// allow. What its two users do differently -- where the first block of a
// group gets its memory and what a refusal does, what is shown while the
// blocks are solved, where their values go -- is the BlockHost's.
//
// Within a sweep the blocks are independent: block IB reads A and its own
// columns of C, and writes only those columns and its own positions of E.
// So consecutive blocks run side by side, each on one thread, and every
// block's results are the bits it gets alone. What a host sees stays as the
// blocks one at a time give it:
//
// - The first block of a group takes its work from the host with nothing
//   else held. A block joins the group only if its arrays and work can be
//   had beside those (nothing is reported when they cannot); otherwise it
//   waits and starts the next group. A joining block never asks the host for
//   memory, so a host that ends the run on a refusal never fails a run that
//   would succeed one block at a time.
// - The host receives every block's W before the group's arrays are
//   released, and the four values of its line after, in block order, so a
//   line is never written with more memory held than one block at a time
//   holds.
// - IERR is the last block's code.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "eigen/solver.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

// NBLOCKS consecutive blocks of the positions 1 to N: block IB holds the
// positions BSTART(IB) to BSTART(IB) + BDIM(IB) - 1.
struct Layout {
  std::int32_t N;
  std::int32_t NBLOCKS;
  const std::int32_t* BDIM;
  const std::int32_t* BSTART;
};

// Consecutive blocks of N / NBLOCKS positions; the last takes the rest.
// BDIM and BSTART receive NBLOCKS values each.
void lay_out_blocks(std::int32_t N, std::int32_t NBLOCKS, std::int32_t* BDIM, std::int32_t* BSTART);

// C (N x N) becomes the identity.
void set_identity(std::int32_t N, double* C);

// DELTA = |E(1) - EPREV|: the difference formed in extended precision, the
// result stored as a double.
double sweep_delta(double E1, double EPREV);

// The work arrays of a block of order M, in the order they are allocated,
// each stored column by column: H and U are M x M, T and CNEW N x M, W has M
// elements (one column).
namespace work {
enum Array : std::size_t { H, T, U, W, CNEW, array_count };
}  // namespace work
struct ArrayShape {
  std::int32_t rows;
  std::int32_t columns;
};
std::array<ArrayShape, work::array_count> block_work_shapes(std::int32_t N, std::int32_t M);
// The doubles of all five arrays together.
std::size_t block_work_doubles(std::int32_t N, std::int32_t M);

// Block IB: positions start .. start + size - 1, that is BSTART(IB) and
// BDIM(IB).
struct Block {
  std::int32_t IB;
  std::int32_t start;
  std::int32_t size;
};

// One block of one sweep: its work arrays (indexed by work::Array), its block
// solve's work, its solve's code and the values its line shows.
struct BlockRun {
  Block block{};
  std::array<double*, work::array_count> arrays{};
  Tred12Work solver;
  std::int32_t IERR = 0;
  double line[4] = {};  // W(1), W(2), W(M-1), W(M)
  std::unique_ptr<double[]> storage;  // the arrays, when take_block_work took them
};

// Takes the five arrays of run.block in one buffer, and the block solve's
// work, from the heap: false, holding nothing, when memory does not allow.
// Never reports.
bool take_block_work(std::int32_t N, BlockRun& run) noexcept;
// Gives back what take_block_work took.
void give_back_block_work(BlockRun& run) noexcept;

// What the sweeps' user adds to them. Every call is made on the thread that
// called solve_blocks, outside the pool's tasks.
class BlockHost {
 public:
  virtual ~BlockHost() = default;
  // The arrays and block solve's work of the first block of a group, with
  // nothing else held: set run.arrays and obtain run.solver for
  // run.block.size, or do not return.
  virtual void obtain_work(std::int32_t N, BlockRun& run) = 0;
  // Releases what obtain_work obtained.
  virtual void release_work(BlockRun& run) = 0;
  // Before and after the solves of the `count` blocks of sweep ITER from
  // block IB on.
  virtual void group_starts(std::int32_t /*ITER*/, std::int32_t /*IB*/, int /*count*/) {}
  virtual void group_ends() {}
  // Just before the block solve of a block that runs alone.
  virtual void block_solve_starts() {}
  // Every block of the group in block order, while its arrays are held: its
  // M eigenvalues.
  virtual void block_solved(const Block& /*block*/, std::span<const double> /*W*/) {}
  // Every block of the group in block order, once the group's arrays have
  // been released: W(1), W(2), W(M-1) and W(M).
  virtual void block_ended(const Block& /*block*/, const double (& /*line*/)[4]) {}
};

// Steps 10.1 to 10.8 of sweep ITER for every block of `layout` in
// ascending order: project A (N x N, every element read) onto the block's
// columns of C, solve the projected matrix, rotate the columns onto its
// eigenvectors and put its eigenvalues into the block's positions of E.
// IERR receives the last block's code. The reordering that ends a sweep is
// the caller's.
void solve_blocks(const Layout& layout, const double* A, double* C, double* E, std::int32_t ITER,
                  std::int32_t& IERR, BlockHost& host);

// The state of the sweeps between two of them: ITER is the last sweep's (0
// before the first), EPREV its E(1) (run::EPREV_start before the first),
// DELTA its |E(1) - EPREV| and IERR its last block solve's code.
struct SweepState {
  std::int32_t ITER = 0;
  double EPREV = run::EPREV_start;
  double DELTA = 0.0;
  std::int32_t IERR = 0;
};

// What a client of the sweeps adds to them besides the blocks' part: the
// reordering's column buffer, and what happens at the end of every sweep.
class SweepHost : public BlockHost {
 public:
  // Step 11: reporder2(N, E, C, NBLOCKS, BSTART), with its column buffer
  // taken as the client takes memory.
  virtual void reorder(const Layout& layout, double* C, double* E) = 0;
  // The end of sweep state.ITER: E holds the sweep's values after the
  // reordering, state.DELTA its |E(1) - EPREV| and state.EPREV already E(1).
  // Returns true to end the sweeps after this one.
  virtual bool sweep_ended(const SweepState& state, const double* C, const double* E) = 0;
};

// The sweeps of the block phase on A (N x N, every element read) from the
// basis C and the state given (C the identity and a SweepState() for a new
// run; a resumed run's last sweep otherwise), until `rule` or the host ends
// them. On return C, E and state hold the last sweep's.
void run_sweeps(const Layout& layout, const double* A, double* C, double* E, const run::SweepRule& rule,
                SweepState& state, SweepHost& host);

}  // namespace blockeig
