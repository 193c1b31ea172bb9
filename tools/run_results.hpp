#pragma once
// A blockeig results file (docs/results.md) read back: what scrtool plots
// and tabulates from it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  // From the end section, or, for a run that had not ended, from the last
  // finished sweep's W (the same values as its E), paired the same way.
  std::vector<RankPair> pairs;
};

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
