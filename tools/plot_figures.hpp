#pragma once
// The figures of scrtool plot, each a nested <svg> of the document: the
// sweeps (sweep_figure.cpp) and a results file's eigenvalues by rank
// (eigenvalue_figure.cpp).
#include <string>
#include <string_view>

#include "tools/run_results.hpp"
#include "tools/svg_writer.hpp"
#include "tools/transcript.hpp"

namespace scrtool::plot {

inline constexpr double sweep_figure_height = 672;
inline constexpr double eigenvalue_figure_height = 560;

// What the heading says of a run's end besides its last sweep: the state of
// a results file's run that has not ended (empty once it has, and for a
// transcript), and a line on where E(1) ended against the direct lambda_1.
struct RunEnd {
  std::string unended_state;
  std::string accuracy;
};

// E(1) per sweep against the direct E(1), and DELTA per sweep on a log
// scale against TOL; `from_results` says in a footnote that the values are
// a results file's, at full precision, rather than a transcript's three
// digits. `name` is the source's file name; `y` places the figure.
void draw_sweep_figure(SvgWriter& svg, const Transcript& t, std::string_view name, bool from_results,
                       const RunEnd& end, double y);

// The final block values against the direct eigenvalues by rank, and how far
// apart they are on a log scale.
void draw_eigenvalue_figure(SvgWriter& svg, const RunResults& r, std::string_view name, double y);

}  // namespace scrtool::plot
