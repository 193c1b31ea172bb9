#include "driver/run_sequence.hpp"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "driver/block_iteration.hpp"
#include "driver/direct_solve.hpp"
#include "driver/progress.hpp"
#include "driver/statement_numbers.hpp"
#include "io/statements.hpp"
#include "runtime/allocate.hpp"
#include "runtime/locus.hpp"

namespace blockeig {

namespace {

using runtime::at;

constexpr std::int64_t file_unit = 8;
constexpr std::int64_t console = 6;

// The summary line and the sweep lines need E(1), E(2), E(N-1) and E(N):
// a smaller order is refused as soon as it is read, before anything is
// allocated or written.
void reject_small_order(std::int32_t N) {
  if (N >= 2) return;
  at(statement::read_order);
  io::reject_read(file_unit, "Matrix order N = " + std::to_string(N) +
                                 " in A.SCR is too small: blockeig needs N of 2 or more");
}

}  // namespace

void run_sequence() {
  std::int32_t N = 0;
  std::int32_t IERR = 0;
  runtime::Array<double> A, C, E;
  runtime::Array<std::int32_t> BDIM, BSTART;

  at(statement::open_matrix_file);
  io::open(file_unit, "A.SCR", io::Form::unformatted);
  at(statement::read_order);
  io::read_record(file_unit, N);
  reject_small_order(N);
  at(statement::write_order);
  io::write_list(console, {"N = ", N});
  at(statement::allocate_matrices);
  runtime::allocate(A, {N, N});
  runtime::allocate(C, {N, N});
  runtime::allocate(E, {N});
  at(statement::write_allocated);
  io::write_list(console, {"allocated"});
  at(statement::read_matrix);
  io::read_record(file_unit, std::span<double>(A.data(), A.size()));
  at(statement::close_matrix_file);
  io::close(file_unit);
  at(statement::write_read);
  io::write_list(console, {"read"});

  char label[48];
  std::snprintf(label, sizeof label, "direct solve of order %d", static_cast<int>(N));
  progress_show(label);
  direct_solve(N, A.data(), C.data(), E.data(), IERR);
  progress_hide();
  at(statement::write_direct_ierr);
  io::write_list(console, {"diagonalized - direct, IERR: ", IERR});

  at(statement::open_eigenvalue_file);
  io::open(file_unit, "C.SCR.TXT");
  for (std::int32_t i = 1; i <= N; ++i) {
    at(statement::write_eigenvalue_line);
    io::write_formatted(file_unit, "(i12,F12.6)", {i, E[i - 1]});
  }
  at(statement::close_eigenvalue_file);
  io::close(file_unit);
  at(statement::write_summary);
  io::write_formatted(console, "(4g12.3)", {E[0], E[1], E[N - 2], E[N - 1]});
  at(statement::write_written);
  io::write_list(console, {"written"});

  block_iteration(N, A, C, E, IERR, BDIM, BSTART);

  runtime::release_if_allocated(A);
  runtime::release_if_allocated(C);
  runtime::release_if_allocated(E);
  runtime::release_if_allocated(BDIM);
  runtime::release_if_allocated(BSTART);
}

}  // namespace blockeig
