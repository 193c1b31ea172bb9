// The eigenvalue figure of a results file: the final block values and the
// direct eigenvalues by rank above, and how far apart they are, on a log
// scale, below.
#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/plot_axes.hpp"
#include "tools/plot_figures.hpp"

namespace scrtool::plot {

namespace {

constexpr double spectrum_y0 = 92, spectrum_y1 = 300;
constexpr double difference_y0 = 340, difference_y1 = 500;
// Above this order the values are drawn as lines only.
constexpr std::size_t most_markers = 400;

constexpr PointStyle block_point{"block", "data-rank", 3, e1_colour};
constexpr PointStyle difference_point{"difference", "data-rank", 3, delta_colour};
constexpr PointStyle zero_difference_point{"difference zero", "data-rank", 3, delta_colour};

double rank_place(const Axis& x, const RankPair& p) { return x.place(ext(static_cast<double>(p.rank))); }

std::string tooltip(const RankPair& p, const std::string& what) { return "rank " + std::to_string(p.rank) + ": " + what; }

// The spectrum's value axis. A spectrum of one sign spanning more than two
// decades is drawn on a log scale of |eigenvalue|: on a linear one its low
// end, lambda_1 and a tenfold miss of it, would share a pixel.
class SpectrumAxis {
 public:
  explicit SpectrumAxis(const std::vector<RankPair>& pairs) {
    std::vector<double> values;
    for (const RankPair& p : pairs)
      for (double v : {p.direct, p.block})
        if (std::isfinite(v)) values.push_back(v);
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const bool one_sign = !values.empty() && (*low > 0 || *high < 0);
    const double smallest = one_sign ? std::min(std::fabs(*low), std::fabs(*high)) : 0;
    const double largest = one_sign ? std::max(std::fabs(*low), std::fabs(*high)) : 0;
    log_ = one_sign && largest / smallest > 100;
    negative_ = log_ && *high < 0;
    if (log_) {
      std::vector<double> logs;
      for (const double v : values) logs.push_back(std::log10(std::fabs(v)));
      decades_ = decades_around(logs, 0.2);
      axis_ = {ext(static_cast<double>(decades_.lo)), ext(static_cast<double>(decades_.hi)), spectrum_y1, spectrum_y0};
      return;
    }
    ext lo = ext(values.empty() ? 0.0 : *low), hi = ext(values.empty() ? 1.0 : *high);
    pad_range(lo, hi);
    axis_ = {lo, hi, spectrum_y1, spectrum_y0};
  }
  double place(double v) const { return axis_.place(log_ ? ext(std::log10(std::fabs(v))) : ext(v)); }
  bool log() const { return log_; }
  void draw(SvgWriter& svg) const {
    if (log_) draw_log_grid(svg, axis_, decades_, 8);
    else draw_linear_grid(svg, axis_);
    draw_axis_title(svg, 24, spectrum_y0, spectrum_y1,
                    !log_ ? "eigenvalue" : negative_ ? "\u2212eigenvalue (log scale)" : "eigenvalue (log scale)");
  }

 private:
  bool log_ = false, negative_ = false;
  Decades decades_{0, 1};
  Axis axis_{};
};

void draw_spectra_panel(SvgWriter& svg, const std::vector<RankPair>& pairs, const Axis& x) {
  const SpectrumAxis y(pairs);
  svg.open_container("g").attr("class", y.log() ? "panel spectrum log" : "panel spectrum");
  draw_frame(svg, spectrum_y0, spectrum_y1);
  y.draw(svg);
  const bool markers = pairs.size() <= most_markers;
  // The direct eigenvalues as a line; the block values too when there are
  // too many for markers.
  for (const bool block : {false, true}) {
    if (block && markers) break;
    Polyline curve(svg, block ? e1_colour : direct_colour);
    for (const RankPair& p : pairs) {
      const double v = block ? p.block : p.direct;
      if (std::isfinite(v)) curve.add(rank_place(x, p), y.place(v));
      else curve.end_piece();
    }
    curve.end_piece();
  }
  for (const RankPair& p : pairs)
    if (markers && std::isfinite(p.block))
      draw_point(svg, block_point, p.rank, p.block, rank_place(x, p), y.place(p.block),
                 tooltip(p, "block " + brief(p.block) + ", direct " + brief(p.direct)));
  svg.close();
}

void draw_difference_panel(SvgWriter& svg, const std::vector<RankPair>& pairs, const Axis& x) {
  std::vector<double> logs;
  for (const RankPair& p : pairs)
    if (const double d = std::fabs(p.difference()); std::isfinite(d) && d > 0) logs.push_back(std::log10(d));
  const Decades decades = decades_around(logs, 0);
  const Axis y{ext(static_cast<double>(decades.lo)), ext(static_cast<double>(decades.hi)), difference_y1, difference_y0};
  draw_frame(svg, difference_y0, difference_y1);
  draw_log_grid(svg, y, decades, 8);
  draw_axis_title(svg, 24, difference_y0, difference_y1, "|block - direct|");
  const bool markers = pairs.size() <= most_markers;
  Polyline curve(svg, delta_colour);
  for (const RankPair& p : pairs) {
    const double d = std::fabs(p.difference());
    if (!std::isfinite(d)) continue;
    const double px = rank_place(x, p);
    const double py = d > 0 ? y.place(ext(std::log10(d))) : difference_y1;
    if (markers)
      draw_point(svg, d > 0 ? difference_point : zero_difference_point, p.rank, d, px, py,
                 tooltip(p, "|block - direct| = " + brief(d)));
    else
      curve.add(px, py);
  }
  curve.end_piece();
}

}  // namespace

void draw_eigenvalue_figure(SvgWriter& svg, const RunResults& r, std::string_view name, double y) {
  open_figure(svg, eigenvalue_figure_height, y, "");
  const std::string when = r.converged ? (*r.converged ? "settled" : "not settled") : shown_state(r);
  draw_heading(svg, "direct and block eigenvalues: " + std::string(name),
               "final E after " + std::to_string(r.sweeps.size()) + (r.sweeps.size() == 1 ? " sweep (" : " sweeps (") +
                   when + "), sorted, beside C.SCR.TXT's eigenvalues of the same rank");
  Legend legend(svg, 70, 3, 190);
  legend.entry(direct_colour, false, false, "direct (C.SCR.TXT)");
  legend.entry(e1_colour, false, true, "block phase, final");
  legend.entry(delta_colour, false, true, "|block - direct|");
  const int n = static_cast<int>(r.pairs.size());
  const Axis x = count_axis(n);
  draw_spectra_panel(svg, r.pairs, x);
  draw_count_axis(svg, x, spectrum_y1, n);
  draw_difference_panel(svg, r.pairs, x);
  draw_count_axis(svg, x, difference_y1, n);
  place_text(svg.open("text"), (left + right) / 2, difference_y1 + 40, "middle", "rank");
  svg.close();
}

}  // namespace scrtool::plot
