// The sweep figure: E(1) per sweep against the direct E(1) above, DELTA per
// sweep on a log scale against TOL below.
#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/plot_axes.hpp"
#include "tools/plot_figures.hpp"
#include "tools/text_scan.hpp"

namespace scrtool::plot {

namespace {

// Vertical extent of the two panels, below a heading of three lines.
constexpr double top_y0 = 110, top_y1 = 318;
constexpr double low_y0 = 402, low_y1 = 610;
constexpr double second_subtitle_y = 66;

constexpr PointStyle e1_point{"e1", "data-sweep", 3.5, e1_colour};
constexpr PointStyle delta_point{"delta", "data-sweep", 3.5, delta_colour};
constexpr PointStyle zero_delta_point{"delta zero", "data-sweep", 3.5, delta_colour};

// A sweep whose E(1) lies further than this many times the spread of the
// run's second half (and the direct E(1)) from that range is drawn at the
// panel's edge, so that it does not flatten the rest of the curve.
constexpr double outlier_spreads = 10;

bool has_direct(const Transcript& t) { return t.summary && std::isfinite((*t.summary)[0]); }

// The E(1) scale: the direct E(1) and the second half of the run always
// fit; an earlier sweep fits unless it lies far outside them (see
// outlier_spreads).
struct E1Scale {
  ext lo = ext(0.0), hi = ext(1.0);          // the plotted range, padded
  ext fit_lo = ext(0.0), fit_hi = ext(1.0);  // values outside are outliers
  bool fits(double v) const { return ext(v) >= fit_lo && ext(v) <= fit_hi; }
  bool above(double v) const { return ext(v) > fit_hi; }
};

E1Scale e1_scale(const Transcript& t) {
  std::vector<ext> anchors;
  if (has_direct(t)) anchors.push_back(ext((*t.summary)[0]));
  const std::size_t half = t.sweeps.size() / 2;
  for (std::size_t k = half; k < t.sweeps.size(); ++k)
    if (std::isfinite(t.sweeps[k].e1)) anchors.push_back(ext(t.sweeps[k].e1));
  if (anchors.empty())
    for (const SweepLine& s : t.sweeps)
      if (std::isfinite(s.e1)) anchors.push_back(ext(s.e1));
  E1Scale scale;
  if (anchors.empty()) return scale;
  const auto [lo_it, hi_it] = std::minmax_element(anchors.begin(), anchors.end());
  const ext core_lo = *lo_it, core_hi = *hi_it;
  // The spread used is at least 5% of the values' magnitude, so that a
  // converged tail does not turn ordinary early sweeps into outliers.
  ext spread = std::max(core_hi - core_lo, ext(5.0) / ext(100.0) * std::max(magnitude(core_lo), magnitude(core_hi)));
  if (spread == ext(0.0)) spread = ext(1.0);
  scale.fit_lo = core_lo - ext(outlier_spreads) * spread;
  scale.fit_hi = core_hi + ext(outlier_spreads) * spread;
  ext lo = core_lo, hi = core_hi;
  for (const SweepLine& s : t.sweeps)
    if (std::isfinite(s.e1) && scale.fits(s.e1)) lo = std::min(lo, ext(s.e1)), hi = std::max(hi, ext(s.e1));
  pad_range(lo, hi);
  scale.lo = lo;
  scale.hi = hi;
  return scale;
}

// An open triangle on the panel's edge, pointing the way the value lies.
void draw_outlier(SvgWriter& svg, int sweep, double value, double px, double py, bool above) {
  const double tip = above ? py - 5 : py + 5, base = above ? py + 4 : py - 4;
  svg.open("polygon").attr("class", "e1 outlier").attr("data-sweep", std::to_string(sweep));
  svg.attr("data-value", shortest_text(value)).attr("data-edge", above ? "top" : "bottom");
  svg.attr("points", coordinate(px) + "," + coordinate(tip) + " " + coordinate(px - 5) + "," + coordinate(base) + " " +
                         coordinate(px + 5) + "," + coordinate(base));
  svg.attr("fill", "white").attr("stroke", e1_colour).attr("stroke-width", "1.6").open("title");
  svg.text("sweep " + std::to_string(sweep) + ": E(1) = " + brief(value) + ", " + (above ? "above" : "below") +
           " the scale");
  svg.close().close();
}

// One note above the panel, at its right end: how many sweeps lie off the
// scale on either side, and the farthest of them.
void note_outliers(SvgWriter& svg, const Transcript& t, const E1Scale& scale) {
  std::string note;
  for (const bool above : {true, false}) {
    int count = 0;
    double farthest = 0;
    for (const SweepLine& s : t.sweeps) {
      if (!std::isfinite(s.e1) || scale.fits(s.e1) || scale.above(s.e1) != above) continue;
      if (count++ == 0 || (above ? s.e1 > farthest : s.e1 < farthest)) farthest = s.e1;
    }
    if (count == 0) continue;
    note += note.empty() ? "off the scale: " : ", ";
    note += std::to_string(count) + (count == 1 ? " sweep " : " sweeps ") + (above ? "above" : "below") +
            " (farthest " + brief(farthest) + ")";
  }
  if (note.empty()) return;
  svg.open("text").attr("class", "outlier-note").attr("font-size", "10").attr("fill", e1_colour);
  place_text(svg, right, top_y0 - 6, "end", note);
}

void draw_e1_panel(SvgWriter& svg, const Transcript& t, const Axis& x) {
  svg.open_container("g").attr("class", "panel e1");
  const E1Scale scale = e1_scale(t);
  const Axis y{scale.lo, scale.hi, top_y1, top_y0};
  draw_frame(svg, top_y0, top_y1);
  draw_linear_grid(svg, y);
  draw_axis_title(svg, 16, top_y0, top_y1, "E(1)");
  if (has_direct(t)) draw_level(svg, "direct", (*t.summary)[0], y.place(ext((*t.summary)[0])), direct_colour);
  // Outliers join the curve at the edge, so that it visibly comes from there.
  const auto y_of = [&](double v) { return scale.fits(v) ? y.place(ext(v)) : scale.above(v) ? top_y0 : top_y1; };
  const auto x_of = [&](const SweepLine& s) { return x.place(ext(static_cast<double>(s.iter))); };
  Polyline curve(svg, e1_colour);
  for (const SweepLine& s : t.sweeps) {
    if (std::isfinite(s.e1)) curve.add(x_of(s), y_of(s.e1));
    else curve.end_piece();
  }
  curve.end_piece();
  for (const SweepLine& s : t.sweeps) {
    if (!std::isfinite(s.e1)) continue;
    if (scale.fits(s.e1))
      draw_point(svg, e1_point, s.iter, s.e1, x_of(s), y_of(s.e1), "sweep " + std::to_string(s.iter) + ": E(1) = " + brief(s.e1));
    else
      draw_outlier(svg, s.iter, s.e1, x_of(s), y_of(s.e1), scale.above(s.e1));
  }
  note_outliers(svg, t, scale);
  draw_count_axis(svg, x, top_y1, static_cast<int>(t.sweeps.size()));
  svg.close();
}

// The first sweep's DELTA is measured against EPREV's start value 1.0e12,
// not against an earlier E(1): it is no change of E(1) and is not drawn.
bool measured(const SweepLine& s) { return s.iter > 1 && std::isfinite(s.delta); }

void draw_delta_panel(SvgWriter& svg, const Transcript& t, const Axis& x, bool from_results) {
  svg.open_container("g").attr("class", "panel delta");
  const double tol = t.sweeps.front().tol;
  const bool tol_drawn = std::isfinite(tol) && tol > 0;
  std::vector<double> logs;
  for (const SweepLine& s : t.sweeps)
    if (measured(s) && s.delta > 0) logs.push_back(std::log10(s.delta));
  if (tol_drawn) logs.push_back(std::log10(tol));
  // Half a decade at least on either side, so that neither TOL nor a point
  // ever lies on the frame.
  const Decades decades = decades_around(logs, 0.5);
  const Axis y{ext(static_cast<double>(decades.lo)), ext(static_cast<double>(decades.hi)), low_y1, low_y0};
  draw_frame(svg, low_y0, low_y1);
  draw_log_grid(svg, y, decades, 12);
  draw_axis_title(svg, 16, low_y0, low_y1, "DELTA (log scale)");
  if (tol_drawn) draw_level(svg, "tol", tol, y.place(ext(std::log10(tol))), tol_colour);
  const auto y_of = [&](double delta) { return delta > 0 ? y.place(ext(std::log10(delta))) : low_y1; };
  const auto x_of = [&](const SweepLine& s) { return x.place(ext(static_cast<double>(s.iter))); };
  Polyline curve(svg, delta_colour);
  for (const SweepLine& s : t.sweeps) {
    if (s.iter == 1) continue;
    if (measured(s)) curve.add(x_of(s), y_of(s.delta));
    else curve.end_piece();
  }
  curve.end_piece();
  for (const SweepLine& s : t.sweeps) {
    if (!measured(s)) continue;
    const std::string where = "sweep " + std::to_string(s.iter) + ": ";
    if (s.delta > 0)
      draw_point(svg, delta_point, s.iter, s.delta, x_of(s), y_of(s.delta), where + "DELTA = " + brief(s.delta));
    else
      draw_point(svg, zero_delta_point, s.iter, s.delta, x_of(s), low_y1, where + "DELTA = 0");
  }
  draw_count_axis(svg, x, low_y1, static_cast<int>(t.sweeps.size()));
  place_text(svg.open("text"), (left + right) / 2, low_y1 + 40, "middle", "sweep");
  place_text(svg.open("text").attr("font-size", "10").attr("fill", "#777"), right, low_y1 + 40, "end",
             from_results ? "full-precision values from a results file"
                          : "values as printed by blockeig, 3 significant digits");
  svg.close();
}

// Settled, not converged: DELTA <= TOL says that E(1) stopped moving, not
// that it reached the lowest eigenvalue (the line below says where it is).
std::string subtitle(const Transcript& t, const RunEnd& end) {
  std::string s;
  if (t.n) s += "N = " + std::to_string(*t.n) + ", ";
  if (t.nblocks > 0) s += std::to_string(t.nblocks) + (t.nblocks == 1 ? " block, " : " blocks, ");
  s += std::to_string(t.sweeps.size()) + (t.sweeps.size() == 1 ? " sweep" : " sweeps");
  const SweepLine& last = t.sweeps.back();
  if (!end.unended_state.empty())
    s += "; run " + end.unended_state + ", shown as of sweep " + std::to_string(last.iter);
  else if (last.delta <= last.tol)
    s += "; settled: DELTA <= TOL at sweep " + std::to_string(last.iter);
  else
    s += "; not settled: stopped at sweep " + std::to_string(last.iter) + " without DELTA <= TOL";
  if (t.ierr && *t.ierr != 0) s += "; direct solve IERR = " + std::to_string(*t.ierr);
  return s;
}

}  // namespace

void draw_sweep_figure(SvgWriter& svg, const Transcript& t, std::string_view name, bool from_results,
                       const RunEnd& end, double y) {
  const std::string title = "blockeig sweeps: " + std::string(name);
  open_figure(svg, sweep_figure_height, y, title);
  // A results file's heading leads with where E(1) ended; a transcript's
  // three digits tell little of it, and its line comes second.
  const bool lead = from_results && !end.accuracy.empty();
  draw_heading(svg, title, lead ? "" : subtitle(t, end));
  place_text(svg.open("text").attr("class", "accuracy").attr("fill", lead ? "#222" : "#555"), left,
             lead ? 48 : second_subtitle_y, "start", end.accuracy);
  if (lead) place_text(svg.open("text").attr("fill", "#555"), left, second_subtitle_y, "start", subtitle(t, end));
  const Axis x = count_axis(static_cast<int>(t.sweeps.size()));
  Legend e1_legend(svg, top_y0 - 22, 3.5);
  e1_legend.entry(e1_colour, false, true, "E(1) after each sweep");
  if (has_direct(t)) e1_legend.entry(direct_colour, true, false, "direct E(1) = " + brief((*t.summary)[0]));
  draw_e1_panel(svg, t, x);
  Legend delta_legend(svg, low_y0 - 22, 3.5);
  delta_legend.entry(delta_colour, false, true, "DELTA = |E(1) - EPREV|, from sweep 2 (sweep 1 has no earlier E(1))");
  delta_legend.entry(tol_colour, true, false, "TOL = " + brief(t.sweeps.front().tol));
  draw_delta_panel(svg, t, x, from_results);
  svg.close();
}

}  // namespace scrtool::plot
