#pragma once
// scrtool study: blockeig run once per block count (or tolerance, or sweep
// limit) on one matrix, each run in a scratch folder of its own with a
// results file, then the runs side by side in one figure and one table.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/file_io.hpp"
#include "tools/study_plan.hpp"

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

// The matrix of a study: an A.SCR as it is, or any other matrix file (Matrix
// Market, .npy, text) imported as scrtool import does, with its warnings,
// into an A.SCR of a scratch folder beside the figure, which goes with this
// object. Throws ToolError for a file that cannot be read or converted.
class StudyMatrix {
 public:
  StudyMatrix(const std::string& given, const std::string& figure, std::ostream& err);
  const std::string& given() const { return given_; }  // as the user named it
  const std::string& scr() const { return scr_; }      // the A.SCR the runs read
  bool imported() const { return folder_.has_value(); }
  std::optional<std::int32_t> order() const { return order_; }

 private:
  std::string given_, scr_;
  std::optional<std::int32_t> order_;
  std::optional<ScratchFolder> folder_;  // of an imported matrix
};

struct StudyPlan {
  Program program;
  const StudyMatrix* matrix = nullptr;
  StudyRuns runs;
  std::string figure;  // the picture: STEM.svg
};

// The results file of a run beside the figure: "STEM-SUFFIX.json"
// (study-4.json, study-4-tol1e-9.json).
std::string study_results_name(const std::string& figure, const std::string& suffix);

// Runs the study: progress on `err`, the table on `out`, the results files
// and the figure written. A run that fails, or SIGINT, SIGTERM or SIGHUP,
// stops the study: the runs finished (and what the stopped run's results
// file holds) are kept, drawn and tabulated, and the scratch folder goes.
// Returns 0, or 2 after a failed run; after a signal, ends the process by
// that signal once all is written.
int run_study(const StudyPlan& plan, std::ostream& out, std::ostream& err);

}  // namespace scrtool
