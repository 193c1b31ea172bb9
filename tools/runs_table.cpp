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

std::string heading(const std::vector<NamedRun>& runs) {
  const RunResults& first = runs.front().results;
  std::string out;
  if (same_direct_eigenvalues(runs)) {
    const blockeig::E1Accuracy a = e1_accuracy(first);
    out = "# N = " + (first.n ? std::to_string(*first.n) : std::string("?")) + ", lambda_1 = " +
          shortest_text(a.lambda_1) + ", ||A||_2 = max |lambda| = " + shortest_text(a.norm_2) + "\n";
  } else {
    out = "# runs of different matrices: each E(1) against its own lambda_1 and ||A||_2\n";
  }
  return out + "# settled: DELTA <= TOL ended the sweeps; E(1) - lambda_1: how far from the lowest eigenvalue E(1) "
               "ended\n";
}

}  // namespace

std::string settled_word(const RunResults& r) {
  if (!r.converged) return printable(r.state, 12);
  return *r.converged ? "yes" : "no";
}

std::string render_runs_table(const std::vector<NamedRun>& runs) {
  std::string out = heading(runs);
  out += column("NBLOCKS", 8) + column("sweeps", 7) + column("settled", 9) + column("E(1) - lambda_1", 26) +
         column("/ ||A||_2", 26) + column("nearest", 8) + column("seconds", 10) + "  file\n";
  for (const NamedRun& run : runs) {
    const RunResults& r = run.results;
    const blockeig::E1Accuracy a = e1_accuracy(r);
    out += column(std::to_string(r.nblocks), 8) + column(std::to_string(r.sweeps.size()), 7) +
           column(settled_word(r), 9) + column(shortest_text(a.difference), 26) +
           column(shortest_text(a.relative), 26) + column(rank_text(a.nearest_rank), 8) +
           column(seconds_text(r.sweep_seconds), 10) + "  " + printable(run.name) + "\n";
  }
  return out;
}

std::string render_runs_csv(const std::vector<NamedRun>& runs) {
  std::string out = "file,NBLOCKS,sweeps,state,settled,E(1),lambda_1,difference,norm_2,relative,nearest_rank,seconds\n";
  for (const NamedRun& run : runs) {
    const RunResults& r = run.results;
    const blockeig::E1Accuracy a = e1_accuracy(r);
    out += csv_field(run.name) + "," + std::to_string(r.nblocks) + "," + std::to_string(r.sweeps.size()) + "," +
           csv_field(r.state) + "," +
           (r.converged ? (*r.converged ? "true" : "false") : "") + "," + shortest_text(r.sweeps.back().e1) + "," +
           shortest_text(a.lambda_1) + "," + shortest_text(a.difference) + "," + shortest_text(a.norm_2) + "," +
           shortest_text(a.relative) + "," + (a.nearest_rank > 0 ? std::to_string(a.nearest_rank) : "") + "," +
           shortest_text(r.sweep_seconds) + "\n";
  }
  return out;
}

}  // namespace scrtool
