#include "driver/block_iteration.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "driver/console_texts.hpp"
#include "driver/progress.hpp"
#include "driver/run_record.hpp"
#include "driver/statement_numbers.hpp"
#include "eigen/block_products.hpp"
#include "eigen/extended.hpp"
#include "eigen/solver.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/locus.hpp"

namespace blockeig {

namespace {

using runtime::at;

constexpr std::int64_t console = io::stdout_unit;
constexpr std::int64_t keyboard = io::stdin_unit;

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

// One block of one sweep: project A onto the block's columns of C, solve
// the projected matrix, rotate the columns onto its eigenvectors.
void solve_block(std::int32_t N, const double* A, double* C, double* E, std::int32_t& IERR, std::int32_t ITER,
                 std::int32_t IB, std::int32_t NBLOCKS, std::int32_t M, std::int32_t s) {
  runtime::Array<double> H, T, U, W, CNEW;
  at(statement::allocate_block_work);
  runtime::allocate(H, {M, M});
  runtime::allocate(T, {N, M});
  runtime::allocate(U, {M, M});
  runtime::allocate(W, {M});
  runtime::allocate(CNEW, {N, M});

  const std::size_t n = static_cast<std::size_t>(N);
  const std::size_t m = static_cast<std::size_t>(M);
  double* C_b = C + static_cast<std::size_t>(s - 1) * n;
  char label[64];
  std::snprintf(label, sizeof label, "sweep %d, block %d of %d", static_cast<int>(ITER), static_cast<int>(IB),
                static_cast<int>(NBLOCKS));
  progress_show(label);
  block_times(N, A, C_b, M, T.data());
  block_projection(N, M, C_b, T.data(), H.data());
  at(statement::allocate_tred12_work);
  tred12(M, H.data(), U.data(), W.data(), 2, IERR);
  progress_hide();
  at(statement::write_block_line);
  io::write_formatted(console, console_text::iteration_format, {IB, W[0], W[1], W[m - 2], W[m - 1]});
  record_block(IB, {W.data(), W.size()});
  block_rotation(N, M, C_b, U.data(), CNEW.data());
  for (std::size_t k = 0; k < n * m; ++k) C_b[k] = CNEW[k];
  for (std::size_t j = 0; j < m; ++j) E[static_cast<std::size_t>(s - 1) + j] = W[j];

  at(statement::release_block_work);
  runtime::deallocate(H);
  runtime::deallocate(T);
  runtime::deallocate(U);
  runtime::deallocate(W);
  runtime::deallocate(CNEW);
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
  const double TOL = 1.0e-6;
  double EPREV = 1.0e12;
  double DELTA = 0.0;
  std::int32_t ITER = 0;
  begin_sweeps({N, NBLOCKS, ITER, IERR, C.data(), E.data(), EPREV});
  do {
    ++ITER;
    for (std::int32_t IB = 1; IB <= NBLOCKS; ++IB)
      solve_block(N, A.data(), C.data(), E.data(), IERR, ITER, IB, NBLOCKS, BDIM[IB - 1], BSTART[IB - 1]);
    at(statement::allocate_reporder2_buffer);
    reporder2(N, E.data(), C.data(), NBLOCKS, BSTART.data());
    DELTA = std::fabs(static_cast<ext>(E[0]) - static_cast<ext>(EPREV));
    at(statement::write_sweep_line);
    io::write_formatted(console, console_text::iteration_format, {ITER, E[0], E[1], E[N - 2], E[N - 1], DELTA, TOL});
    EPREV = E[0];
    record_sweep({N, NBLOCKS, ITER, IERR, C.data(), E.data(), EPREV, DELTA, TOL});
  } while (another_sweep_follows(DELTA, TOL, ITER));
  record_block_phase_end({N, NBLOCKS, ITER, IERR, C.data(), E.data(), EPREV, DELTA, TOL});
}

}  // namespace blockeig
