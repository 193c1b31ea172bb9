#include "driver/block_iteration.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "driver/console_texts.hpp"
#include "driver/progress.hpp"
#include "records/run_record.hpp"
#include "driver/statement_numbers.hpp"
#include "eigen/block_products.hpp"
#include "eigen/extended.hpp"
#include "eigen/solver.hpp"
#include "runtime/thread_pool.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"
#include "runtime/run_constants.hpp"

// Within a sweep the blocks are independent: block IB reads A and its own
// columns of C, and writes only those columns and its own positions of E.
// So consecutive blocks run side by side on the pool's threads, each on one
// thread, and every block's results are the bits it gets alone. What a user
// sees stays as the blocks one at a time give it:
//
// - The first block of a group takes its arrays as the program does, at
//   statement 60, and its solver's work at statement 169, with nothing else
//   held. A block joins the group only if its arrays and work can be had
//   beside those (no report when they cannot); otherwise it waits and starts
//   the next group. No allocation that can end the run is made while a
//   joining block holds memory, so no run fails that would succeed one block
//   at a time.
// - The group's arrays are released (statement 86) before its block lines
//   are written (statement 72), in block order, so a line is never written
//   with more memory held than one block at a time holds.
// - IERR is the last block's code.

namespace blockeig {

namespace {

using runtime::at;

constexpr std::int64_t console = io::stdout_unit;
constexpr std::int64_t keyboard = io::stdin_unit;
// Blocks whose product A * C_b has fewer terms than this run one at a time:
// handing them to other threads would cost more than it saves.
constexpr double side_by_side_terms = 32768;
// The most blocks that run side by side; more threads than that work inside
// the blocks of a group one at a time.
constexpr int max_group = 16;

// Every block needs at least two positions (its line shows W(1), W(2),
// W(M-1) and W(M)), so the count runs from 1 to N/2. A count outside that
// range, or a null value (which leaves NBLOCKS at 0), is answered with the
// range and the question is asked again.
std::int32_t ask_block_count(std::int32_t N) {
  const std::int32_t most = N / 2;
  for (;;) {
    at(statement::write_prompt);
    io::write_list(console, {"Number of blocks:"});
    std::int32_t NBLOCKS = 0;
    at(statement::read_block_count);
    io::read_list(keyboard, NBLOCKS);
    if (NBLOCKS >= 1 && NBLOCKS <= most) return NBLOCKS;
    at(statement::write_prompt);
    io::write_list(console, {"Number of blocks must be from 1 to", most,
                             "(every block needs at least 2 positions)"});
  }
}

// Consecutive blocks of N / NBLOCKS positions; the last takes the rest.
void lay_out_blocks(std::int32_t N, std::int32_t NBLOCKS, std::int32_t* BDIM, std::int32_t* BSTART) {
  std::int32_t S = 0;
  for (std::int32_t b = 1; b <= NBLOCKS - 1; ++b) {
    BDIM[b - 1] = N / NBLOCKS;
    BSTART[b - 1] = S + 1;
    S += BDIM[b - 1];
  }
  BSTART[NBLOCKS - 1] = S + 1;
  BDIM[NBLOCKS - 1] = N - S;
}

void write_block_table(std::int32_t NBLOCKS, const std::int32_t* BDIM, const std::int32_t* BSTART) {
  at(statement::write_table_heading);
  io::write_list(console, {console_text::table_heading});
  for (std::int32_t b = 1; b <= NBLOCKS; ++b) {
    at(statement::write_table_row);
    io::write_list(console, {b, BDIM[b - 1], BSTART[b - 1], BSTART[b - 1] + BDIM[b - 1] - 1});
  }
}

void set_identity(std::int32_t N, double* C) {
  const std::size_t n = static_cast<std::size_t>(N);
  for (std::size_t k = 0; k < n * n; ++k) C[k] = 0.0;
  for (std::size_t k = 0; k < n; ++k) C[k + k * n] = 1.0;
}

// What every block of a sweep works on: A, the basis C and its values E.
struct Basis {
  std::int32_t N;
  const double* A;
  double* C;
  double* E;
};

// Block IB: positions start .. start + size - 1, that is BSTART(IB) and
// BDIM(IB).
struct Block {
  std::int32_t IB;
  std::int32_t start;
  std::int32_t size;
};

// One block of one sweep: its work arrays, its solve's code and the values
// its line shows. The arrays are the program's own (ALLOCATE, DEALLOCATE)
// for a block that runs first in its group, one spare buffer for a block
// that joins it.
struct BlockRun {
  Block block{};
  double* H = nullptr;
  double* T = nullptr;
  double* U = nullptr;
  double* W = nullptr;
  double* CNEW = nullptr;
  Tred12Work solver;
  std::int32_t IERR = 0;
  double line[4] = {};  // W(1), W(2), W(M-1), W(M)

  runtime::Array<double> allocated_H, allocated_T, allocated_U, allocated_W, allocated_CNEW;
  std::unique_ptr<double[]> spare;
};

// The block's arrays as the program allocates them, then the block solve's
// work; a refusal ends the run with the allocation report.
void allocate_block_work(std::int32_t N, BlockRun& run) {
  const std::int32_t M = run.block.size;
  at(statement::allocate_block_work);
  runtime::allocate(run.allocated_H, {M, M});
  runtime::allocate(run.allocated_T, {N, M});
  runtime::allocate(run.allocated_U, {M, M});
  runtime::allocate(run.allocated_W, {M});
  runtime::allocate(run.allocated_CNEW, {N, M});
  run.H = run.allocated_H.data();
  run.T = run.allocated_T.data();
  run.U = run.allocated_U.data();
  run.W = run.allocated_W.data();
  run.CNEW = run.allocated_CNEW.data();
  at(statement::allocate_tred12_work);
  if (!run.solver.obtain(M)) runtime::allocation_failure(ENOMEM);
  // The products run under the block's own statement, as they do when the
  // solver takes its work only once they are done.
  at(statement::allocate_block_work);
}

// The same storage for a block that joins a group, if memory allows:
// false, holding nothing, when it does not (or when ALLOCATE would refuse
// an array by its size).
bool take_spare_work(std::int32_t N, BlockRun& run) {
  const std::int32_t M = run.block.size;
  const std::int64_t sizes[] = {runtime::allocation_size(sizeof(double), {M, M}),
                                runtime::allocation_size(sizeof(double), {N, M}),
                                runtime::allocation_size(sizeof(double), {M, M}),
                                runtime::allocation_size(sizeof(double), {M}),
                                runtime::allocation_size(sizeof(double), {N, M})};
  std::size_t total = 0;
  for (const std::int64_t bytes : sizes) {
    if (bytes < 0) return false;
    total += static_cast<std::size_t>(bytes) / sizeof(double);
  }
  run.spare.reset(new (std::nothrow) double[std::max<std::size_t>(total, 1)]);
  if (!run.spare || !run.solver.obtain(M)) {
    run.spare.reset();
    return false;
  }
  double* next = run.spare.get();
  double** arrays[] = {&run.H, &run.T, &run.U, &run.W, &run.CNEW};
  for (std::size_t i = 0; i < std::size(arrays); ++i) {
    *arrays[i] = next;
    next += static_cast<std::size_t>(sizes[i]) / sizeof(double);
  }
  return true;
}

void release_block_work(BlockRun& run) {
  run.solver = Tred12Work();
  if (run.spare) {
    run.spare.reset();
    return;
  }
  at(statement::release_block_work);
  runtime::deallocate(run.allocated_H);
  runtime::deallocate(run.allocated_T);
  runtime::deallocate(run.allocated_U);
  runtime::deallocate(run.allocated_W);
  runtime::deallocate(run.allocated_CNEW);
}

// One block of one sweep: project A onto the block's columns of C, solve
// the projected matrix, rotate the columns onto its eigenvectors and put
// its values into E.
// `on_caller`: the block runs alone on the thread that sets the locus, which
// then shows the solve's statement while the solve runs, as a block alone
// does; blocks side by side leave the locus at the group's statement 60.
void solve_block(const Basis& basis, BlockRun& run, bool on_caller) {
  const std::size_t n = static_cast<std::size_t>(basis.N);
  const std::int32_t M = run.block.size;
  const std::size_t m = static_cast<std::size_t>(M);
  double* C_b = basis.C + static_cast<std::size_t>(run.block.start - 1) * n;
  block_times(basis.N, basis.A, C_b, M, run.T);
  block_projection(basis.N, M, C_b, run.T, run.H);
  if (on_caller) at(statement::allocate_tred12_work);
  tred12(M, run.H, run.U, run.W, 2, run.IERR, run.solver);
  block_rotation(basis.N, M, C_b, run.U, run.CNEW);
  std::copy(run.CNEW, run.CNEW + n * m, C_b);
  std::copy(run.W, run.W + m, basis.E + (run.block.start - 1));
  const double line[4] = {run.W[0], run.W[1], run.W[m - 2], run.W[m - 1]};
  std::copy(std::begin(line), std::end(line), run.line);
}

// Takes blocks IB, IB+1, ... into a group as far as threads and memory
// allow; returns how many.
int form_group(std::int32_t N, std::int32_t IB, std::int32_t NBLOCKS, const std::int32_t* BDIM,
               const std::int32_t* BSTART, BlockRun* group) {
  group[0].block = {IB, BSTART[IB - 1], BDIM[IB - 1]};
  allocate_block_work(N, group[0]);
  const double terms = static_cast<double>(N) * N * BDIM[IB - 1];
  const int most = terms < side_by_side_terms ? 1 : std::min({thread_count(), max_group, NBLOCKS - IB + 1});
  int count = 1;
  for (; count < most; ++count) {
    const std::int32_t b = IB + count;
    group[count].block = {b, BSTART[b - 1], BDIM[b - 1]};
    if (!take_spare_work(N, group[count])) break;
  }
  return count;
}

// Blocks IB, IB+1, ... of sweep ITER, side by side where they can be;
// returns the number of blocks solved.
int solve_group(const Basis& basis, std::int32_t ITER, std::int32_t IB, std::int32_t NBLOCKS,
                const std::int32_t* BDIM, const std::int32_t* BSTART, std::int32_t& IERR) {
  BlockRun group[max_group];
  const int count = form_group(basis.N, IB, NBLOCKS, BDIM, BSTART, group);

  char label[64];
  if (count == 1)
    std::snprintf(label, sizeof label, "sweep %d, block %d of %d", static_cast<int>(ITER), static_cast<int>(IB),
                  static_cast<int>(NBLOCKS));
  else
    std::snprintf(label, sizeof label, "sweep %d, blocks %d to %d of %d", static_cast<int>(ITER),
                  static_cast<int>(IB), static_cast<int>(IB + count - 1), static_cast<int>(NBLOCKS));
  progress_show(label);
  if (count == 1)
    solve_block(basis, group[0], /*on_caller=*/true);
  else
    parallel_for(static_cast<std::size_t>(count), [&](std::size_t i) { solve_block(basis, group[i], /*on_caller=*/false); });
  progress_hide();

  // The results file takes every block's W before the arrays go.
  for (int i = 0; i < count; ++i) record_block(group[i].block.IB, {group[i].W, static_cast<std::size_t>(group[i].block.size)});
  for (int i = 0; i < count; ++i) {
    IERR = group[i].IERR;
    release_block_work(group[i]);
  }
  for (int i = 0; i < count; ++i) {
    const double* w = group[i].line;
    at(statement::write_block_line);
    io::write_formatted(console, console_text::iteration_format, {group[i].block.IB, w[0], w[1], w[2], w[3]});
  }
  return count;
}

}  // namespace

void block_iteration(std::int32_t N, const runtime::Array<double>& A, runtime::Array<double>& C, runtime::Array<double>& E,
                     std::int32_t& IERR, runtime::Array<std::int32_t>& BDIM, runtime::Array<std::int32_t>& BSTART) {
  const std::int32_t NBLOCKS = ask_block_count(N);
  record_block_count(NBLOCKS);
  at(statement::allocate_layout);
  runtime::allocate(BDIM, {NBLOCKS});
  runtime::allocate(BSTART, {NBLOCKS});
  lay_out_blocks(N, NBLOCKS, BDIM.data(), BSTART.data());
  write_block_table(NBLOCKS, BDIM.data(), BSTART.data());
  record_layout(NBLOCKS, {BDIM.data(), BDIM.size()}, {BSTART.data(), BSTART.size()});

  set_identity(N, C.data());
  const Basis basis{N, A.data(), C.data(), E.data()};
  const double TOL = run::TOL;
  double EPREV = run::EPREV_start;
  double DELTA = 0.0;
  std::int32_t ITER = 0;
  begin_sweeps({N, NBLOCKS, ITER, IERR, C.data(), E.data(), EPREV});
  do {
    ++ITER;
    for (std::int32_t IB = 1; IB <= NBLOCKS;)
      IB += solve_group(basis, ITER, IB, NBLOCKS, BDIM.data(), BSTART.data(), IERR);
    at(statement::allocate_reporder2_buffer);
    reporder2(N, E.data(), C.data(), NBLOCKS, BSTART.data());
    DELTA = static_cast<double>(fabs(static_cast<ext>(E[0]) - static_cast<ext>(EPREV)));
    at(statement::write_sweep_line);
    io::write_formatted(console, console_text::iteration_format, {ITER, E[0], E[1], E[N - 2], E[N - 1], DELTA, TOL});
    EPREV = E[0];
    record_sweep({N, NBLOCKS, ITER, IERR, C.data(), E.data(), EPREV, DELTA, TOL});
  } while (run::another_sweep_follows(DELTA, TOL, ITER));
  record_block_phase_end({N, NBLOCKS, ITER, IERR, C.data(), E.data(), EPREV, DELTA, TOL});
}

}  // namespace blockeig
