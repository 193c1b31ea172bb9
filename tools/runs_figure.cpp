// Runs side by side: how far E(1) is from the direct lambda_1 after every
// sweep, one curve per run, on a log scale.
#include <algorithm>
#include <cmath>
#include <vector>

#include "runtime/posix_file.hpp"
#include "tools/plot_axes.hpp"
#include "tools/runs_table.hpp"
#include "tools/sweep_plot.hpp"

namespace scrtool {

// The figure is drawn with the pieces of every figure of scrtool plot.
using namespace plot;

namespace {

constexpr const char* run_colours[] = {"#1f5fa8", "#c8551b", "#2a8a3e", "#8e3fa8",
                                       "#b0182a", "#1a8f8f", "#9a7a12", "#555555"};
constexpr double legend_y0 = 74;
constexpr double legend_step = 18;
constexpr double panel_height = 330;

const char* colour_of(std::size_t run) { return run_colours[run % std::size(run_colours)]; }

// |E(1) - lambda_1| after a sweep: the exact difference, its magnitude
// rounded once.
double distance(double e1, double lambda_1) { return static_cast<double>(magnitude(ext(e1) - ext(lambda_1))); }

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? one : many);
}

// "study-4.json, 4 blocks, TOL 1e-09: 15 sweeps; E(1) ended 0.019 |λ₁|
// above λ₁, nearest λ₁; settled (0.0135 ‖A‖₂)": the rule when it is not
// the program's.
std::string legend_label(const NamedRun& run) {
  const RunResults& r = run.results;
  const blockeig::E1Accuracy a = e1_accuracy(r);
  std::string label = blockeig::runtime::split_name(run.name).name + ", " +
                      plural(static_cast<std::size_t>(r.nblocks), " block", " blocks");
  if (r.tol != blockeig::run::TOL) label += ", TOL " + brief(r.tol);
  if (r.max_sweeps != blockeig::run::max_sweeps) label += ", at most " + std::to_string(r.max_sweeps) + " sweeps";
  label += ": " + plural(r.sweeps.size(), " sweep; ", " sweeps; ") + describe_end(r, picture_notation);
  if (std::isfinite(a.relative)) label += " (" + brief(a.relative) + " \u2016A\u2016\u2082)";
  return label;
}

// The decades every finite, non-zero distance of every run falls in.
Decades decades_of(const std::vector<NamedRun>& runs) {
  std::vector<double> logs;
  for (const NamedRun& run : runs) {
    const double lambda_1 = e1_accuracy(run.results).lambda_1;
    for (const SweepLine& s : run.results.sweeps)
      if (const double d = distance(s.e1, lambda_1); std::isfinite(d) && d > 0) logs.push_back(std::log10(d));
  }
  return decades_around(logs, 0.3);
}

// One run's curve and points; a zero distance sits on the lower edge, and
// the last sweep is ringed: filled when the sweeps settled, open when not.
void draw_run(SvgWriter& svg, const NamedRun& run, std::size_t index, const Axis& x, const Axis& y, double bottom) {
  const RunResults& r = run.results;
  const char* colour = colour_of(index);
  const double lambda_1 = e1_accuracy(r).lambda_1;
  svg.open_container("g").attr("class", "run").attr("data-run", std::to_string(index + 1));
  svg.attr("data-nblocks", std::to_string(r.nblocks));
  const PointStyle point{"distance", "data-sweep", 2.5, colour};
  const PointStyle zero{"distance zero", "data-sweep", 2.5, colour};
  const auto y_of = [&](double d) { return d > 0 ? y.place(ext(std::log10(d))) : bottom; };
  Polyline curve(svg, colour);
  for (const SweepLine& s : r.sweeps) {
    const double d = distance(s.e1, lambda_1);
    if (std::isfinite(d)) curve.add(x.place(ext(static_cast<double>(s.iter))), y_of(d));
    else curve.end_piece();
  }
  curve.end_piece();
  const std::string who = plural(static_cast<std::size_t>(r.nblocks), " block", " blocks") + ", sweep ";
  for (const SweepLine& s : r.sweeps) {
    const double d = distance(s.e1, lambda_1);
    if (!std::isfinite(d)) continue;
    draw_point(svg, d > 0 ? point : zero, s.iter, d, x.place(ext(static_cast<double>(s.iter))), y_of(d),
               who + std::to_string(s.iter) + ": |E(1) \u2212 \u03bb\u2081| = " + brief(d));
  }
  const SweepLine& last = r.sweeps.back();
  if (const double d = distance(last.e1, lambda_1); std::isfinite(d)) {
    const bool settled = r.converged.value_or(false);
    svg.open("circle").attr("class", settled ? "end settled" : "end not-settled");
    svg.coord("cx", x.place(ext(static_cast<double>(last.iter)))).coord("cy", y_of(d)).attr("r", "5.5");
    svg.attr("fill", settled ? colour : "white").attr("fill-opacity", settled ? "0.35" : "1");
    svg.attr("stroke", colour).attr("stroke-width", "1.6").close();
  }
  svg.close();
}

// Whether some sweep's E(1) is lambda_1 to the bit: such a point sits on
// the lower edge, and the footnote says why.
bool any_exact(const std::vector<NamedRun>& runs) {
  for (const NamedRun& run : runs) {
    const double lambda_1 = e1_accuracy(run.results).lambda_1;
    for (const SweepLine& s : run.results.sweeps)
      if (distance(s.e1, lambda_1) == 0) return true;
  }
  return false;
}

}  // namespace

std::string render_runs_plot(const std::vector<NamedRun>& runs, std::string_view title) {
  const double y0 = legend_y0 + legend_step * static_cast<double>(runs.size()) + 4;
  const double y1 = y0 + panel_height;
  SvgWriter svg;
  open_figure(svg, y1 + 66, 0, title);
  std::string subtitle;
  if (same_direct_eigenvalues(runs)) {
    const RunResults& first = runs.front().results;
    const blockeig::E1Accuracy a = e1_accuracy(first);
    if (first.n) subtitle = "N = " + std::to_string(*first.n) + ", ";
    subtitle += "\u03bb\u2081 = " + brief(a.lambda_1) + " (the lowest direct eigenvalue), \u03bb\u2082 \u2212 \u03bb\u2081 = " +
                brief(a.gap) + ", \u2016A\u2016\u2082 = " + brief(a.norm_2) + " (the largest |\u03bb|)";
  } else {
    subtitle = "runs of different matrices: each E(1) against its own lowest direct eigenvalue \u03bb\u2081";
  }
  draw_heading(svg, title, subtitle);
  for (std::size_t k = 0; k < runs.size(); ++k) {
    Legend legend(svg, legend_y0 + legend_step * static_cast<double>(k), 2.5);
    legend.entry(colour_of(k), false, true, legend_label(runs[k]));
  }
  std::size_t most_sweeps = 1;
  for (const NamedRun& run : runs) most_sweeps = std::max(most_sweeps, run.results.sweeps.size());
  const Axis x = count_axis(static_cast<int>(most_sweeps));
  const Decades decades = decades_of(runs);
  const Axis y{ext(static_cast<double>(decades.lo)), ext(static_cast<double>(decades.hi)), y1, y0};
  svg.open_container("g").attr("class", "panel runs");
  draw_frame(svg, y0, y1);
  draw_log_grid(svg, y, decades, 12);
  draw_axis_title(svg, 16, y0, y1, "|E(1) \u2212 \u03bb\u2081| (log scale)");
  for (std::size_t k = 0; k < runs.size(); ++k) draw_run(svg, runs[k], k, x, y, y1);
  draw_count_axis(svg, x, y1, static_cast<int>(most_sweeps));
  place_text(svg.open("text"), (left + right) / 2, y1 + 40, "middle", "sweep");
  place_text(svg.open("text").attr("font-size", "10").attr("fill", "#777"), right, y1 + 56, "end",
             any_exact(runs) ? "ring: the last sweep, filled when settled; on the lower edge: E(1) = \u03bb\u2081 to the bit"
                   : "ring: the last sweep, filled when settled");
  svg.close();
  svg.close();
  return svg.finish();
}

}  // namespace scrtool
