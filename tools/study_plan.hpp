#pragma once
// What scrtool study runs: one blockeig run per value of the one list that
// varies (the block counts, or with one block count the tolerances or the
// sweep limits), each told apart by its label and its results file's name.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace scrtool {

// One run: its block count, and --tol and --max-sweeps for blockeig as the
// user typed them (checked; empty for the program's own).
struct StudyRun {
  std::int32_t nblocks = 0;
  std::string tol;
  std::string max_sweeps;
  std::string label;   // "4 blocks", "4 blocks, TOL 1e-9", "4 blocks, at most 50 sweeps"
  std::string suffix;  // of the results file's name: "4", "4-tol1e-9", "4-sweeps50"
};

// The lists as given: --blocks, --tol, --max-sweeps, each values separated
// by commas (nothing when not given).
struct StudyRequest {
  std::optional<std::string> blocks, tol, max_sweeps;
};

struct StudyRuns {
  std::vector<StudyRun> runs;  // in the order given
  std::string varied;          // "number of blocks", "TOL", "sweep limit"
};

// The runs asked for on a matrix of order `n` (when known). Block counts
// default to 1,2,4,8, those above N/2 left out with a note on `err`; counts
// asked for above N/2 are refused. Only one list may hold several values,
// and the tolerances or sweep limits vary only with one block count given.
// Throws UsageError, before anything runs.
StudyRuns plan_study_runs(const StudyRequest& request, std::optional<std::int32_t> n, std::ostream& err);

}  // namespace scrtool
