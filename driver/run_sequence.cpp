#include "driver/run_sequence.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "driver/block_iteration.hpp"
#include "runtime/console_texts.hpp"
#include "engine/direct_solve.hpp"
#include "engine/matrix_file.hpp"
#include "driver/progress.hpp"
#include "records/run_record.hpp"
#include "runtime/statement_numbers.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/allocate.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

namespace {

using runtime::at;

constexpr std::int64_t console = io::stdout_unit;

// The direct phase shows the eigenvalues and IERR, never eigenvectors: no
// file, line or report holds them, and the block phase sets all of C to the
// identity before it reads any of it. So the solve asks for eigenvalues
// only. Its E and IERR are the bits that a solve with vectors gives (the
// reduction and the QL iteration's values do not depend on the vectors),
// without the accumulation of the reflections, the rotations and their log.
// The solver's work is obtained at statement 169 and given back after the
// solve.
void solve_directly(std::int32_t N, const double* A, double* C, double* E, std::int32_t& IERR) {
  at(statement::allocate_tred12_work);
  Tred12Work work;
  if (!runtime::obtain_or_retry([&] { return work.obtain(N); })) runtime::allocation_failure(ENOMEM);
  direct_solve({A, N, 1, N}, C, E, IERR, work, /*vectors=*/false);
}

}  // namespace

void run_sequence() {
  std::int32_t N = 0;
  std::int32_t IERR = 0;
  runtime::Array<double> A, C, E;
  runtime::Array<std::int32_t> BDIM, BSTART;

  read_matrix_file(N, A, C, E);
  record_input(N, {A.data(), A.size()});

  char label[48];
  std::snprintf(label, sizeof label, "direct solve of order %d", static_cast<int>(N));
  progress_show(label);
  solve_directly(N, A.data(), C.data(), E.data(), IERR);
  progress_hide();
  record_direct(IERR, {E.data(), E.size()});
  at(statement::write_direct_ierr);
  io::write_list(console, {console_text::direct_ierr, IERR});

  at(statement::open_eigenvalue_file);
  io::open(file_unit, run::eigenvalue_file_name);
  for (std::int32_t i = 1; i <= N; ++i) {
    at(statement::write_eigenvalue_line);
    io::write_formatted(file_unit, console_text::eigenvalue_line_format, {i, E[i - 1]});
  }
  at(statement::close_eigenvalue_file);
  io::close(file_unit);
  at(statement::write_summary);
  io::write_formatted(console, console_text::summary_format, {E[0], E[1], E[N - 2], E[N - 1]});
  at(statement::write_written);
  io::write_list(console, {"written"});
  record_direct_phase_end();

  block_iteration(N, A, C, E, IERR, BDIM, BSTART);

  runtime::release_if_allocated(A);
  runtime::release_if_allocated(C);
  runtime::release_if_allocated(E);
  runtime::release_if_allocated(BDIM);
  runtime::release_if_allocated(BSTART);
}

}  // namespace blockeig
