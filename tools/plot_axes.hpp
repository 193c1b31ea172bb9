#pragma once
// What every figure of scrtool plot is drawn with: the figure's frame and
// heading, panels with linear or logarithmic value axes over a count axis
// (sweeps or ranks), points, curves, dashed levels and legends.
//
// Axis arithmetic is done in the extended type: its exponent range holds
// the span of any two doubles, so no range computation can overflow.
// Logarithms, and the power of ten a tick step is made of, are taken in
// double, from values within its range.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "arithmetic/extended.hpp"
#include "tools/svg_writer.hpp"

namespace scrtool::plot {

using blockeig::ext;

inline constexpr double figure_width = 820;
// The left and right edge of every panel.
inline constexpr double left = 96;
inline constexpr double right = 790;

inline constexpr const char* e1_colour = "#1f5fa8";
inline constexpr const char* delta_colour = "#c8551b";
inline constexpr const char* tol_colour = "#b0182a";
inline constexpr const char* direct_colour = "#555555";

// Places values between two pixel positions.
struct Axis {
  ext lo, hi;     // the range (of base-10 logarithms on a log axis); lo < hi
  double p0, p1;  // the pixel positions of lo and hi
  double place(ext v) const;
};

// |v|, with comparisons only.
ext magnitude(ext v);

// G12.3-like text for a tooltip: three significant digits.
std::string brief(double v);

// A figure: a nested <svg> `y` below the top of the document, its font, a
// <title> when one is given and a white background. The caller closes it.
void open_figure(SvgWriter& svg, double height, double y, std::string_view title);
// The bold heading and the grey line under it (none when empty).
void draw_heading(SvgWriter& svg, std::string_view heading, std::string_view subtitle);

// The counts 1..count across the panels, and their axis at `y_bottom`:
// ticks at the multiples of an even step.
Axis count_axis(int count);
void draw_count_axis(SvgWriter& svg, const Axis& x, double y_bottom, int count);

// A panel's background and frame from y0 to y1.
void draw_frame(SvgWriter& svg, double y0, double y1);
// The axis's name, turned upright, at `x` beside the panel from y0 to y1.
void draw_axis_title(SvgWriter& svg, int x, double y0, double y1, std::string_view title);

// The range of a linear axis around [lo, hi]: lo < hi, with room above and
// below.
void pad_range(ext& lo, ext& hi);
// Grid lines and labelled ticks, about five, at whole multiples of 1, 2 or
// 5 times a power of ten.
void draw_linear_grid(SvgWriter& svg, const Axis& y);

// The whole decades around the base-10 logarithms `logs`, at least
// `padding` decades beyond them and two decades in all.
struct Decades {
  int lo, hi;
};
Decades decades_around(const std::vector<double>& logs, double padding);
// Grid lines at every decade, at most `most_labels` of them labelled 10^k.
void draw_log_grid(SvgWriter& svg, const Axis& y, Decades decades, int most_labels);

// A dashed line across the panel at `py`: a reference value (the direct
// E(1), TOL) with class `cls` and the value in data-value.
void draw_level(SvgWriter& svg, std::string_view cls, double value, double py, const char* colour);

// A plotted value: a <circle> with class `cls`, its index in `data_name`
// (data-sweep, data-rank), its value and a tooltip.
struct PointStyle {
  const char* cls;
  const char* data_name;
  double radius;
  const char* colour;
};
void draw_point(SvgWriter& svg, const PointStyle& style, std::int64_t index, double value, double px, double py,
                std::string_view tooltip);

// A curve through the points given, in pieces: end_piece() draws the
// piece so far (a piece of one point is no line) and starts another.
class Polyline {
 public:
  Polyline(SvgWriter& svg, const char* colour) : svg_(svg), colour_(colour) {}
  void add(double px, double py);
  void end_piece();

 private:
  SvgWriter& svg_;
  const char* colour_;
  std::string points_;
  int count_ = 0;
};

// A row of legend entries from the left edge at height `y`: a line (dashed
// or not, with a marker or not) and its label. An entry takes `column`
// pixels, or room for its label when `column` is 0.
class Legend {
 public:
  Legend(SvgWriter& svg, double y, double marker_radius, double column = 0)
      : svg_(svg), y_(y), marker_radius_(marker_radius), column_(column) {}
  void entry(const char* colour, bool dashed, bool marker, std::string_view label);

 private:
  SvgWriter& svg_;
  double x_ = left;
  double y_;
  double marker_radius_;
  double column_;
};

// A <text> element just opened (with any attributes of its own): its place,
// its anchor and its content; closes it.
void place_text(SvgWriter& svg, double x, double y, std::string_view anchor, std::string_view content);

}  // namespace scrtool::plot
