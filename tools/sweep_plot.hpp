#pragma once
// The convergence picture of a blockeig run as one self-contained SVG:
// E(1) per sweep against the direct E(1), and DELTA per sweep on a log
// scale against TOL.
#include <string>
#include <string_view>
#include <vector>

#include "tools/run_results.hpp"
#include "tools/transcript.hpp"

namespace scrtool {

struct SweepPlotOptions {
  // The values come from a results file at full precision (the footnote
  // says so) rather than from a transcript's three digits.
  bool from_results = false;
};

// Every plotted point is a <circle> with class "e1" or "delta" and the
// attributes data-sweep and data-value (the number read from the
// transcript), so the picture can be checked by reading it back. A DELTA of
// 0 sits on the lower edge with class "delta zero".
std::string render_sweep_plot(const Transcript& transcript, std::string_view source_name,
                              const SweepPlotOptions& options = {});

// A results file's picture: the sweep plot from its full-precision values,
// and below it the final block eigenvalues against the direct ones by rank
// (<circle> classes "direct" and "block" with data-rank and data-value) and
// their differences on a log scale (class "difference", or "difference
// zero" on the lower edge).
std::string render_results_plot(const RunResults& results, std::string_view source_name);

// Several runs side by side: |E(1) - lambda_1| per sweep on a log scale,
// one curve per run (a <g class="run"> with data-run and data-nblocks,
// its points <circle class="distance"> with data-sweep and data-value, a
// ring of class "end settled" or "end not-settled" on its last sweep),
// each against its own direct lambda_1, and a legend line per run saying
// how it ended. Every run needs a finished sweep.
std::string render_runs_plot(const std::vector<NamedRun>& runs, std::string_view title);

}  // namespace scrtool
