#include "tools/sweep_plot.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "tools/text_scan.hpp"

namespace scrtool {

namespace {

constexpr double width = 820;
constexpr double height = 640;
constexpr double left = 96;
constexpr double right = 790;
// Vertical extent of the two panels.
constexpr double top_y0 = 92, top_y1 = 300;
constexpr double low_y0 = 372, low_y1 = 580;

constexpr const char* e1_colour = "#1f5fa8";
constexpr const char* delta_colour = "#c8551b";
constexpr const char* tol_colour = "#b0182a";
constexpr const char* direct_colour = "#555555";

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
  double lo, hi;    // data range (log10 of it for the log axis)
  double p0, p1;    // pixel positions of lo and hi
  double place(double v) const { return p0 + (v - lo) / (hi - lo) * (p1 - p0); }
};

// Ticks at 1, 2 or 5 times a power of ten, about `target` of them across [lo, hi].
double nice_step(double lo, double hi, int target) {
  const double raw = (hi - lo) / target;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

std::string tick_label(double value, double step) {
  if (std::fabs(value) < step * 1e-6) value = 0;
  const int step_exponent = static_cast<int>(std::floor(std::log10(step) + 1e-9));
  const double largest = std::fabs(value);
  char buffer[48];
  std::to_chars_result r;
  if (step_exponent >= -4 && largest < 1e7) {
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, std::max(0, -step_exponent));
  } else {
    const int value_exponent = largest > 0 ? static_cast<int>(std::floor(std::log10(largest))) : step_exponent;
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                      std::max(0, value_exponent - step_exponent));
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
    out += "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" text-anchor=\"" + anchor + "\"" + extra + ">" + body +
           "</text>\n";
  }
  std::string out;
};

void draw_x_axis(Svg& svg, const Axis& x, double y_bottom, int sweeps, bool labels) {
  svg.line(left, y_bottom, right, y_bottom, "stroke=\"#333\"");
  const int step = static_cast<int>(std::max(1.0, nice_step(1, std::max(2, sweeps), 10)));
  // Sweep 1, then the multiples of the step.
  for (int s = 1; s <= sweeps; s = s == 1 && step > 1 ? step : s + step) {
    const double px = x.place(s);
    svg.line(px, y_bottom, px, y_bottom + 5, "stroke=\"#333\"");
    if (labels) svg.text(px, y_bottom + 19, "middle", std::to_string(s));
  }
}

void draw_frame(Svg& svg, double y0, double y1) {
  svg.out += "<rect x=\"" + coord(left) + "\" y=\"" + coord(y0) + "\" width=\"" + coord(right - left) +
             "\" height=\"" + coord(y1 - y0) + "\" fill=\"#fafafa\" stroke=\"#bbb\"/>\n";
}

void draw_point(Svg& svg, const char* cls, const char* colour, int sweep, double value, double px, double py,
                const std::string& label) {
  svg.out += "<circle class=\"" + std::string(cls) + "\" data-sweep=\"" + std::to_string(sweep) +
             "\" data-value=\"" + shortest_text(value) + "\" cx=\"" + coord(px) + "\" cy=\"" + coord(py) +
             "\" r=\"3.5\" fill=\"" + colour + "\"><title>sweep " + std::to_string(sweep) + ": " + label +
             "</title></circle>\n";
}

void draw_polyline(Svg& svg, const std::vector<std::pair<double, double>>& points, const char* colour) {
  if (points.size() < 2) return;
  svg.out += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.6\" points=\"";
  for (const auto& [px, py] : points) svg.out += coord(px) + "," + coord(py) + " ";
  svg.out += "\"/>\n";
}

void draw_e1_panel(Svg& svg, const Transcript& t, const Axis& x) {
  std::vector<double> values;
  for (const SweepLine& s : t.sweeps)
    if (std::isfinite(s.e1)) values.push_back(s.e1);
  const bool direct = t.summary && std::isfinite((*t.summary)[0]);
  if (direct) values.push_back((*t.summary)[0]);
  double lo = values.empty() ? 0 : *std::min_element(values.begin(), values.end());
  double hi = values.empty() ? 1 : *std::max_element(values.begin(), values.end());
  const double pad = hi > lo ? 0.08 * (hi - lo) : std::max(1.0, std::fabs(lo)) * 0.1;
  lo -= pad, hi += pad;
  const double step = nice_step(lo, hi, 5);
  Axis y{lo, hi, top_y1, top_y0};
  draw_frame(svg, top_y0, top_y1);
  for (double v = std::ceil(lo / step) * step; v <= hi; v += step) {
    const double py = y.place(v);
    svg.line(left, py, right, py, "stroke=\"#e2e2e2\"");
    svg.line(left - 5, py, left, py, "stroke=\"#333\"");
    svg.text(left - 8, py + 4, "end", tick_label(v, step));
  }
  svg.text(24, (top_y0 + top_y1) / 2, "middle", "E(1)", " transform=\"rotate(-90 24 " + coord((top_y0 + top_y1) / 2) + ")\"");
  if (direct) {
    const double py = y.place((*t.summary)[0]);
    svg.out += "<line class=\"direct\" data-value=\"" + shortest_text((*t.summary)[0]) + "\" x1=\"" + coord(left) +
               "\" y1=\"" + coord(py) + "\" x2=\"" + coord(right) + "\" y2=\"" + coord(py) + "\" stroke=\"" +
               direct_colour + "\" stroke-width=\"1.4\" stroke-dasharray=\"7 5\"/>\n";
  }
  std::vector<std::pair<double, double>> points;
  for (const SweepLine& s : t.sweeps) {
    if (!std::isfinite(s.e1)) {
      draw_polyline(svg, points, e1_colour);
      points.clear();
      continue;
    }
    points.emplace_back(x.place(s.iter), y.place(s.e1));
  }
  draw_polyline(svg, points, e1_colour);
  for (const SweepLine& s : t.sweeps)
    if (std::isfinite(s.e1))
      draw_point(svg, "e1", e1_colour, s.iter, s.e1, x.place(s.iter), y.place(s.e1), "E(1) = " + brief(s.e1));
  draw_x_axis(svg, x, top_y1, static_cast<int>(t.sweeps.size()), false);
}

void draw_delta_panel(Svg& svg, const Transcript& t, const Axis& x, const SweepPlotOptions& options) {
  const double tol = t.sweeps.front().tol;
  std::vector<double> logs;
  for (const SweepLine& s : t.sweeps)
    if (std::isfinite(s.delta) && s.delta > 0 && !(options.from_results && s.iter == 1))
      logs.push_back(std::log10(s.delta));
  if (std::isfinite(tol) && tol > 0) logs.push_back(std::log10(tol));
  double lo = logs.empty() ? -1 : std::floor(*std::min_element(logs.begin(), logs.end()));
  double hi = logs.empty() ? 1 : std::ceil(*std::max_element(logs.begin(), logs.end()));
  if (hi - lo < 2) lo -= 1, hi += 1;
  Axis y{lo, hi, low_y1, low_y0};
  draw_frame(svg, low_y0, low_y1);
  const int decades = static_cast<int>(hi - lo);
  const int stride = std::max(1, (decades + 11) / 12);
  for (int e = static_cast<int>(lo); e <= static_cast<int>(hi); ++e) {
    const double py = y.place(e);
    const bool labelled = e % stride == 0;
    svg.line(left, py, right, py, labelled ? "stroke=\"#e2e2e2\"" : "stroke=\"#f1f1f1\"");
    if (!labelled) continue;
    svg.line(left - 5, py, left, py, "stroke=\"#333\"");
    svg.text(left - 8, py + 4, "end", "10<tspan dy=\"-7\" font-size=\"10\">" + std::to_string(e) + "</tspan>");
  }
  svg.text(24, (low_y0 + low_y1) / 2, "middle", "DELTA (log scale)",
           " transform=\"rotate(-90 24 " + coord((low_y0 + low_y1) / 2) + ")\"");
  if (std::isfinite(tol) && tol > 0) {
    const double py = y.place(std::log10(tol));
    svg.out += "<line class=\"tol\" data-value=\"" + shortest_text(tol) + "\" x1=\"" + coord(left) + "\" y1=\"" +
               coord(py) + "\" x2=\"" + coord(right) + "\" y2=\"" + coord(py) + "\" stroke=\"" + tol_colour +
               "\" stroke-width=\"1.4\" stroke-dasharray=\"7 5\"/>\n";
  }
  std::vector<std::pair<double, double>> points;
  for (const SweepLine& s : t.sweeps) {
    if (options.from_results && s.iter == 1) continue;
    if (!std::isfinite(s.delta)) {
      draw_polyline(svg, points, delta_colour);
      points.clear();
      continue;
    }
    points.emplace_back(x.place(s.iter), s.delta > 0 ? y.place(std::log10(s.delta)) : low_y1);
  }
  draw_polyline(svg, points, delta_colour);
  for (const SweepLine& s : t.sweeps) {
    if (!std::isfinite(s.delta) || (options.from_results && s.iter == 1)) continue;
    if (s.delta > 0)
      draw_point(svg, "delta", delta_colour, s.iter, s.delta, x.place(s.iter), y.place(std::log10(s.delta)),
                 "DELTA = " + brief(s.delta));
    else
      draw_point(svg, "delta zero", delta_colour, s.iter, s.delta, x.place(s.iter), low_y1, "DELTA = 0");
  }
  draw_x_axis(svg, x, low_y1, static_cast<int>(t.sweeps.size()), true);
  svg.text((left + right) / 2, low_y1 + 40, "middle", "sweep");
  svg.text(right, low_y1 + 40, "end",
           options.from_results ? "full-precision values, sweep 1's DELTA left out"
                                : "values as printed by blockeig, 3 significant digits",
           " font-size=\"10\" fill=\"#777\"");
}

void draw_legend(Svg& svg, const Transcript& t) {
  double x0 = left;
  const double y0 = 70;
  const auto entry = [&](const char* colour, bool dashed, bool marker, const std::string& label, double advance) {
    svg.line(x0, y0, x0 + 26, y0,
             "stroke=\"" + std::string(colour) + "\" stroke-width=\"1.6\"" + (dashed ? " stroke-dasharray=\"7 5\"" : ""));
    if (marker) svg.out += "<circle cx=\"" + coord(x0 + 13) + "\" cy=\"" + coord(y0) + "\" r=\"3.5\" fill=\"" + colour + "\"/>\n";
    svg.text(x0 + 32, y0 + 4, "start", escape(label));
    x0 += advance;
  };
  entry(e1_colour, false, true, "E(1) after each sweep", 190);
  if (t.summary) entry(direct_colour, true, false, "direct E(1) = " + brief((*t.summary)[0]), 200);
  entry(delta_colour, false, true, "DELTA = |E(1) - EPREV|", 200);
  entry(tol_colour, true, false, "TOL = " + brief(t.sweeps.front().tol), 150);
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
  draw_x_axis(svg, x, spectrum_y1, static_cast<int>(n), false);
  draw_difference_panel(svg, r.pairs, x);
  draw_x_axis(svg, x, difference_y1, static_cast<int>(n), true);
  svg.text((left + right) / 2, difference_y1 + 40, "middle", "rank");
  svg.out += "</svg>\n";
  return svg.out;
}

}  // namespace

std::string render_sweep_plot(const Transcript& t, std::string_view source_name, const SweepPlotOptions& options) {
  Svg svg;
  svg.out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coord(width) + "\" height=\"" + coord(height) +
            "\" viewBox=\"0 0 " + coord(width) + " " + coord(height) +
            "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\" font-size=\"12\" fill=\"#222\">\n";
  svg.out += "<title>blockeig sweeps: " + escape(source_name) + "</title>\n";
  svg.out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg.text(left, 28, "start", "blockeig sweeps: " + escape(source_name), " font-size=\"16\" font-weight=\"bold\"");
  svg.text(left, 48, "start", escape(subtitle(t)), " fill=\"#555\"");
  const int sweeps = static_cast<int>(t.sweeps.size());
  const Axis x{sweeps > 1 ? 1.0 : 0.0, sweeps > 1 ? static_cast<double>(sweeps) : 2.0, left + 14, right - 14};
  draw_legend(svg, t);
  draw_e1_panel(svg, t, x);
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
