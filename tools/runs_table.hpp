#pragma once
// Several runs' ends side by side (scrtool study, and compare with several
// results files): one row per run with its block count, its sweeps, whether
// they settled, and where E(1) ended against the direct lambda_1.
#include <string>
#include <string_view>
#include <vector>

#include "tools/run_results.hpp"

namespace scrtool {

// Two heading lines (the matrix's name when given, its lambda_1, gap and
// ||A||_2, or a note that the runs are of different matrices, each measured
// against its own), then "NBLOCKS sweeps settled /|lambda_1| nearest /gap
// E(1)-lambda_1 /||A||_2 seconds file" and one row per run, in the order
// given; TOL and max_sweeps after NBLOCKS when a run had a rule other than
// the program's. Every run needs a finished sweep.
std::string render_runs_table(const std::vector<NamedRun>& runs, std::string_view matrix = {});
// "file,NBLOCKS,sweeps,state,settled,E(1),lambda_1,difference,norm_2,
// relative,nearest_rank,seconds,relative_lambda_1,gap,relative_gap,TOL,
// max_sweeps" and one line per run; every number in the shortest form that
// reads back as the same double, a quotient over 0 empty.
std::string render_runs_csv(const std::vector<NamedRun>& runs);

}  // namespace scrtool
