#include "tools/plot_axes.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "tools/text_scan.hpp"

namespace scrtool::plot {

namespace {

constexpr const char* axis_stroke = "#333";
constexpr const char* grid_stroke = "#e2e2e2";
constexpr const char* faint_grid_stroke = "#f1f1f1";

// 10^exponent: exact while it fits the significand, and one rounding
// below 1.
ext power_of_ten(int exponent) {
  ext power = 1.0;
  for (int k = 0; k < std::abs(exponent); ++k) power = power * ext(10.0);
  return exponent < 0 ? ext(1.0) / power : power;
}

// The least whole number at or above `q`: rounded up in double, then
// checked against q in the extended type (exact while the answer is below
// 2^53, as every tick count is).
ext ceiling(ext q) {
  double c = std::ceil(static_cast<double>(q));
  while (ext(c) < q) c += 1;
  while (ext(c - 1) >= q) c -= 1;
  return ext(c);
}

// A step of 1, 2 or 5 times a power of ten, the number of them across
// [lo, hi] as close to `target` as these steps allow; requires lo < hi,
// both finite, and a target of 2 or more (so span / target is a double).
ext nice_step(ext lo, ext hi, int target) {
  const ext span = hi - lo;
  const ext goal = ext(static_cast<double>(target));
  const ext power = power_of_ten(static_cast<int>(std::floor(std::log10(static_cast<double>(span / goal)))));
  ext best = power;
  for (const double m : {2.0, 5.0, 10.0})
    if (magnitude(span / (ext(m) * power) - goal) < magnitude(span / best - goal)) best = ext(m) * power;
  return best;
}

// The label of a tick at `value`, a multiple of `step`, with as many digits
// as the step needs. A tick in the padding beyond the largest double is
// written as its significand and e+308.
std::string tick_label(ext value, ext step) {
  if (magnitude(value) < step * ext(1e-6)) value = ext(0.0);
  const int step_exponent = static_cast<int>(std::floor(std::log10(static_cast<double>(step)) + 1e-9));
  const bool beyond_doubles = magnitude(value) > ext(std::numeric_limits<double>::max());
  const double shown = static_cast<double>(beyond_doubles ? value / power_of_ten(308) : value);
  const double largest = std::fabs(shown);
  char buffer[64];
  std::to_chars_result r;
  if (!beyond_doubles && step_exponent >= -4 && largest < 1e7) {
    r = std::to_chars(buffer, buffer + sizeof buffer, shown, std::chars_format::fixed, std::max(0, -step_exponent));
  } else if (beyond_doubles) {
    r = std::to_chars(buffer, buffer + sizeof buffer, shown, std::chars_format::fixed, std::clamp(308 - step_exponent, 0, 17));
    r.ptr = std::copy_n("e+308", 5, r.ptr);
  } else {
    const int value_exponent = largest > 0 ? static_cast<int>(std::floor(std::log10(largest))) : step_exponent;
    r = std::to_chars(buffer, buffer + sizeof buffer, shown, std::chars_format::scientific,
                      std::clamp(value_exponent - step_exponent, 0, 17));
  }
  return std::string(buffer, r.ptr);
}

void draw_line(SvgWriter& svg, double x0, double y0, double x1, double y1, const char* stroke) {
  svg.open("line").coord("x1", x0).coord("y1", y0).coord("x2", x1).coord("y2", y1).attr("stroke", stroke).close();
}

// A tick on the value axis and its label; `exponent` makes the label a
// power of ten, 10^label.
void draw_y_tick(SvgWriter& svg, double py, std::string_view label, bool exponent) {
  draw_line(svg, left - 5, py, left, py, axis_stroke);
  svg.open("text").attr("class", "tick y").coord("x", left - 8).coord("y", py + 4).attr("text-anchor", "end");
  if (!exponent) {
    svg.text(label).close();
    return;
  }
  svg.text("10").open("tspan").attr("dy", "-7").attr("font-size", "10").text(label).close().close();
}

}  // namespace

double Axis::place(ext v) const {
  return static_cast<double>(ext(p0) + (v - lo) / (hi - lo) * ext(p1 - p0));
}

ext magnitude(ext v) { return v < ext(0.0) ? ext(0.0) - v : v; }

std::string brief(double v) {
  if (!std::isfinite(v)) return shortest_text(v);
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 3);
  return std::string(buffer, r.ptr);
}

void place_text(SvgWriter& svg, double x, double y, std::string_view anchor, std::string_view content) {
  svg.coord("x", x).coord("y", y).attr("text-anchor", anchor).text(content).close();
}

void open_figure(SvgWriter& svg, double height, double y, std::string_view title) {
  svg.open_svg(figure_width, height, y)
      .attr("font-family", "DejaVu Sans, Helvetica, Arial, sans-serif")
      .attr("font-size", "12")
      .attr("fill", "#222");
  if (!title.empty()) svg.open("title").text(title).close();
  svg.open("rect").attr("width", "100%").attr("height", "100%").attr("fill", "white").close();
}

void draw_heading(SvgWriter& svg, std::string_view heading, std::string_view subtitle) {
  place_text(svg.open("text").attr("font-size", "16").attr("font-weight", "bold"), left, 28, "start", heading);
  if (!subtitle.empty()) place_text(svg.open("text").attr("fill", "#555"), left, 48, "start", subtitle);
}

Axis count_axis(int count) {
  return {ext(count > 1 ? 1.0 : 0.0), ext(count > 1 ? static_cast<double>(count) : 2.0), left + 14, right - 14};
}

void draw_count_axis(SvgWriter& svg, const Axis& x, double y_bottom, int count) {
  draw_line(svg, left, y_bottom, right, y_bottom, axis_stroke);
  const ext step = nice_step(ext(1.0), ext(std::max(2.0, static_cast<double>(count))), 10);
  const int whole_step = step < ext(1.0) ? 1 : static_cast<int>(static_cast<double>(step));
  for (int k = whole_step; k <= count; k += whole_step) {
    const double px = x.place(ext(static_cast<double>(k)));
    draw_line(svg, px, y_bottom, px, y_bottom + 5, axis_stroke);
    place_text(svg.open("text").attr("class", "tick x"), px, y_bottom + 19, "middle", std::to_string(k));
  }
}

void draw_frame(SvgWriter& svg, double y0, double y1) {
  svg.open("rect").attr("class", "frame").coord("x", left).coord("y", y0).coord("width", right - left);
  svg.coord("height", y1 - y0).attr("fill", "#fafafa").attr("stroke", "#bbb").close();
}

void draw_axis_title(SvgWriter& svg, int x, double y0, double y1, std::string_view title) {
  const double middle = (y0 + y1) / 2;
  svg.open("text").attr("transform", "rotate(-90 " + std::to_string(x) + " " + coordinate(middle) + ")");
  place_text(svg, x, middle, "middle", title);
}

void pad_range(ext& lo, ext& hi) {
  const ext pad = hi > lo ? ext(8.0) / ext(100.0) * (hi - lo) : std::max(ext(1.0), magnitude(lo)) * (ext(1.0) / ext(10.0));
  lo = lo - pad;
  hi = hi + pad;
}

void draw_linear_grid(SvgWriter& svg, const Axis& y) {
  const ext step = nice_step(y.lo, y.hi, 5);
  for (ext v = ceiling(y.lo / step) * step; v <= y.hi; v = v + step) {
    const double py = y.place(v);
    draw_line(svg, left, py, right, py, grid_stroke);
    draw_y_tick(svg, py, tick_label(v, step), false);
  }
}

Decades decades_around(const std::vector<double>& logs, double padding) {
  int lo = logs.empty() ? -1 : static_cast<int>(std::floor(*std::min_element(logs.begin(), logs.end()) - padding));
  int hi = logs.empty() ? 1 : static_cast<int>(std::ceil(*std::max_element(logs.begin(), logs.end()) + padding));
  if (hi - lo < 2) lo -= 1, hi += 1;
  return {lo, hi};
}

void draw_log_grid(SvgWriter& svg, const Axis& y, Decades decades, int most_labels) {
  const int stride = std::max(1, (decades.hi - decades.lo + most_labels - 1) / most_labels);
  for (int e = decades.lo; e <= decades.hi; ++e) {
    const double py = y.place(ext(static_cast<double>(e)));
    const bool labelled = e % stride == 0;
    draw_line(svg, left, py, right, py, labelled ? grid_stroke : faint_grid_stroke);
    if (labelled) draw_y_tick(svg, py, std::to_string(e), true);
  }
}

void draw_level(SvgWriter& svg, std::string_view cls, double value, double py, const char* colour) {
  svg.open("line").attr("class", cls).attr("data-value", shortest_text(value));
  svg.coord("x1", left).coord("y1", py).coord("x2", right).coord("y2", py);
  svg.attr("stroke", colour).attr("stroke-width", "1.4").attr("stroke-dasharray", "7 5").close();
}

void draw_point(SvgWriter& svg, const PointStyle& style, std::int64_t index, double value, double px, double py,
                std::string_view tooltip) {
  svg.open("circle").attr("class", style.cls).attr(style.data_name, std::to_string(index));
  svg.attr("data-value", shortest_text(value)).coord("cx", px).coord("cy", py).attr("r", shortest_text(style.radius));
  svg.attr("fill", style.colour).open("title").text(tooltip).close().close();
}

void Polyline::add(double px, double py) {
  points_ += coordinate(px) + "," + coordinate(py) + " ";
  ++count_;
}

void Polyline::end_piece() {
  if (count_ >= 2) {
    svg_.open("polyline").attr("fill", "none").attr("stroke", colour_).attr("stroke-width", "1.6");
    svg_.attr("points", points_).close();
  }
  points_.clear();
  count_ = 0;
}

void Legend::entry(const char* colour, bool dashed, bool marker, std::string_view label) {
  svg_.open("line").coord("x1", x_).coord("y1", y_).coord("x2", x_ + 26).coord("y2", y_);
  svg_.attr("stroke", colour).attr("stroke-width", "1.6");
  if (dashed) svg_.attr("stroke-dasharray", "7 5");
  svg_.close();
  if (marker) {
    svg_.open("circle").coord("cx", x_ + 13).coord("cy", y_).attr("r", shortest_text(marker_radius_));
    svg_.attr("fill", colour).close();
  }
  place_text(svg_.open("text"), x_ + 32, y_ + 4, "start", label);
  // About 6.6 pixels per character at this font size.
  x_ += column_ > 0 ? column_ : 32 + 6.6 * static_cast<double>(label.size()) + 24;
}

}  // namespace scrtool::plot
