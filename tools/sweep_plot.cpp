#include "tools/sweep_plot.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "tools/text_scan.hpp"

namespace scrtool {

namespace {

// Axis arithmetic is done in the extended type: its exponent range holds the
// span of any two doubles, so no range computation can overflow.
using ext = long double;

constexpr double width = 820;
constexpr double height = 654;
constexpr double left = 96;
constexpr double right = 790;
// Vertical extent of the two panels.
constexpr double top_y0 = 92, top_y1 = 300;
constexpr double low_y0 = 384, low_y1 = 592;

constexpr const char* e1_colour = "#1f5fa8";
constexpr const char* delta_colour = "#c8551b";
constexpr const char* tol_colour = "#b0182a";
constexpr const char* direct_colour = "#555555";

// A sweep whose E(1) lies further than this many times the spread of the
// run's second half (and the direct E(1)) from that range is drawn at the
// panel's edge, so that it does not flatten the rest of the curve.
constexpr ext outlier_spreads = 10;
// The spread used is at least this fraction of the values' magnitude, so
// that a converged tail does not turn ordinary early sweeps into outliers.
constexpr ext least_relative_spread = 0.05L;

std::string escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The file name without its directories: a picture names its transcript,
// not the place where it was made.
std::string_view file_name_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Coordinates with two decimals are plenty for a picture of this size.
std::string coord(double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, std::round(v * 100) / 100, std::chars_format::fixed, 2);
  return std::string(buffer, r.ptr);
}

// G12.3-like text for a tooltip: three significant digits.
std::string brief(double v) {
  if (!std::isfinite(v)) return shortest_text(v);
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 3);
  return std::string(buffer, r.ptr);
}

struct Axis {
  ext lo, hi;     // data range (log10 of it for the log axis); lo < hi
  double p0, p1;  // pixel positions of lo and hi
  double place(ext v) const { return static_cast<double>(p0 + (v - lo) / (hi - lo) * (p1 - p0)); }
};

// Ticks at 1, 2 or 5 times a power of ten, the number of them across
// [lo, hi] as close to `target` as these steps allow; requires lo < hi,
// both finite.
ext nice_step(ext lo, ext hi, int target) {
  const ext span = hi - lo;
  const ext power = std::pow(10.0L, std::floor(std::log10(span / target)));
  ext best = power;
  for (ext m : {2.0L, 5.0L, 10.0L})
    if (std::fabs(span / (m * power) - target) < std::fabs(span / best - target)) best = m * power;
  return best;
}

std::string tick_label(ext value, ext step) {
  if (std::fabs(value) < step * 1e-6L) value = 0;
  const int step_exponent = static_cast<int>(std::floor(std::log10(step) + 1e-9L));
  const ext largest = std::fabs(value);
  char buffer[64];
  std::to_chars_result r;
  if (step_exponent >= -4 && largest < 1e7L) {
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, std::max(0, -step_exponent));
  } else {
    const int value_exponent = largest > 0 ? static_cast<int>(std::floor(std::log10(largest))) : step_exponent;
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                      std::clamp(value_exponent - step_exponent, 0, 17));
  }
  return std::string(buffer, r.ptr);
}

class Svg {
 public:
  void line(double x0, double y0, double x1, double y1, const std::string& style) {
    out += "<line x1=\"" + coord(x0) + "\" y1=\"" + coord(y0) + "\" x2=\"" + coord(x1) + "\" y2=\"" + coord(y1) +
           "\" " + style + "/>\n";
  }
  void text(double x, double y, const std::string& anchor, const std::string& body, const std::string& extra = "") {
    out += "<text" + extra + " x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" text-anchor=\"" + anchor + "\">" +
           body + "</text>\n";
  }
  std::string out;
};

void draw_x_axis(Svg& svg, const Axis& x, double y_bottom, int sweeps) {
  svg.line(left, y_bottom, right, y_bottom, "stroke=\"#333\"");
  const int step = static_cast<int>(std::max(1.0L, nice_step(1, std::max(2, sweeps), 10)));
  // Sweep 1, then the multiples of the step.
  for (int s = 1; s <= sweeps; s = s == 1 && step > 1 ? step : s + step) {
    const double px = x.place(s);
    svg.line(px, y_bottom, px, y_bottom + 5, "stroke=\"#333\"");
    svg.text(px, y_bottom + 19, "middle", std::to_string(s), " class=\"tick x\"");
  }
}

void draw_y_tick(Svg& svg, double py, const std::string& label) {
  svg.line(left - 5, py, left, py, "stroke=\"#333\"");
  svg.text(left - 8, py + 4, "end", label, " class=\"tick y\"");
}

void draw_frame(Svg& svg, double y0, double y1) {
  svg.out += "<rect class=\"frame\" x=\"" + coord(left) + "\" y=\"" + coord(y0) + "\" width=\"" +
             coord(right - left) + "\" height=\"" + coord(y1 - y0) + "\" fill=\"#fafafa\" stroke=\"#bbb\"/>\n";
}

void draw_point(Svg& svg, const char* cls, const char* colour, int sweep, double value, double px, double py,
                const std::string& label) {
  svg.out += "<circle class=\"" + std::string(cls) + "\" data-sweep=\"" + std::to_string(sweep) +
             "\" data-value=\"" + shortest_text(value) + "\" cx=\"" + coord(px) + "\" cy=\"" + coord(py) +
             "\" r=\"3.5\" fill=\"" + colour + "\"><title>sweep " + std::to_string(sweep) + ": " + label +
             "</title></circle>\n";
}

// An open triangle on the panel's edge, pointing the way the value lies.
void draw_outlier(Svg& svg, int sweep, double value, double px, double py, bool above) {
  const double tip = above ? py - 5 : py + 5, base = above ? py + 4 : py - 4;
  svg.out += "<polygon class=\"e1 outlier\" data-sweep=\"" + std::to_string(sweep) + "\" data-value=\"" +
             shortest_text(value) + "\" data-edge=\"" + (above ? "top" : "bottom") + "\" points=\"" + coord(px) +
             "," + coord(tip) + " " + coord(px - 5) + "," + coord(base) + " " + coord(px + 5) + "," + coord(base) +
             "\" fill=\"white\" stroke=\"" + e1_colour + "\" stroke-width=\"1.6\"><title>sweep " +
             std::to_string(sweep) + ": E(1) = " + brief(value) + ", " + (above ? "above" : "below") +
             " the scale</title></polygon>\n";
}

void draw_polyline(Svg& svg, const std::vector<std::pair<double, double>>& points, const char* colour) {
  if (points.size() < 2) return;
  svg.out += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.6\" points=\"";
  for (const auto& [px, py] : points) svg.out += coord(px) + "," + coord(py) + " ";
  svg.out += "\"/>\n";
}

bool has_direct(const Transcript& t) { return t.summary && std::isfinite((*t.summary)[0]); }

// The E(1) scale: the direct E(1) and the second half of the run always
// fit; an earlier sweep fits unless it lies far outside them (see
// outlier_spreads).
struct E1Scale {
  ext lo = 0, hi = 1;                   // the plotted range, padded
  ext fit_lo = 0, fit_hi = 1;           // values outside are outliers
  bool fits(ext v) const { return v >= fit_lo && v <= fit_hi; }
};

E1Scale e1_scale(const Transcript& t) {
  std::vector<ext> anchors;
  if (has_direct(t)) anchors.push_back((*t.summary)[0]);
  const std::size_t half = t.sweeps.size() / 2;
  for (std::size_t k = half; k < t.sweeps.size(); ++k)
    if (std::isfinite(t.sweeps[k].e1)) anchors.push_back(t.sweeps[k].e1);
  if (anchors.empty())
    for (const SweepLine& s : t.sweeps)
      if (std::isfinite(s.e1)) anchors.push_back(s.e1);
  E1Scale scale;
  if (anchors.empty()) return scale;
  const auto [lo_it, hi_it] = std::minmax_element(anchors.begin(), anchors.end());
  const ext core_lo = *lo_it, core_hi = *hi_it;
  ext spread = std::max(core_hi - core_lo, least_relative_spread * std::max(std::fabs(core_lo), std::fabs(core_hi)));
  if (spread == 0) spread = 1;
  scale.fit_lo = core_lo - outlier_spreads * spread;
  scale.fit_hi = core_hi + outlier_spreads * spread;
  ext lo = core_lo, hi = core_hi;
  for (const SweepLine& s : t.sweeps)
    if (std::isfinite(s.e1) && scale.fits(s.e1)) lo = std::min<ext>(lo, s.e1), hi = std::max<ext>(hi, s.e1);
  const ext pad = hi > lo ? 0.08L * (hi - lo) : std::max(1.0L, std::fabs(lo)) * 0.1L;
  scale.lo = lo - pad;
  scale.hi = hi + pad;
  return scale;
}

// One note above the panel, at its right end: how many sweeps lie off the
// scale on either side, and the farthest of them.
void note_outliers(Svg& svg, const Transcript& t, const E1Scale& scale) {
  std::string note;
  for (const bool above : {true, false}) {
    int count = 0;
    double farthest = 0;
    for (const SweepLine& s : t.sweeps) {
      if (!std::isfinite(s.e1) || scale.fits(s.e1) || (s.e1 > scale.fit_hi) != above) continue;
      if (count++ == 0 || (above ? s.e1 > farthest : s.e1 < farthest)) farthest = s.e1;
    }
    if (count == 0) continue;
    note += note.empty() ? "off the scale: " : ", ";
    note += std::to_string(count) + (count == 1 ? " sweep " : " sweeps ") + (above ? "above" : "below") +
            " (farthest " + brief(farthest) + ")";
  }
  if (note.empty()) return;
  svg.text(right, top_y0 - 6, "end", escape(note),
           std::string(" class=\"outlier-note\" font-size=\"10\" fill=\"") + e1_colour + "\"");
}

void draw_e1_panel(Svg& svg, const Transcript& t, const Axis& x) {
  svg.out += "<g class=\"panel e1\">\n";
  const E1Scale scale = e1_scale(t);
  const ext step = nice_step(scale.lo, scale.hi, 5);
  const Axis y{scale.lo, scale.hi, top_y1, top_y0};
  draw_frame(svg, top_y0, top_y1);
  for (ext v = std::ceil(scale.lo / step) * step; v <= scale.hi; v += step) {
    const double py = y.place(v);
    svg.line(left, py, right, py, "stroke=\"#e2e2e2\"");
    draw_y_tick(svg, py, tick_label(v, step));
  }
  svg.text(16, (top_y0 + top_y1) / 2, "middle", "E(1)",
           " transform=\"rotate(-90 16 " + coord((top_y0 + top_y1) / 2) + ")\"");
  if (has_direct(t)) {
    const double py = y.place((*t.summary)[0]);
    svg.out += "<line class=\"direct\" data-value=\"" + shortest_text((*t.summary)[0]) + "\" x1=\"" + coord(left) +
               "\" y1=\"" + coord(py) + "\" x2=\"" + coord(right) + "\" y2=\"" + coord(py) + "\" stroke=\"" +
               direct_colour + "\" stroke-width=\"1.4\" stroke-dasharray=\"7 5\"/>\n";
  }
  // Outliers join the curve at the edge, so that it visibly comes from there.
  const auto y_of = [&](double v) { return scale.fits(v) ? y.place(v) : v > scale.fit_hi ? top_y0 : top_y1; };
  std::vector<std::pair<double, double>> points;
  for (const SweepLine& s : t.sweeps) {
    if (!std::isfinite(s.e1)) {
      draw_polyline(svg, points, e1_colour);
      points.clear();
      continue;
    }
    points.emplace_back(x.place(s.iter), y_of(s.e1));
  }
  draw_polyline(svg, points, e1_colour);
  for (const SweepLine& s : t.sweeps) {
    if (!std::isfinite(s.e1)) continue;
    if (scale.fits(s.e1))
      draw_point(svg, "e1", e1_colour, s.iter, s.e1, x.place(s.iter), y.place(s.e1), "E(1) = " + brief(s.e1));
    else
      draw_outlier(svg, s.iter, s.e1, x.place(s.iter), y_of(s.e1), s.e1 > scale.fit_hi);
  }
  note_outliers(svg, t, scale);
  draw_x_axis(svg, x, top_y1, static_cast<int>(t.sweeps.size()));
  svg.out += "</g>\n";
}

// The first sweep's DELTA is measured against EPREV's start value 1.0e12,
// not against an earlier E(1): it is no change of E(1) and is not drawn.
bool measured(const SweepLine& s) { return s.iter > 1 && std::isfinite(s.delta); }

void draw_delta_panel(Svg& svg, const Transcript& t, const Axis& x, const SweepPlotOptions& options) {
  svg.out += "<g class=\"panel delta\">\n";
  const double tol = t.sweeps.front().tol;
  const bool tol_drawn = std::isfinite(tol) && tol > 0;
  std::vector<ext> logs;
  for (const SweepLine& s : t.sweeps)
    if (measured(s) && s.delta > 0) logs.push_back(std::log10(ext{s.delta}));
  if (tol_drawn) logs.push_back(std::log10(ext{tol}));
  // Half a decade at least on either side, so that neither TOL nor a point
  // ever lies on the frame.
  ext lo = logs.empty() ? -1 : std::floor(*std::min_element(logs.begin(), logs.end()) - 0.5L);
  ext hi = logs.empty() ? 1 : std::ceil(*std::max_element(logs.begin(), logs.end()) + 0.5L);
  if (hi - lo < 2) lo -= 1, hi += 1;
  const Axis y{lo, hi, low_y1, low_y0};
  draw_frame(svg, low_y0, low_y1);
  const int decades = static_cast<int>(hi - lo);
  const int stride = std::max(1, (decades + 11) / 12);
  for (int e = static_cast<int>(lo); e <= static_cast<int>(hi); ++e) {
    const double py = y.place(e);
    const bool labelled = e % stride == 0;
    svg.line(left, py, right, py, labelled ? "stroke=\"#e2e2e2\"" : "stroke=\"#f1f1f1\"");
    if (labelled) draw_y_tick(svg, py, "10<tspan dy=\"-7\" font-size=\"10\">" + std::to_string(e) + "</tspan>");
  }
  svg.text(16, (low_y0 + low_y1) / 2, "middle", "DELTA (log scale)",
           " transform=\"rotate(-90 16 " + coord((low_y0 + low_y1) / 2) + ")\"");
  if (tol_drawn) {
    const double py = y.place(std::log10(ext{tol}));
    svg.out += "<line class=\"tol\" data-value=\"" + shortest_text(tol) + "\" x1=\"" + coord(left) + "\" y1=\"" +
               coord(py) + "\" x2=\"" + coord(right) + "\" y2=\"" + coord(py) + "\" stroke=\"" + tol_colour +
               "\" stroke-width=\"1.4\" stroke-dasharray=\"7 5\"/>\n";
  }
  const auto y_of = [&](double delta) { return delta > 0 ? y.place(std::log10(ext{delta})) : low_y1; };
  std::vector<std::pair<double, double>> points;
  for (const SweepLine& s : t.sweeps) {
    if (s.iter == 1) continue;
    if (!measured(s)) {
      draw_polyline(svg, points, delta_colour);
      points.clear();
      continue;
    }
    points.emplace_back(x.place(s.iter), y_of(s.delta));
  }
  draw_polyline(svg, points, delta_colour);
  for (const SweepLine& s : t.sweeps) {
    if (!measured(s)) continue;
    if (s.delta > 0)
      draw_point(svg, "delta", delta_colour, s.iter, s.delta, x.place(s.iter), y_of(s.delta),
                 "DELTA = " + brief(s.delta));
    else
      draw_point(svg, "delta zero", delta_colour, s.iter, s.delta, x.place(s.iter), low_y1, "DELTA = 0");
  }
  draw_x_axis(svg, x, low_y1, static_cast<int>(t.sweeps.size()));
  svg.text((left + right) / 2, low_y1 + 40, "middle", "sweep");
  svg.text(right, low_y1 + 40, "end",
           options.from_results ? "full-precision values from a results file"
                                : "values as printed by blockeig, 3 significant digits",
           " font-size=\"10\" fill=\"#777\"");
  svg.out += "</g>\n";
}

// A row of legend entries starting at the left edge, at height y0.
class Legend {
 public:
  Legend(Svg& svg, double y0) : svg_(svg), y0_(y0) {}
  void entry(const char* colour, bool dashed, bool marker, const std::string& label) {
    svg_.line(x0_, y0_, x0_ + 26, y0_,
              "stroke=\"" + std::string(colour) + "\" stroke-width=\"1.6\"" + (dashed ? " stroke-dasharray=\"7 5\"" : ""));
    if (marker)
      svg_.out += "<circle cx=\"" + coord(x0_ + 13) + "\" cy=\"" + coord(y0_) + "\" r=\"3.5\" fill=\"" + colour + "\"/>\n";
    svg_.text(x0_ + 32, y0_ + 4, "start", escape(label));
    // About 6.6 pixels per character at this font size.
    x0_ += 32 + 6.6 * static_cast<double>(label.size()) + 24;
  }

 private:
  Svg& svg_;
  double x0_ = left;
  double y0_;
};

void draw_e1_legend(Svg& svg, const Transcript& t) {
  Legend legend(svg, top_y0 - 22);
  legend.entry(e1_colour, false, true, "E(1) after each sweep");
  if (has_direct(t)) legend.entry(direct_colour, true, false, "direct E(1) = " + brief((*t.summary)[0]));
}

void draw_delta_legend(Svg& svg, const Transcript& t) {
  Legend legend(svg, low_y0 - 22);
  legend.entry(delta_colour, false, true, "DELTA = |E(1) - EPREV|, from sweep 2 (sweep 1 has no earlier E(1))");
  legend.entry(tol_colour, true, false, "TOL = " + brief(t.sweeps.front().tol));
}

std::string subtitle(const Transcript& t) {
  std::string s;
  if (t.n) s += "N = " + std::to_string(*t.n) + ", ";
  if (t.nblocks > 0) s += std::to_string(t.nblocks) + (t.nblocks == 1 ? " block, " : " blocks, ");
  s += std::to_string(t.sweeps.size()) + (t.sweeps.size() == 1 ? " sweep" : " sweeps");
  const SweepLine& last = t.sweeps.back();
  if (last.delta <= last.tol)
    s += "; converged: DELTA <= TOL at sweep " + std::to_string(last.iter);
  else
    s += "; stopped at sweep " + std::to_string(last.iter) + " without DELTA <= TOL";
  if (t.ierr && *t.ierr != 0) s += "; direct solve IERR = " + std::to_string(*t.ierr);
  return s;
}


// The second figure of a results file: the final block values and the
// direct eigenvalues by rank, and how far apart they are.
constexpr double eigen_height = 560;
constexpr double spectrum_y0 = 92, spectrum_y1 = 300;
constexpr double difference_y0 = 340, difference_y1 = 500;
// Above this order the values are drawn as lines only.
constexpr std::size_t most_markers = 400;

void draw_rank_point(Svg& svg, const char* cls, const char* colour, const RankPair& p, double value, double px,
                     double py, const std::string& label) {
  svg.out += "<circle class=\"" + std::string(cls) + "\" data-rank=\"" + std::to_string(p.rank) + "\" data-value=\"" +
             shortest_text(value) + "\" cx=\"" + coord(px) + "\" cy=\"" + coord(py) + "\" r=\"3\" fill=\"" + colour +
             "\"><title>rank " + std::to_string(p.rank) + ": " + label + "</title></circle>\n";
}

// |block - direct|, the exact difference rounded once.
double difference(const RankPair& p) {
  return static_cast<double>(std::fabs(static_cast<long double>(p.block) - static_cast<long double>(p.direct)));
}

void draw_spectra_panel(Svg& svg, const std::vector<RankPair>& pairs, const Axis& x) {
  std::vector<double> values;
  for (const RankPair& p : pairs)
    for (double v : {p.direct, p.block})
      if (std::isfinite(v)) values.push_back(v);
  double lo = values.empty() ? 0 : *std::min_element(values.begin(), values.end());
  double hi = values.empty() ? 1 : *std::max_element(values.begin(), values.end());
  const double pad = hi > lo ? 0.08 * (hi - lo) : std::max(1.0, std::fabs(lo)) * 0.1;
  lo -= pad, hi += pad;
  const double step = nice_step(lo, hi, 5);
  const Axis y{lo, hi, spectrum_y1, spectrum_y0};
  draw_frame(svg, spectrum_y0, spectrum_y1);
  for (double v = std::ceil(lo / step) * step; v <= hi; v += step) {
    const double py = y.place(v);
    svg.line(left, py, right, py, "stroke=\"#e2e2e2\"");
    svg.line(left - 5, py, left, py, "stroke=\"#333\"");
    svg.text(left - 8, py + 4, "end", tick_label(v, step));
  }
  svg.text(24, (spectrum_y0 + spectrum_y1) / 2, "middle", "eigenvalue",
           " transform=\"rotate(-90 24 " + coord((spectrum_y0 + spectrum_y1) / 2) + ")\"");
  const bool markers = pairs.size() <= most_markers;
  for (const bool block : {false, true}) {
    std::vector<std::pair<double, double>> points;
    for (const RankPair& p : pairs) {
      const double v = block ? p.block : p.direct;
      if (!std::isfinite(v)) {
        draw_polyline(svg, points, block ? e1_colour : direct_colour);
        points.clear();
        continue;
      }
      points.emplace_back(x.place(static_cast<double>(p.rank)), y.place(v));
    }
    if (!block || !markers) draw_polyline(svg, points, block ? e1_colour : direct_colour);
  }
  if (!markers) return;
  for (const RankPair& p : pairs)
    if (std::isfinite(p.block))
      draw_rank_point(svg, "block", e1_colour, p, p.block, x.place(static_cast<double>(p.rank)), y.place(p.block),
                      "block " + brief(p.block) + ", direct " + brief(p.direct));
}

void draw_difference_panel(Svg& svg, const std::vector<RankPair>& pairs, const Axis& x) {
  std::vector<double> logs;
  for (const RankPair& p : pairs)
    if (const double d = difference(p); std::isfinite(d) && d > 0) logs.push_back(std::log10(d));
  double lo = logs.empty() ? -1 : std::floor(*std::min_element(logs.begin(), logs.end()));
  double hi = logs.empty() ? 1 : std::ceil(*std::max_element(logs.begin(), logs.end()));
  if (hi - lo < 2) lo -= 1, hi += 1;
  const Axis y{lo, hi, difference_y1, difference_y0};
  draw_frame(svg, difference_y0, difference_y1);
  const int decades = static_cast<int>(hi - lo);
  const int stride = std::max(1, (decades + 7) / 8);
  for (int e = static_cast<int>(lo); e <= static_cast<int>(hi); ++e) {
    const double py = y.place(e);
    const bool labelled = e % stride == 0;
    svg.line(left, py, right, py, labelled ? "stroke=\"#e2e2e2\"" : "stroke=\"#f1f1f1\"");
    if (!labelled) continue;
    svg.line(left - 5, py, left, py, "stroke=\"#333\"");
    svg.text(left - 8, py + 4, "end", "10<tspan dy=\"-7\" font-size=\"10\">" + std::to_string(e) + "</tspan>");
  }
  svg.text(24, (difference_y0 + difference_y1) / 2, "middle", "|block - direct|",
           " transform=\"rotate(-90 24 " + coord((difference_y0 + difference_y1) / 2) + ")\"");
  const bool markers = pairs.size() <= most_markers;
  std::vector<std::pair<double, double>> points;
  for (const RankPair& p : pairs) {
    const double d = difference(p);
    if (!std::isfinite(d)) continue;
    const double px = x.place(static_cast<double>(p.rank));
    const double py = d > 0 ? y.place(std::log10(d)) : difference_y1;
    points.emplace_back(px, py);
    if (markers)
      draw_rank_point(svg, d > 0 ? "difference" : "difference zero", delta_colour, p, d, px, py,
                      "|block - direct| = " + brief(d));
  }
  if (!markers) draw_polyline(svg, points, delta_colour);
}

std::string render_eigenvalue_figure(const RunResults& r, std::string_view source_name) {
  Svg svg;
  svg.out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coord(width) + "\" height=\"" +
            coord(eigen_height) + "\" viewBox=\"0 0 " + coord(width) + " " + coord(eigen_height) +
            "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\" font-size=\"12\" fill=\"#222\">\n";
  svg.out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg.text(left, 28, "start", "direct and block eigenvalues: " + escape(source_name),
           " font-size=\"16\" font-weight=\"bold\"");
  std::string when = r.converged ? (*r.converged ? "converged" : "not converged") : r.state;
  svg.text(left, 48, "start",
           escape("final E after " + std::to_string(r.sweeps.size()) + (r.sweeps.size() == 1 ? " sweep (" : " sweeps (") +
                  when + "), sorted, beside C.SCR.TXT's eigenvalues of the same rank"),
           " fill=\"#555\"");
  double x0 = left;
  const auto entry = [&](const char* colour, bool marker, const std::string& label, double advance) {
    svg.line(x0, 70, x0 + 26, 70, "stroke=\"" + std::string(colour) + "\" stroke-width=\"1.6\"");
    if (marker) svg.out += "<circle cx=\"" + coord(x0 + 13) + "\" cy=\"70\" r=\"3\" fill=\"" + colour + "\"/>\n";
    svg.text(x0 + 32, 74, "start", escape(label));
    x0 += advance;
  };
  entry(direct_colour, false, "direct (C.SCR.TXT)", 190);
  entry(e1_colour, true, "block phase, final", 190);
  entry(delta_colour, true, "|block - direct|", 190);
  const std::size_t n = r.pairs.size();
  const Axis x{n > 1 ? 1.0 : 0.0, n > 1 ? static_cast<double>(n) : 2.0, left + 14, right - 14};
  draw_spectra_panel(svg, r.pairs, x);
  draw_x_axis(svg, x, spectrum_y1, static_cast<int>(n));
  draw_difference_panel(svg, r.pairs, x);
  draw_x_axis(svg, x, difference_y1, static_cast<int>(n));
  svg.text((left + right) / 2, difference_y1 + 40, "middle", "rank");
  svg.out += "</svg>\n";
  return svg.out;
}

}  // namespace

std::string render_sweep_plot(const Transcript& t, std::string_view source_name, const SweepPlotOptions& options) {
  Svg svg;
  const std::string name = escape(file_name_of(source_name));
  svg.out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coord(width) + "\" height=\"" + coord(height) +
            "\" viewBox=\"0 0 " + coord(width) + " " + coord(height) +
            "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\" font-size=\"12\" fill=\"#222\">\n";
  svg.out += "<title>blockeig sweeps: " + name + "</title>\n";
  svg.out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg.text(left, 28, "start", "blockeig sweeps: " + name, " font-size=\"16\" font-weight=\"bold\"");
  svg.text(left, 48, "start", escape(subtitle(t)), " fill=\"#555\"");
  const int sweeps = static_cast<int>(t.sweeps.size());
  const Axis x{sweeps > 1 ? 1.0L : 0.0L, sweeps > 1 ? static_cast<ext>(sweeps) : 2.0L, left + 14, right - 14};
  draw_e1_legend(svg, t);
  draw_e1_panel(svg, t, x);
  draw_delta_legend(svg, t);
  draw_delta_panel(svg, t, x, options);
  svg.out += "</svg>\n";
  return svg.out;
}


std::string render_results_plot(const RunResults& results, std::string_view source_name) {
  // The sweep plot on top, the eigenvalue figure below, as two nested
  // pictures in one.
  std::string sweeps = render_sweep_plot(as_transcript(results), source_name, {.from_results = true});
  sweeps.erase(0, sweeps.find("<svg "));
  std::string eigenvalues = render_eigenvalue_figure(results, source_name);
  eigenvalues.insert(5, "y=\"" + coord(height) + "\" ");
  const double total = height + eigen_height;
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coord(width) +
         "\" height=\"" + coord(total) + "\" viewBox=\"0 0 " + coord(width) + " " + coord(total) + "\">\n<title>blockeig results: " +
         escape(source_name) + "</title>\n" + sweeps + eigenvalues + "</svg>\n";
}

}  // namespace scrtool
