#pragma once
// A blockeig results file (docs/results.md) read back: what scrtool plots
// and tabulates from it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/e1_accuracy.hpp"
#include "runtime/run_constants.hpp"
#include "tools/transcript.hpp"

namespace scrtool {

// The k-th smallest final block value beside the k-th direct eigenvalue.
struct RankPair {
  std::int64_t rank = 0;
  std::int64_t position = 0;  // where the block value stands in E
  double direct = 0;
  double block = 0;
  // block - direct: the exact difference, rounded once.
  double difference() const;
};

// What a results file holds of a run: only what scrtool shows, so that a
// file costs little more memory than its text (a few bytes for every
// number that is kept), whatever else it holds.
struct RunResults {
  std::string state;  // "running", "finished" or "failed"
  std::optional<std::int32_t> n;
  std::optional<std::int32_t> ierr;
  std::vector<double> direct;  // C.SCR.TXT's order
  std::int32_t nblocks = 0;
  std::vector<SweepLine> sweeps;  // full precision; line is 0
  double tol = blockeig::run::TOL;
  std::optional<bool> converged;  // once the block phase has ended
  // The block phase's time: the sum of the sweeps' seconds (NaN when a
  // sweep has none).
  double sweep_seconds = 0;
  // From the end section, or, for a run that had not ended, from the last
  // finished sweep's W (the same values as its E), paired the same way.
  std::vector<RankPair> pairs;
};

// How far E(1) after the last finished sweep (the final E(1) of a run that
// has ended) lies from the direct lambda_1, worked out as the program works
// out end.accuracy; as for a NaN E(1) when no sweep has finished.
blockeig::E1Accuracy e1_accuracy(const RunResults& results);

// How a description writes its symbols and numbers: a table in ASCII at
// full precision, a picture with lambda and norm signs in three digits.
struct Notation {
  std::string_view lambda;    // "lambda", of the direct eigenvalues
  std::string_view lambda_1;  // "lambda_1"
  std::string_view norm;      // "||A||_2"
  std::string_view minus;     // "-"
  std::string (*number)(double);
};

// One sentence on where E(1) ended, for a heading: "final E(1) - lambda_1
// = D = R ||A||_2 (||A||_2 = max |lambda| = M); nearest direct
// eigenvalue: rank K" ("E(1) - lambda_1 after sweep 7" for a run
// that has not ended; "no sweep has finished" before the first).
std::string describe_accuracy(const RunResults& results, const Notation& notation);

// A results file read, under the name it was given by.
struct NamedRun {
  std::string name;
  RunResults results;
};

// Whether runs are of one matrix, as far as their direct eigenvalues tell
// (the same bits, and so the same lambda_1 and ||A||_2).
bool same_direct_eigenvalues(const std::vector<NamedRun>& runs);

// Whether `text` looks like a JSON document rather than a transcript.
bool looks_like_json(std::string_view text);

// Reads a results file. Throws ToolError naming the file for what is not
// JSON, a format other than 1, and numbers or sections that are missing or
// of the wrong kind. Takes time in proportion to the text (and N log N for
// the pairing of a run that has not ended).
RunResults read_results(std::string_view text, std::string_view name);

// The run's state as a message or a picture may show it: its bytes made
// printable and cut to a length that fits a line.
std::string shown_state(const RunResults& results);

// The sweeps and the direct summary in the shape of a transcript, at full
// precision, for the sweep plot.
Transcript as_transcript(const RunResults& results);

}  // namespace scrtool
