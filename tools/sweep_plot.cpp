#include "tools/sweep_plot.hpp"

#include <cmath>

#include "runtime/posix_file.hpp"
#include "tools/plot_axes.hpp"
#include "tools/plot_figures.hpp"
#include "tools/svg_writer.hpp"

namespace scrtool {

namespace {

// A transcript's E(1) and direct E(1) have three digits: their difference
// says little, and the line says so.
std::string transcript_accuracy(const Transcript& t) {
  const double E1 = t.sweeps.back().e1;
  if (!t.summary || std::isnan((*t.summary)[0]) || std::isnan(E1)) return "";
  const double difference = static_cast<double>(plot::ext(E1) - plot::ext((*t.summary)[0]));
  if (difference == 0)
    return "final E(1) and direct E(1) agree to the 3 digits printed; blockeig --results gives their difference in full";
  if (!std::isfinite(difference)) return "final E(1) and direct E(1) lie further apart than the largest double";
  return "final E(1) \u2212 direct E(1) = " + plot::brief(difference) +
         " as printed (3 digits); blockeig --results gives it in full";
}

// Where E(1) ended, and the figure relative to ||A||_2 beside it: the
// rest is in scrtool compare's heading.
std::string end_in_brief(const RunResults& results) {
  std::string s = describe_end(results, picture_notation);
  const blockeig::E1Accuracy a = e1_accuracy(results);
  if (!results.sweeps.empty() && std::isfinite(a.difference))
    s += " (E(1) \u2212 \u03bb\u2081 = " + plot::brief(a.difference) + " = " + plot::brief(a.relative) +
         " \u2016A\u2016\u2082)";
  return s;
}

}  // namespace

std::string render_sweep_plot(const Transcript& t, std::string_view source_name, const SweepPlotOptions& options) {
  SvgWriter svg;
  // A picture names its source, not the place where it was made.
  plot::draw_sweep_figure(svg, t, blockeig::runtime::split_name(source_name).name, options.from_results,
                          {"", transcript_accuracy(t)}, 0);
  return svg.finish();
}

std::string render_results_plot(const RunResults& results, std::string_view source_name) {
  // The sweep figure on top, the eigenvalue figure below, nested in one
  // picture.
  const std::string name = blockeig::runtime::split_name(source_name).name;
  SvgWriter svg;
  svg.open_svg(plot::figure_width, plot::sweep_figure_height + plot::eigenvalue_figure_height);
  svg.open("title").text("blockeig results: " + name).close();
  const plot::RunEnd end{results.converged ? "" : shown_state(results), end_in_brief(results)};
  plot::draw_sweep_figure(svg, as_transcript(results), name, true, end, 0);
  plot::draw_eigenvalue_figure(svg, results, name, plot::sweep_figure_height);
  svg.close();
  return svg.finish();
}

}  // namespace scrtool
