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
  double tol = blockeig::run::TOL;  // blocks.TOL, else end.TOL
  std::int32_t max_sweeps = blockeig::run::max_sweeps;  // blocks.max_sweeps
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
  std::string (*eigenvalue)(std::int64_t rank);  // "lambda_4"
};
extern const Notation table_notation;    // lambda_1, ||A||_2, every digit
extern const Notation picture_notation;  // the Greek letter, subscripts, three digits

// Where E(1) ended, in words that cannot be misread, in three digits:
// "E(1) ended 12.3 |lambda_1| above lambda_1, nearest lambda_4; settled"
// ("E(1) stood ... after sweep 7, ...; run failed" for a run that has not
// ended; "... 0.153 above lambda_1 = 0 ..." when lambda_1 is 0; "no sweep
// has finished" before the first).
std::string describe_end(const RunResults& results, const Notation& notation);
// The figures behind it: "E(1) - lambda_1 = D = R |lambda_1| = G
// (lambda_2 - lambda_1) = S ||A||_2; lambda_1 = L, lambda_2 - lambda_1 =
// GAP, ||A||_2 = max |lambda| = M" (a figure over a divisor of 0 left out).
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

// Whether the sweeps settled: "yes", "no", or the state of a run that has
// not ended ("failed", "running"), cut to 12 bytes.
std::string settled_word(const RunResults& results);

// The run's state as a message or a picture may show it: its bytes made
// printable and cut to a length that fits a line.
std::string shown_state(const RunResults& results);

// The sweeps and the direct summary in the shape of a transcript, at full
// precision, for the sweep plot.
Transcript as_transcript(const RunResults& results);

}  // namespace scrtool
