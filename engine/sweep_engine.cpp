#include "engine/sweep_engine.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "eigen/block_products.hpp"
#include "arithmetic/extended.hpp"
#include "runtime/allocate.hpp"
#include "runtime/thread_pool.hpp"

namespace blockeig {

namespace {

// Blocks whose product A * C_b has fewer terms than this run one at a time:
// handing them to other threads would cost more than it saves.
constexpr double side_by_side_terms = 32768;
// The most blocks that run side by side; more threads than that work inside
// the blocks of a group one at a time.
constexpr int max_group = 16;

// A block joins a group only with arrays that ALLOCATE would grant by their
// size, so that joining never takes memory in a way the program could not.
bool within_allocation_limit(std::int32_t N, std::int32_t M) {
  for (const ArrayShape& shape : block_work_shapes(N, M))
    if (runtime::allocation_size(sizeof(double), {shape.rows, shape.columns}) < 0) return false;
  return true;
}

// One block of one sweep: project A onto the block's columns of C, solve
// the projected matrix, rotate the columns onto its eigenvectors and put its
// values into E. `alone`: the block runs by itself on the caller's thread.
void solve_block(const Layout& layout, const double* A, double* C, double* E, BlockRun& run, BlockHost* alone) {
  const std::size_t n = static_cast<std::size_t>(layout.N);
  const std::int32_t M = run.block.size;
  const std::size_t m = static_cast<std::size_t>(M);
  double* const* a = run.arrays.data();
  double* C_b = C + static_cast<std::size_t>(run.block.start - 1) * n;
  block_times(layout.N, A, C_b, M, a[work::T]);
  block_projection(layout.N, M, C_b, a[work::T], a[work::H]);
  if (alone != nullptr) alone->block_solve_starts();
  tred12(M, a[work::H], a[work::U], a[work::W], 2, run.IERR, run.solver);
  block_rotation(layout.N, M, C_b, a[work::U], a[work::CNEW]);
  std::copy(a[work::CNEW], a[work::CNEW] + n * m, C_b);
  const double* W = a[work::W];
  std::copy(W, W + m, E + (run.block.start - 1));
  const double line[4] = {W[0], W[1], W[m - 2], W[m - 1]};
  std::copy(std::begin(line), std::end(line), run.line);
}

Block block_of(const Layout& layout, std::int32_t IB) {
  return {IB, layout.BSTART[IB - 1], layout.BDIM[IB - 1]};
}

// Takes blocks IB, IB+1, ... into a group as far as threads and memory
// allow; returns how many.
int form_group(const Layout& layout, std::int32_t IB, BlockHost& host, BlockRun* group) {
  group[0].block = block_of(layout, IB);
  host.obtain_work(layout.N, group[0]);
  const double terms = static_cast<double>(layout.N) * layout.N * group[0].block.size;
  const int most =
      terms < side_by_side_terms ? 1 : std::min({concurrent_threads(), max_group, layout.NBLOCKS - IB + 1});
  int count = 1;
  for (; count < most; ++count) {
    BlockRun& run = group[count];
    run.block = block_of(layout, IB + count);
    if (!within_allocation_limit(layout.N, run.block.size) || !take_block_work(layout.N, run)) break;
  }
  return count;
}

// Blocks IB, IB+1, ... of sweep ITER, side by side where they can be;
// returns the number of blocks solved.
int solve_group(const Layout& layout, const double* A, double* C, double* E, std::int32_t ITER, std::int32_t IB,
                std::int32_t& IERR, BlockHost& host) {
  BlockRun group[max_group];
  const int count = form_group(layout, IB, host, group);
  host.group_starts(ITER, IB, count);
  if (count == 1)
    solve_block(layout, A, C, E, group[0], &host);
  else
    parallel_for(static_cast<std::size_t>(count),
                 [&](std::size_t i) { solve_block(layout, A, C, E, group[i], nullptr); });
  host.group_ends();

  for (int i = 0; i < count; ++i)
    host.block_solved(group[i].block, {group[i].arrays[work::W], static_cast<std::size_t>(group[i].block.size)});
  for (int i = 0; i < count; ++i) {
    IERR = group[i].IERR;
    if (i == 0)
      host.release_work(group[i]);
    else
      give_back_block_work(group[i]);
  }
  for (int i = 0; i < count; ++i) host.block_ended(group[i].block, group[i].line);
  return count;
}

}  // namespace

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

void set_identity(std::int32_t N, double* C) {
  const std::size_t n = static_cast<std::size_t>(N);
  for (std::size_t k = 0; k < n * n; ++k) C[k] = 0.0;
  for (std::size_t k = 0; k < n; ++k) C[k + k * n] = 1.0;
}

double sweep_delta(double E1, double EPREV) { return static_cast<double>(fabs(static_cast<ext>(E1) - static_cast<ext>(EPREV))); }

std::array<ArrayShape, work::array_count> block_work_shapes(std::int32_t N, std::int32_t M) {
  std::array<ArrayShape, work::array_count> shapes{};
  shapes[work::H] = {M, M};
  shapes[work::T] = {N, M};
  shapes[work::U] = {M, M};
  shapes[work::W] = {M, 1};
  shapes[work::CNEW] = {N, M};
  return shapes;
}

std::size_t block_work_doubles(std::int32_t N, std::int32_t M) {
  std::size_t total = 0;
  for (const ArrayShape& shape : block_work_shapes(N, M))
    total += static_cast<std::size_t>(shape.rows) * static_cast<std::size_t>(shape.columns);
  return total;
}

bool take_block_work(std::int32_t N, BlockRun& run) noexcept {
  const std::int32_t M = run.block.size;
  run.storage.reset(new (std::nothrow) double[std::max<std::size_t>(block_work_doubles(N, M), 1)]);
  if (!run.storage || !run.solver.obtain(M)) {
    give_back_block_work(run);
    return false;
  }
  double* next = run.storage.get();
  const auto shapes = block_work_shapes(N, M);
  for (std::size_t k = 0; k < work::array_count; ++k) {
    run.arrays[k] = next;
    next += static_cast<std::size_t>(shapes[k].rows) * static_cast<std::size_t>(shapes[k].columns);
  }
  return true;
}

void give_back_block_work(BlockRun& run) noexcept {
  run.solver = Tred12Work();
  run.storage.reset();
  run.arrays = {};
}

void solve_blocks(const Layout& layout, const double* A, double* C, double* E, std::int32_t ITER,
                  std::int32_t& IERR, BlockHost& host) {
  for (std::int32_t IB = 1; IB <= layout.NBLOCKS;) IB += solve_group(layout, A, C, E, ITER, IB, IERR, host);
}

void run_sweeps(const Layout& layout, const double* A, double* C, double* E, const run::SweepRule& rule,
                SweepState& state, SweepHost& host) {
  bool stop = false;
  do {
    ++state.ITER;
    solve_blocks(layout, A, C, E, state.ITER, state.IERR, host);
    host.reorder(layout, C, E);
    state.DELTA = sweep_delta(E[0], state.EPREV);
    state.EPREV = E[0];
    stop = host.sweep_ended(state, C, E);
  } while (!stop && rule.another_sweep_follows(state.DELTA, state.ITER));
}

}  // namespace blockeig
