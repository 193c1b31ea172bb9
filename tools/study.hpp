#pragma once
// scrtool study: blockeig run once per block count on one matrix, each run
// in a scratch folder of its own with a results file, then the runs side
// by side in one figure and one table.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace scrtool {

// The blockeig a study runs, and how it was found.
struct Program {
  std::string path;  // absolute
  std::string found;  // "--program", "BLOCKEIG", "beside scrtool", "PATH"
};

// --program FILE when given, else the environment's BLOCKEIG, else the
// blockeig beside scrtool's own executable, else the first on PATH. A name
// without a slash is looked up on PATH. Throws ToolError when none is an
// executable file.
Program find_blockeig(const std::optional<std::string>& option);

// The order N in record 1 of `matrix`, read in the byte order blockeig
// will read it in (BLOCKEIG_CONVERT); nothing when record 1 is damaged,
// which blockeig reports itself. Throws ToolError when the file cannot be
// opened.
std::optional<std::int32_t> matrix_order(const std::string& matrix);

struct StudyPlan {
  Program program;
  std::string matrix;                // A.SCR
  std::vector<std::int32_t> blocks;  // the block counts, in the order run
  std::string figure;                // the picture: STEM.svg
};

// The results file of the run with `nblocks` blocks, beside the figure:
// "STEM-NBLOCKS.json".
std::string study_results_name(const std::string& figure, std::int32_t nblocks);

// Runs the study: progress on `err`, the table on `out`, the results files
// and the figure written. A run that fails, or SIGINT, SIGTERM or SIGHUP,
// stops the study: the runs finished (and what the stopped run's results
// file holds) are kept, drawn and tabulated, and the scratch folder goes.
// Returns 0, or 2 after a failed run; after a signal, ends the process by
// that signal once all is written.
int run_study(const StudyPlan& plan, std::ostream& out, std::ostream& err);

}  // namespace scrtool
