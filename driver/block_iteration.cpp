#include "driver/block_iteration.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "runtime/console_texts.hpp"
#include "driver/progress.hpp"
#include "runtime/statement_numbers.hpp"
#include "engine/sweep_engine.hpp"
#include "eigen/solver.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "records/run_record.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"

// The program's block phase: the block count, the layout and its table,
// and the sweeps' loop with its console lines, records and statements. The
// sweeps' blocks are solved by the engine (engine/sweep_engine.hpp), which
// the library runs as well; the program's part of them is ProgramSweeps.
//
// The first block of a group takes its arrays as the program does, at
// statement 60, and its solver's work at statement 169; the group's arrays
// are released (statement 86) before its block lines are written (statement
// 72), in block order.

namespace blockeig {

namespace {

using runtime::at;

constexpr std::int64_t console = io::stdout_unit;
constexpr std::int64_t keyboard = io::stdin_unit;

// The count runs from 1 to run::max_block_count(N). A count outside that
// range, or a null value (which leaves NBLOCKS at 0), is answered with the
// range and the question is asked again.
std::int32_t ask_block_count(std::int32_t N) {
  const std::int32_t most = run::max_block_count(N);
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

void write_block_table(const Layout& layout) {
  at(statement::write_table_heading);
  io::write_list(console, {console_text::table_heading});
  for (std::int32_t b = 1; b <= layout.NBLOCKS; ++b) {
    at(statement::write_table_row);
    const std::int32_t BDIM = layout.BDIM[b - 1], BSTART = layout.BSTART[b - 1];
    io::write_list(console, {b, BDIM, BSTART, BSTART + BDIM - 1});
  }
}

// The program's part of the sweeps: ALLOCATE and DEALLOCATE of the first
// block of a group, the progress line, the results file's W and the block
// lines; the reordering's buffer at its statement, and at the end of every
// sweep its line and its records.
class ProgramSweeps final : public SweepHost {
 public:
  ProgramSweeps(std::int32_t N, std::int32_t NBLOCKS, const run::SweepRule& rule) : N_(N), NBLOCKS_(NBLOCKS), rule_(rule) {}

  // W comes first: the heap keeps a small block it gets back for the next
  // request of its size, and W taken between the large arrays would split
  // the space they leave, so that the next block's could need a whole T more.
  void obtain_work(std::int32_t N, BlockRun& run) override {
    static constexpr work::Array order[] = {work::W, work::H, work::T, work::U, work::CNEW};
    const auto shapes = block_work_shapes(N, run.block.size);
    at(statement::allocate_block_work);
    for (const work::Array k : order) {
      runtime::allocate(arrays_[k], {shapes[k].rows, shapes[k].columns});
      run.arrays[k] = arrays_[k].data();
    }
    at(statement::allocate_tred12_work);
    if (!runtime::obtain_or_retry([&] { return run.solver.obtain(run.block.size); }))
      runtime::allocation_failure(ENOMEM);
    // The products run under the block's own statement, as they do when the
    // solver takes its work only once they are done.
    at(statement::allocate_block_work);
  }

  void release_work(BlockRun& run) override {
    run.solver = Tred12Work();
    at(statement::release_block_work);
    for (runtime::Array<double>& array : arrays_) runtime::deallocate(array);
  }

  void group_starts(std::int32_t ITER, std::int32_t IB, int count) override {
    char label[64];
    if (count == 1)
      std::snprintf(label, sizeof label, "sweep %d, block %d of %d", static_cast<int>(ITER), static_cast<int>(IB),
                    static_cast<int>(NBLOCKS_));
    else
      std::snprintf(label, sizeof label, "sweep %d, blocks %d to %d of %d", static_cast<int>(ITER),
                    static_cast<int>(IB), static_cast<int>(IB + count - 1), static_cast<int>(NBLOCKS_));
    progress_show(label);
  }

  void group_ends() override { progress_hide(); }

  // A block alone shows the solve's statement while the solve runs; blocks
  // side by side leave the locus at the group's statement 60.
  void block_solve_starts() override { at(statement::allocate_tred12_work); }

  // The results file takes every block's W before the arrays go.
  void block_solved(const Block& block, std::span<const double> W) override { record_block(block.IB, W); }

  void block_ended(const Block& block, const double (&line)[4]) override {
    at(statement::write_block_line);
    io::write_formatted(console, console_text::iteration_format, {block.IB, line[0], line[1], line[2], line[3]});
  }

  void reorder(const Layout& layout, double* C, double* E) override {
    at(statement::allocate_reporder2_buffer);
    reporder2(layout.N, E, C, layout.NBLOCKS, layout.BSTART);
  }

  bool sweep_ended(const SweepState& state, const double* C, const double* E) override {
    at(statement::write_sweep_line);
    io::write_formatted(console, console_text::iteration_format,
                        {state.ITER, E[0], E[1], E[N_ - 2], E[N_ - 1], state.DELTA, rule_.TOL});
    record_sweep({N_, NBLOCKS_, state.ITER, state.IERR, C, E, state.EPREV, state.DELTA, rule_});
    return false;
  }

 private:
  std::int32_t N_;
  std::int32_t NBLOCKS_;
  run::SweepRule rule_;
  runtime::Array<double> arrays_[work::array_count];  // H, T, U, W, CNEW
};

}  // namespace

void block_iteration(std::int32_t N, const runtime::Array<double>& A, runtime::Array<double>& C, runtime::Array<double>& E,
                     std::int32_t& IERR, runtime::Array<std::int32_t>& BDIM, runtime::Array<std::int32_t>& BSTART) {
  const std::int32_t NBLOCKS = ask_block_count(N);
  record_block_count(NBLOCKS);
  at(statement::allocate_layout);
  runtime::allocate(BDIM, {NBLOCKS});
  runtime::allocate(BSTART, {NBLOCKS});
  lay_out_blocks(N, NBLOCKS, BDIM.data(), BSTART.data());
  const Layout layout{N, NBLOCKS, BDIM.data(), BSTART.data()};
  write_block_table(layout);
  record_layout(NBLOCKS, {BDIM.data(), BDIM.size()}, {BSTART.data(), BSTART.size()});

  set_identity(N, C.data());
  // The program's rule, or the one --tol and --max-sweeps give.
  const run::SweepRule rule = runtime::settings().sweep_rule;
  ProgramSweeps sweeps(N, NBLOCKS, rule);
  SweepState state;
  state.IERR = IERR;
  begin_sweeps({N, NBLOCKS, state.ITER, state.IERR, C.data(), E.data(), state.EPREV});
  run_sweeps(layout, A.data(), C.data(), E.data(), rule, state, sweeps);
  IERR = state.IERR;
  record_block_phase_end({N, NBLOCKS, state.ITER, IERR, C.data(), E.data(), state.EPREV, state.DELTA, rule});
}

}  // namespace blockeig
