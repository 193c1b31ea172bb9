#include "tools/transcript.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <regex>
#include <string>

#include "tools/sweep_plot.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

// A run of N = 4 with two blocks and three sweeps, with a shell prompt and
// the typed block count mixed in, as a terminal capture holds them.
constexpr std::string_view run =
    "$ blockeig\n"
    " N =  4\n"
    " allocated\n"
    " read\n"
    " diagonalized - direct, IERR:  0\n"
    "   -1.50      -0.250        3.00        12.5    \n"
    " written\n"
    " Number of blocks:\n"
    "2\n"
    " block  dimension start  end\n"
    " 1 2 1 2\n"
    " 2 2 3 4\n"
    "    1   -1.50      -0.250        3.00        12.5    \n"
    "    2   -1.00      -0.250        3.00        12.5    \n"
    "    1   -1.00      -0.250        3.00        12.5       0.100E+13   0.100E-05\n"
    "    1   -1.50      -0.250        3.00        12.5    \n"
    "    2   -1.00      -0.250        3.00        12.5    \n"
    "    2   -1.50      -0.250        3.00        12.5       0.500       0.100E-05\n"
    "    1   -1.50      -0.250        3.00        12.5    \n"
    "    2   -1.00      -0.250        3.00        12.5    \n"
    "    3   -1.50      -0.250        3.00        12.5        0.00       0.100E-05\n"
    "$ \n";

TEST(Transcript, GFields) {
  struct Case {
    const char* field;
    double value;
  };
  const Case cases[] = {{"   -1.50    ", -1.5},        {"    0.00    ", 0.0},         {"    100.    ", 100.0},
                        {"   0.100E+13", 1e12},         {"   0.100E-05", 1e-6},         {"  -0.123E+06", -123000.0},
                        {"   0.100-100", 1e-101},       {"   0.100+301", 1e300},        {"   0.494-323", 4.94e-324},
                        {"    +Inf    ", INFINITY},     {"    -Inf    ", -INFINITY},
                        // A finite value rounded up beyond the largest double.
                        {"   0.180+309", DBL_MAX},      {"  -0.180+309", -DBL_MAX}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    double v = 0;
    ASSERT_TRUE(parse_g_field(c.field, v));
    EXPECT_EQ(v, c.value);
  }
  double v = 0;
  EXPECT_TRUE(parse_g_field("         NaN", v));
  EXPECT_TRUE(std::isnan(v));
  for (const char* bad : {"************", "            ", "   1.0 2    ", "   abc      ", "   0x10     ", "   0.181+309"})
    EXPECT_FALSE(parse_g_field(bad, v)) << bad;
}

TEST(Transcript, ReadsARun) {
  const Transcript t = read_transcript(run, "run.txt");
  ASSERT_TRUE(t.n.has_value());
  EXPECT_EQ(*t.n, 4);
  EXPECT_EQ(t.ierr, 0);
  ASSERT_TRUE(t.summary.has_value());
  EXPECT_EQ(*t.summary, (std::array<double, 4>{-1.5, -0.25, 3.0, 12.5}));
  EXPECT_EQ(t.nblocks, 2);
  EXPECT_EQ(t.block_lines, 6);
  ASSERT_EQ(t.sweeps.size(), 3u);
  EXPECT_EQ(t.sweeps[0].e1, -1.0);
  EXPECT_EQ(t.sweeps[0].delta, 1e12);
  EXPECT_EQ(t.sweeps[0].tol, 1e-6);
  EXPECT_EQ(t.sweeps[0].line, 15);
  EXPECT_EQ(t.sweeps[1].delta, 0.5);
  EXPECT_EQ(t.sweeps[2].delta, 0.0);
  EXPECT_EQ(t.sweeps[2].en, 12.5);
}

TEST(Transcript, CarriageReturnsAreDropped) {
  std::string crlf;
  for (char c : run) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(read_transcript(crlf, "run.txt").sweeps.size(), 3u);
}

TEST(Transcript, FaultsNameTheLine) {
  struct Case {
    std::string text;
    const char* message;
  };
  const std::string sweep1 = "    1   -1.00      -0.250        3.00        12.5       0.100E+13   0.100E-05\n";
  const Case cases[] = {
      {"", "run.txt: no sweep line found"},
      {" N =  4\n read\n", "run.txt: no sweep line found"},
      {" diagonalized - direct, IERR:  0\n written\n",
       "run.txt:2: the line after the IERR line is not the summary line of four G12.3 fields"},
      {"    1   -1.00      -0.250        3.00        12.5       0.100E+13   0.1xxE-05\n",
       "run.txt:1: sweep line with a field that is not a G12.3 number"},
      {"    1   -1.00      -0.250        3.00        1x.5    \n",
       "run.txt:1: block line with a field that is not a G12.3 number"},
      {"    2   -1.00      -0.250        3.00        12.5       0.100E+13   0.100E-05\n",
       "run.txt:1: sweep 2 where sweep 1 belongs"},
      {sweep1 + sweep1, "run.txt:2: sweep 1 where sweep 2 belongs: the transcript holds more than one run"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      read_transcript(c.text, "run.txt");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
    }
  }
}

struct Point {
  int sweep;
  double value;
  double cx, cy;
};

// Every <circle class="CLASS" ...> of the picture, with its data and place.
std::vector<Point> points_of(const std::string& svg, const std::string& cls) {
  std::vector<Point> points;
  const std::regex circle("<circle class=\"" + cls +
                          "\" data-sweep=\"(\\d+)\" data-value=\"([^\"]+)\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), circle); it != std::sregex_iterator(); ++it)
    points.push_back({std::stoi((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])});
  return points;
}

double attribute_of_class(const std::string& svg, const std::string& cls, const std::string& attribute) {
  std::smatch m;
  const std::regex line("<line class=\"" + cls + "\"[^>]* " + attribute + "=\"([-0-9.e+]+)\"");
  if (!std::regex_search(svg, m, line)) return std::numeric_limits<double>::quiet_NaN();
  return std::stod(m[1]);
}

// The part of the picture between <g class="panel NAME"> and its </g>.
std::string panel_of(const std::string& svg, const std::string& name) {
  const std::string open = "<g class=\"panel " + name + "\">";
  const std::size_t begin = svg.find(open);
  if (begin == std::string::npos) return "";
  return svg.substr(begin, svg.find("</g>", begin) - begin);
}

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The top and bottom edge of a panel's frame.
std::pair<double, double> frame_of(const std::string& panel) {
  std::smatch m;
  const std::regex frame("<rect class=\"frame\" x=\"[-0-9.]+\" y=\"([-0-9.]+)\" width=\"[-0-9.]+\" height=\"([-0-9.]+)\"");
  if (!std::regex_search(panel, m, frame)) return {NAN, NAN};
  return {std::stod(m[1]), std::stod(m[1]) + std::stod(m[2])};
}

TEST(SweepPlot, PointsReadBackFromTheSvg) {
  const Transcript t = read_transcript(run, "run.txt");
  const std::string svg = render_sweep_plot(t, "/home/someone/runs/run.txt");
  EXPECT_TRUE(svg.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_TRUE(svg.ends_with("</svg>\n"));
  // Self-contained: no external reference of any kind.
  EXPECT_EQ(svg.find("href"), std::string::npos);
  EXPECT_EQ(svg.find("url("), std::string::npos);
  // The transcript is named without the directories of the machine.
  EXPECT_NE(svg.find("<title>blockeig sweeps: run.txt</title>"), std::string::npos);
  EXPECT_EQ(svg.find("/home"), std::string::npos);

  const std::vector<Point> e1 = points_of(svg, "e1");
  ASSERT_EQ(e1.size(), 3u);
  for (std::size_t k = 0; k < e1.size(); ++k) {
    EXPECT_EQ(e1[k].sweep, static_cast<int>(k) + 1);
    EXPECT_EQ(e1[k].value, t.sweeps[k].e1);
  }
  EXPECT_LT(e1[0].cx, e1[1].cx);
  EXPECT_LT(e1[1].cx, e1[2].cx);
  // Higher values sit higher, on one linear scale: sweeps 2 and 3 share E(1).
  EXPECT_LT(e1[0].cy, e1[1].cy);
  EXPECT_EQ(e1[1].cy, e1[2].cy);
  EXPECT_EQ(attribute_of_class(svg, "direct", "data-value"), -1.5);
  EXPECT_EQ(attribute_of_class(svg, "direct", "y1"), e1[1].cy);

  // Sweep 1's DELTA measures E(1) against EPREV's start value 1.0e12, not
  // against an earlier E(1): no point, and no room made for it.
  const std::vector<Point> delta = points_of(svg, "delta");
  ASSERT_EQ(delta.size(), 1u);
  EXPECT_EQ(delta[0].sweep, 2);
  EXPECT_EQ(delta[0].value, 0.5);
  const std::vector<Point> zero = points_of(svg, "delta zero");
  ASSERT_EQ(zero.size(), 1u);
  EXPECT_EQ(zero[0].sweep, 3);
  EXPECT_EQ(svg.find("E+12"), std::string::npos);
  EXPECT_EQ(svg.find(">12</tspan>"), std::string::npos);
  // TOL lies inside the frame, clear of both edges; 0.5 above it.
  const auto [delta_top, delta_bottom] = frame_of(panel_of(svg, "delta"));
  const double tol_y = attribute_of_class(svg, "tol", "y1");
  EXPECT_GT(tol_y, delta_top + 10);
  EXPECT_LT(tol_y, delta_bottom - 10);
  EXPECT_LT(delta[0].cy, tol_y);
  EXPECT_GE(zero[0].cy, tol_y);

  // Both panels label their axes: the sweeps below, the values beside.
  for (const char* name : {"e1", "delta"}) {
    SCOPED_TRACE(name);
    const std::string panel = panel_of(svg, name);
    EXPECT_EQ(count_of(panel, "<text class=\"tick x\""), 3);
    EXPECT_GE(count_of(panel, "<text class=\"tick y\""), 3);
  }
  EXPECT_NE(svg.find("settled: DELTA &lt;= TOL at sweep 3"), std::string::npos);
}

// A run whose first E(1) lies far above the rest (61,200 against about -4):
// that sweep sits on the upper edge, marked, and the rest keep the scale.
TEST(SweepPlot, FarFirstSweepsDoNotFlattenTheRest) {
  Transcript t;
  t.summary = std::array<double, 4>{-4.19, -2.0, 3.0, 61200.0};
  const double e1[] = {61200, -3.15, -3.82, -3.87, -4.03, -4.06, -4.07, -4.07, -4.08, -4.09, -4.14, -4.15};
  for (int k = 0; k < 12; ++k) t.sweeps.push_back({k + 1, e1[k], 0, 0, 0, 0.01, 1e-6, k + 1});
  const std::string svg = render_sweep_plot(t, "far.txt");
  const std::string panel = panel_of(svg, "e1");
  const auto [top, bottom] = frame_of(panel);

  std::smatch m;
  ASSERT_TRUE(std::regex_search(panel, m, std::regex("<polygon class=\"e1 outlier\" data-sweep=\"(\\d+)\" "
                                                     "data-value=\"([^\"]+)\" data-edge=\"top\"")));
  EXPECT_EQ(m[1], "1");
  EXPECT_EQ(m[2], "61200");
  EXPECT_NE(panel.find("off the scale: 1 sweep above (farthest 6.12e+04)"), std::string::npos);
  const std::vector<Point> points = points_of(svg, "e1");
  ASSERT_EQ(points.size(), 11u);
  EXPECT_EQ(points.front().sweep, 2);
  // Sweeps 2 to 12 and the direct E(1) span most of the panel's height.
  const double direct_y = attribute_of_class(svg, "direct", "y1");
  EXPECT_GT(direct_y - points.front().cy, 0.7 * (bottom - top));
}

// E(1) from +1e308 to -1e308: the span exceeds the largest double, and the
// picture must still place every point at a finite coordinate.
TEST(SweepPlot, ValuesSpanningMoreThanTheLargestDouble) {
  Transcript t;
  t.summary = std::array<double, 4>{-1e308, 0, 0, 1e308};
  const double e1[] = {1e308, -1e308, 1.7e308, -1.7e308, -1e308, -1e308};
  for (int k = 0; k < 6; ++k) t.sweeps.push_back({k + 1, e1[k], 0, 0, 0, k < 5 ? 1e308 : 0, 1e-6, k + 1});
  const std::string svg = render_sweep_plot(t, "huge.txt");
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
  const std::regex number_attribute(" (?:x|y|x1|y1|x2|y2|cx|cy)=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), number_attribute); it != std::sregex_iterator(); ++it)
    EXPECT_TRUE(std::isfinite(std::stod((*it)[1]))) << (*it)[0];
  EXPECT_EQ(points_of(svg, "e1").size() + static_cast<std::size_t>(count_of(svg, "class=\"e1 outlier\"")), 6u);
}

// The sweep axis is numbered at whole multiples of one step: 2, 4, 6 and
// not 1, 2, 4, 6.
TEST(SweepPlot, SweepAxisTicksAreEvenlySpaced) {
  const std::pair<int, const char*> cases[] = {{3, "1 2 3"}, {15, "2 4 6 8 10 12 14"}, {40, "5 10 15 20 25 30 35 40"}};
  for (const auto& [sweeps, labels] : cases) {
    SCOPED_TRACE(sweeps);
    Transcript t;
    for (int k = 1; k <= sweeps; ++k) t.sweeps.push_back({k, -1.0 / k, 0, 0, 0, 1.0 / k, 1e-6, k});
    const std::string panel = panel_of(render_sweep_plot(t, "t.txt"), "e1");
    std::string shown;
    const std::regex tick("<text class=\"tick x\"[^>]*>(\\d+)</text>");
    for (auto it = std::sregex_iterator(panel.begin(), panel.end(), tick); it != std::sregex_iterator(); ++it)
      shown += (shown.empty() ? "" : " ") + (*it)[1].str();
    EXPECT_EQ(shown, labels);
  }
}

TEST(SweepPlot, NonFiniteValuesAreLeftOutAndNamesEscaped) {
  Transcript t = read_transcript(run, "run.txt");
  t.sweeps[1].e1 = std::numeric_limits<double>::quiet_NaN();
  t.sweeps[2].delta = std::numeric_limits<double>::quiet_NaN();
  t.summary.reset();
  const std::string svg = render_sweep_plot(t, "a<b&c.txt");
  EXPECT_EQ(points_of(svg, "e1").size(), 2u);
  EXPECT_EQ(points_of(svg, "delta").size(), 1u);
  EXPECT_EQ(svg.find("class=\"direct\""), std::string::npos);
  EXPECT_NE(svg.find("a&lt;b&amp;c.txt"), std::string::npos);
  EXPECT_EQ(svg.find("a<b"), std::string::npos);
  EXPECT_NE(svg.find("stopped at sweep 3 without DELTA &lt;= TOL"), std::string::npos);
}

}  // namespace
}  // namespace scrtool
