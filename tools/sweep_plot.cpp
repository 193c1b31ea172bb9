#include "tools/sweep_plot.hpp"

#include "tools/plot_axes.hpp"
#include "tools/plot_figures.hpp"
#include "tools/svg_writer.hpp"

namespace scrtool {

namespace {

// The file name without its directories: a picture names its source, not
// the place where it was made.
std::string_view file_name_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string render_sweep_plot(const Transcript& t, std::string_view source_name, const SweepPlotOptions& options) {
  SvgWriter svg;
  plot::draw_sweep_figure(svg, t, file_name_of(source_name), options.from_results, 0);
  return svg.finish();
}

std::string render_results_plot(const RunResults& results, std::string_view source_name) {
  // The sweep figure on top, the eigenvalue figure below, nested in one
  // picture.
  const std::string_view name = file_name_of(source_name);
  SvgWriter svg;
  svg.open_svg(plot::figure_width, plot::sweep_figure_height + plot::eigenvalue_figure_height);
  svg.open("title").text("blockeig results: " + std::string(name)).close();
  plot::draw_sweep_figure(svg, as_transcript(results), name, true, 0);
  plot::draw_eigenvalue_figure(svg, results, name, plot::sweep_figure_height);
  svg.close();
  return svg.finish();
}

}  // namespace scrtool
