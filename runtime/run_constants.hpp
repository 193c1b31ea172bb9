#pragma once
// The constants of a run, each written once: the files a run reads and
// writes, the smallest order it takes, the most blocks an order takes, and
// the rule that ends the sweeps.
// The program, its records (results file, checkpoint) and scrtool all take
// them from here.
#include <cstdint>
#include <limits>
#include <string_view>

namespace blockeig::run {

// The input matrix and the direct eigenvalues, in the working directory.
inline constexpr std::string_view matrix_file_name = "A.SCR";
inline constexpr std::string_view eigenvalue_file_name = "C.SCR.TXT";

// The summary line and the sweep lines need E(1), E(2), E(N-1) and E(N).
inline constexpr std::int32_t min_matrix_order = 2;

// Every block needs at least two positions (its line shows W(1), W(2),
// W(M-1) and W(M)), so an order N is cut into 1 to max_block_count(N) blocks.
inline constexpr std::int32_t min_block_size = 2;
constexpr std::int32_t max_block_count(std::int32_t N) { return N / min_block_size; }

// The sweeps go on while E(1) moves by more than TOL, up to max_sweeps
// sweeps; EPREV, the E(1) of the sweep before, starts far from any value.
inline constexpr double TOL = 1.0e-6;
inline constexpr double EPREV_start = 1.0e12;
inline constexpr std::int32_t max_sweeps = 101;

// The largest sweep limit a run may be given: the sweep line shows ITER in
// five columns.
inline constexpr std::int32_t max_sweeps_limit = 99999;

// When the sweeps end: after the sweep whose DELTA is no more than TOL (a
// DELTA that is not a number ends them too), or after max_sweeps sweeps.
// The program's rule is the default; --tol and --max-sweeps (the library's
// options) give another.
struct SweepRule {
  double TOL = run::TOL;
  std::int32_t max_sweeps = run::max_sweeps;
  bool another_sweep_follows(double DELTA, std::int32_t ITER) const { return DELTA > TOL && ITER < max_sweeps; }
  // A positive finite TOL and a limit from 1 to max_sweeps_limit.
  bool valid() const {
    return TOL > 0 && TOL <= std::numeric_limits<double>::max() && max_sweeps >= 1 && max_sweeps <= max_sweeps_limit;
  }
  bool is_default() const { return TOL == run::TOL && max_sweeps == run::max_sweeps; }
};

}  // namespace blockeig::run
