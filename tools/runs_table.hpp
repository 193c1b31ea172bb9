#pragma once
// Several runs' ends side by side (scrtool study, and compare with several
// results files): one row per run with its block count, its sweeps, whether
// they settled, and where E(1) ended against the direct lambda_1.
#include <string>
#include <vector>

#include "tools/run_results.hpp"

namespace scrtool {

// Two heading lines (the matrix's lambda_1 and ||A||_2, or a note that the
// runs are of different matrices, each measured against its own), then
// "NBLOCKS sweeps settled E(1)-lambda_1 relative nearest seconds file" and
// one row per run, in the order given. Every run needs a finished sweep.
std::string render_runs_table(const std::vector<NamedRun>& runs);
// "file,NBLOCKS,sweeps,state,settled,E(1),lambda_1,difference,norm_2,
// relative,nearest_rank,seconds" and one line per run; every number in the
// shortest form that reads back as the same double.
std::string render_runs_csv(const std::vector<NamedRun>& runs);

// A run's settled column: "yes", "no", or the state of a run that has not
// ended ("failed", "running").
std::string settled_word(const RunResults& results);

}  // namespace scrtool
