#pragma once
// The run's reading of the matrix file, A.SCR (its records: io/record_format.hpp).
// scrtool runs the same code to tell what blockeig will make of a file.
#include <cstdint>
#include <string_view>

#include "runtime/allocate.hpp"

namespace blockeig {

// The unit of A.SCR, and later of C.SCR.TXT.
inline constexpr std::int64_t file_unit = 8;

// Statements 10 to 17: opens A.SCR, reads N (an order below
// run::min_matrix_order is refused at once), writes "N = ", allocates A and C
// (N x N) and E (N), writes "allocated", reads A, closes the file and
// writes "read". Ends the run with the report of the first statement that
// fails.
void read_matrix_file(std::int32_t& N, runtime::Array<double>& A, runtime::Array<double>& C,
                      runtime::Array<double>& E);

}  // namespace blockeig
