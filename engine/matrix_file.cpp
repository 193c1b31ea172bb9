#include "engine/matrix_file.hpp"

#include <span>
#include <string>

#include "runtime/console_texts.hpp"
#include "runtime/statement_numbers.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/locus.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

namespace {

using runtime::at;

// A smaller order is refused as soon as it is read, before anything is
// allocated or written.
void reject_small_order(std::int32_t N) {
  if (N >= run::min_matrix_order) return;
  at(statement::read_order);
  io::reject_read(file_unit, "Matrix order N = " + std::to_string(N) + " in " + std::string(run::matrix_file_name) +
                                 " is too small: blockeig needs N of " + std::to_string(run::min_matrix_order) +
                                 " or more");
}

}  // namespace

void read_matrix_file(std::int32_t& N, runtime::Array<double>& A, runtime::Array<double>& C,
                      runtime::Array<double>& E) {
  at(statement::open_matrix_file);
  io::open(file_unit, run::matrix_file_name, io::Form::unformatted);
  at(statement::read_order);
  io::read_record(file_unit, N);
  reject_small_order(N);
  at(statement::write_order);
  io::write_list(io::stdout_unit, {console_text::order, N});
  at(statement::allocate_matrices);
  runtime::allocate(A, {N, N});
  runtime::allocate(C, {N, N});
  runtime::allocate(E, {N});
  at(statement::write_allocated);
  io::write_list(io::stdout_unit, {"allocated"});
  at(statement::read_matrix);
  io::read_record(file_unit, std::span<double>(A.data(), A.size()));
  at(statement::close_matrix_file);
  io::close(file_unit);
  at(statement::write_read);
  io::write_list(io::stdout_unit, {"read"});
}

}  // namespace blockeig
