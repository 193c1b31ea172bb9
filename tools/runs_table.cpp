#include "tools/runs_table.hpp"

#include <charconv>
#include <cmath>

#include "tools/text_scan.hpp"

namespace scrtool {

namespace {

// Right-justified in `width`, or after one blank when it does not fit.
std::string column(const std::string& text, std::size_t width) {
  return text.size() >= width ? " " + text : std::string(width - text.size(), ' ') + text;
}

// Seconds to the millisecond: a time measured on a busy machine has no
// more digits worth reading.
std::string seconds_text(double seconds) {
  if (!std::isfinite(seconds)) return "?";
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3).ptr);
}

// A CSV field quoted, its quotes doubled: a file name or a state may hold
// commas, quotes or line feeds.
std::string csv_field(std::string_view text) {
  std::string field = "\"";
  for (const char c : text) field += c == '"' ? std::string("\"\"") : std::string(1, c);
  return field + "\"";
}

std::string rank_text(std::int64_t rank) { return rank > 0 ? std::to_string(rank) : "-"; }

std::string heading(const std::vector<NamedRun>& runs, std::string_view matrix) {
  const RunResults& first = runs.front().results;
  std::string out = "# " + (matrix.empty() ? std::string() : printable(matrix) + ": ");
  if (same_direct_eigenvalues(runs)) {
    const blockeig::E1Accuracy a = e1_accuracy(first);
    out += "N = " + (first.n ? std::to_string(*first.n) : std::string("?")) + ", lambda_1 = " +
           shortest_text(a.lambda_1) + ", lambda_2 - lambda_1 = " + shortest_text(a.gap) +
           ", ||A||_2 = max |lambda| = " + shortest_text(a.norm_2) + "\n";
  } else {
    out += "runs of different matrices: each E(1) against its own lambda_1, lambda_2 and ||A||_2\n";
  }
  return out + "# settled: DELTA <= TOL ended the sweeps; E(1) - lambda_1, how far from the lowest eigenvalue E(1) "
               "ended: over |lambda_1|, nearest lambda_k, over the gap lambda_2 - lambda_1, as it is, over ||A||_2\n";
}

// Whether some run had a rule other than the program's: the table then
// shows every run's.
bool rules_differ(const std::vector<NamedRun>& runs) {
  for (const NamedRun& run : runs)
    if (!blockeig::run::SweepRule{run.results.tol, run.results.max_sweeps}.is_default()) return true;
  return false;
}

// A quotient over a divisor of 0: "-" in the table, an empty CSV field.
std::string quotient_text(double value, double divisor, std::string_view none) {
  return divisor == 0 ? std::string(none) : shortest_text(value);
}

}  // namespace

std::string render_runs_table(const std::vector<NamedRun>& runs, std::string_view matrix) {
  const bool rules = rules_differ(runs);
  std::string out = heading(runs, matrix);
  out += column("NBLOCKS", 8) + (rules ? column("TOL", 10) + column("max_sweeps", 11) : "") + column("sweeps", 7) +
         column("settled", 9) + column("/ |lambda_1|", 25) + column("nearest", 8) + column("/ gap", 25) +
         column("E(1) - lambda_1", 25) + column("/ ||A||_2", 25) + column("seconds", 10) + "  file\n";
  for (const NamedRun& run : runs) {
    const RunResults& r = run.results;
    const blockeig::E1Accuracy a = e1_accuracy(r);
    out += column(std::to_string(r.nblocks), 8) +
           (rules ? column(shortest_text(r.tol), 10) + column(std::to_string(r.max_sweeps), 11) : "") +
           column(std::to_string(r.sweeps.size()), 7) + column(settled_word(r), 9) +
           column(quotient_text(a.relative_lambda_1, a.lambda_1, "-"), 25) + column(rank_text(a.nearest_rank), 8) +
           column(quotient_text(a.relative_gap, a.gap, "-"), 25) + column(shortest_text(a.difference), 25) +
           column(shortest_text(a.relative), 25) + column(seconds_text(r.sweep_seconds), 10) + "  " +
           printable(run.name) + "\n";
  }
  return out;
}

std::string render_runs_csv(const std::vector<NamedRun>& runs) {
  // The columns added later come last, so that readers by position read on.
  std::string out = "file,NBLOCKS,sweeps,state,settled,E(1),lambda_1,difference,norm_2,relative,nearest_rank,seconds,"
                    "relative_lambda_1,gap,relative_gap,TOL,max_sweeps\n";
  for (const NamedRun& run : runs) {
    const RunResults& r = run.results;
    const blockeig::E1Accuracy a = e1_accuracy(r);
    out += csv_field(run.name) + "," + std::to_string(r.nblocks) + "," + std::to_string(r.sweeps.size()) + "," +
           csv_field(r.state) + "," +
           (r.converged ? (*r.converged ? "true" : "false") : "") + "," + shortest_text(r.sweeps.back().e1) + "," +
           shortest_text(a.lambda_1) + "," + shortest_text(a.difference) + "," + shortest_text(a.norm_2) + "," +
           shortest_text(a.relative) + "," + (a.nearest_rank > 0 ? std::to_string(a.nearest_rank) : "") + "," +
           shortest_text(r.sweep_seconds) + "," + quotient_text(a.relative_lambda_1, a.lambda_1, "") + "," +
           shortest_text(a.gap) + "," + quotient_text(a.relative_gap, a.gap, "") + "," + shortest_text(r.tol) + "," +
           std::to_string(r.max_sweeps) + "\n";
  }
  return out;
}

}  // namespace scrtool
