#include "tools/pair_table.hpp"

#include <cstdio>

#include "arithmetic/extended.hpp"
#include "tools/text_scan.hpp"

namespace scrtool {

namespace {

// Right-justified in `width` (the shortest form of a double has at most 24
// characters).
std::string column(const std::string& text, std::size_t width) {
  return text.size() >= width ? " " + text : std::string(width - text.size(), ' ') + text;
}

// Settled says only that E(1) stopped moving: the heading leads with where
// it stopped.
std::string what_the_values_are(const RunResults& r) {
  std::string s = std::to_string(r.sweeps.size()) + (r.sweeps.size() == 1 ? " sweep" : " sweeps");
  s += ", TOL = " + shortest_text(r.tol);
  if (r.converged) s += *r.converged ? ", settled (DELTA <= TOL)" : ", not settled (no DELTA <= TOL)";
  else s += ", run " + shown_state(r) + " (final values as of its last sweep)";
  return s;
}

}  // namespace

std::string render_pair_table(const RunResults& r, std::string_view source_name) {
  std::string out = "# " + printable(source_name) + ": " + describe_end(r, table_notation) + "\n";
  out += "# " + describe_accuracy(r, table_notation) + "\n";
  out += "# N = " + (r.n ? std::to_string(*r.n) : "?") + ", " + what_the_values_are(r) +
         "; block = k-th smallest final E, direct = line k of C.SCR.TXT\n";
  out += column("rank", 6) + column("position", 10) + column("direct", 26) + column("block", 26) +
         column("block - direct", 26) + "\n";
  for (const RankPair& p : r.pairs)
    out += column(std::to_string(p.rank), 6) + column(std::to_string(p.position), 10) +
           column(shortest_text(p.direct), 26) + column(shortest_text(p.block), 26) +
           column(shortest_text(p.difference()), 26) + "\n";
  return out;
}

std::string render_pair_csv(const RunResults& r) {
  std::string out = "rank,position,direct,block,difference\n";
  for (const RankPair& p : r.pairs)
    out += std::to_string(p.rank) + "," + std::to_string(p.position) + "," + shortest_text(p.direct) + "," +
           shortest_text(p.block) + "," + shortest_text(p.difference()) + "\n";
  return out;
}

}  // namespace scrtool
