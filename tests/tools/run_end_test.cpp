// How scrtool describes the end of a run: whether its sweeps settled and
// how far E(1) ended from the direct lambda_1, for one results file and for
// several side by side.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tools/pair_table.hpp"
#include "tools/run_results.hpp"
#include "tools/runs_table.hpp"
#include "tools/sweep_plot.hpp"

namespace scrtool {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

// A results document: the direct eigenvalues, one sweep per E(1) given
// (each of 0.5 seconds), and an end when `settled` is "true" or "false".
std::string document(const std::string& eigenvalues, const std::vector<std::string>& e1, int nblocks = 2,
                     const std::string& settled = "", const std::string& state = "running") {
  std::string d = R"j({"format": 1, "program": {}, "direct": {"IERR": 0, "eigenvalues": [)j" + eigenvalues +
                  R"j(]}, "blocks": {"NBLOCKS": )j" + std::to_string(nblocks) + R"j(}, "sweeps": [)j";
  for (std::size_t k = 0; k < e1.size(); ++k)
    d += (k ? ", " : "") + std::string(R"j({"ITER": )j") + std::to_string(k + 1) + R"j(, "W": [[)j" + e1[k] +
         R"j(]], "E(1)": )j" + e1[k] + R"j(, "E(2)": 0.0, "E(N-1)": 0.0, "E(N)": 0.0, "DELTA": 0.5, "seconds": 0.5})j";
  d += "]";
  if (!settled.empty())
    return d + R"j(, "state": "finished", "end": {"converged": )j" + settled + R"j(, "TOL": 1e-06, "by_rank": []}})j";
  return d + R"j(, "state": ")j" + state + "\"}";
}

// lambda_1 is the smallest direct eigenvalue that is a number, ||A||_2 the
// largest magnitude; the nearest rank counts upwards over the numbers, the
// lowest of equally near ones and the first of equal ones. lambda_2 is the
// next number up (lambda_1 again when repeated); a figure over a divisor of
// 0 is NaN.
TEST(RunEnd, AccuracyOfCraftedRuns) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    std::string eigenvalues, e1;
    double lambda_1, difference, norm_2, relative;
    std::int64_t rank;
    double relative_lambda_1, gap, relative_gap;
  };
  const Case cases[] = {
      {"settled near the third", "1.0, 2.0, 3.0, 4.0", "2.9", 1, 1.9, 4, 1.9 / 4, 3, 1.9, 1, 1.9},
      {"halfway: the lower rank", "1.0, 2.0, 3.0, 4.0", "2.5", 1, 1.5, 4, 1.5 / 4, 2, 1.5, 1, 1.5},
      {"equal eigenvalues: the first", "1.0, 2.0, 2.0, 5.0", "2.1", 1, 1.1, 5, 1.1 / 5, 2, 1.1, 1, 1.1},
      {"the norm from the lowest", "-8.0, 1.0", "-7.0", -8, 1, 8, 0.125, 1, 0.125, 9, 1.0 / 9},
      {"unsorted (IERR), NaN left out", "3.0, -1.0, \"NaN\", 7.0", "2.9", -1, 3.9, 7, 3.9 / 7, 2, 3.9, 4, 3.9 / 4},
      {"exact", "1.0, 2.0", "1.0", 1, 0, 2, 0, 1, 0, 1, 0},
      {"below lambda_1 by rounding", "1.0, 2.0", "0.9999999999999999", 1, -1.1102230246251565e-16, 2,
       -5.551115123125783e-17, 1, -1.1102230246251565e-16, 1, -1.1102230246251565e-16},
      {"difference beyond a double's span", "-1.7976931348623157e308, 0.0", "1.7976931348623157e308",
       -1.7976931348623157e308, inf, 1.7976931348623157e308, 2, 2, 2, 1.7976931348623157e308, 2},
      {"zero matrix", "0.0, 0.0", "0.0", 0, 0, 0, nan, 1, nan, 0, nan},
      {"a double lowest eigenvalue", "1.0, 1.0, 3.0", "1.5", 1, 0.5, 3, 0.5 / 3, 1, 0.5, 0, nan},
      {"E(1) is NaN", "1.0, 2.0", "\"NaN\"", 1, nan, 2, nan, 0, nan, 1, nan},
      {"no direct eigenvalue is a number", "\"NaN\", \"NaN\"", "1.0", nan, nan, nan, nan, 0, nan, nan, nan},
      {"E(1) infinite", "1.0, \"Infinity\"", "\"Infinity\"", 1, inf, inf, nan, 2, inf, inf, nan},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResults r = read_results(document(c.eigenvalues, {"5.0", c.e1}), "r.json");
    const blockeig::E1Accuracy a = e1_accuracy(r);
    EXPECT_TRUE(same(a.lambda_1, c.lambda_1)) << a.lambda_1;
    EXPECT_TRUE(same(a.difference, c.difference)) << a.difference;
    EXPECT_TRUE(same(a.norm_2, c.norm_2)) << a.norm_2;
    EXPECT_TRUE(same(a.relative, c.relative)) << a.relative;
    EXPECT_EQ(a.nearest_rank, c.rank);
    EXPECT_TRUE(same(a.relative_lambda_1, c.relative_lambda_1)) << a.relative_lambda_1;
    EXPECT_TRUE(same(a.gap, c.gap)) << a.gap;
    EXPECT_TRUE(same(a.relative_gap, c.relative_gap)) << a.relative_gap;
  }
}

// compare's heading leads with where E(1) ended relative to lambda_1 and
// whether the sweeps settled, then gives the figures behind it.
TEST(RunEnd, CompareHeadingSaysBoth) {
  const std::pair<std::string, std::string> cases[] = {
      {document("0.01, 2.0, 3.0, 400.0", {"3.5", "2.9"}, 2, "true"),
       "# r.json: E(1) ended 289 |lambda_1| above lambda_1, nearest lambda_3; settled\n"
       "# E(1) - lambda_1 = 2.89 = 289 |lambda_1| = 1.4522613065326633 (lambda_2 - lambda_1) = 0.007225 ||A||_2; "
       "lambda_1 = 0.01, lambda_2 - lambda_1 = 1.99, ||A||_2 = max |lambda| = 400\n"
       "# N = ?, 2 sweeps, TOL = 1e-06, settled (DELTA <= TOL); block = k-th smallest final E, direct = line k of "
       "C.SCR.TXT\n"},
      {document("0.0, 2.0", {"1.5"}, 2, "false"),
       "# r.json: E(1) ended 1.5 above lambda_1 = 0, nearest lambda_2; not settled\n"
       "# E(1) - lambda_1 = 1.5 = 0.75 (lambda_2 - lambda_1) = 0.75 ||A||_2; lambda_1 = 0, lambda_2 - lambda_1 = 2, "
       "||A||_2 = max |lambda| = 2\n"},
      {document("-1.0, -1.0", {"-1.0"}, 2, "", "failed"),
       "# r.json: E(1) stood on lambda_1 to the bit after sweep 1, nearest lambda_1; run failed\n"
       "# E(1) - lambda_1 = 0 = 0 |lambda_1| = 0 ||A||_2; lambda_1 = -1, lambda_2 - lambda_1 = 0, ||A||_2 = max "
       "|lambda| = 1\n"},
  };
  for (const auto& [text, heading] : cases) {
    const std::string table = render_pair_table(read_results(text, "r.json"), "r.json");
    EXPECT_EQ(table.substr(0, heading.size()), heading);
  }
}

// One row per run, in the order given, whatever state each is in.
TEST(RunEnd, SeveralRunsSideBySide) {
  const std::string one = document("1.0, 2.0, 3.0, 4.0", {"1.5", "1.0"}, 1, "true");
  const std::string two = document("1.0, 2.0, 3.0, 4.0", {"3.5", "3.0", "2.9"}, 2, "false");
  const std::string four = document("1.0, 2.0, 3.0, 4.0", {"3.5"}, 4, "", "fai\\u001bled");
  const std::vector<NamedRun> runs{{"s-1.json", read_results(one, "s-1.json")},
                                   {"s-2.json", read_results(two, "s-2.json")},
                                   {"a,\"b\".json", read_results(four, "four")}};
  EXPECT_EQ(render_runs_table(runs),
            "# N = ?, lambda_1 = 1, lambda_2 - lambda_1 = 1, ||A||_2 = max |lambda| = 4\n"
            "# settled: DELTA <= TOL ended the sweeps; E(1) - lambda_1, how far from the lowest eigenvalue E(1) "
            "ended: over |lambda_1|, nearest lambda_k, over the gap lambda_2 - lambda_1, as it is, over ||A||_2\n"
            " NBLOCKS sweeps  settled             / |lambda_1| nearest                    / gap          E(1) - "
            "lambda_1                / ||A||_2   seconds  file\n"
            "       1      2      yes                        0       1                        0                        0"
            "                        0     1.000  s-1.json\n"
            "       2      3       no                      1.9       3                      1.9                      1.9"
            "                    0.475     1.500  s-2.json\n"
            "       4      1 fai\\x1bled                      2.5       3                      2.5                      "
            "2.5                    0.625     0.500  a,\"b\".json\n");
  EXPECT_EQ(render_runs_csv(runs),
            "file,NBLOCKS,sweeps,state,settled,E(1),lambda_1,difference,norm_2,relative,nearest_rank,seconds,"
            "relative_lambda_1,gap,relative_gap,TOL,max_sweeps\n"
            "\"s-1.json\",1,2,\"finished\",true,1,1,0,4,0,1,1,0,1,0,1e-06,101\n"
            "\"s-2.json\",2,3,\"finished\",false,2.9,1,1.9,4,0.475,3,1.5,1.9,1,1.9,1e-06,101\n"
            "\"a,\"\"b\"\".json\",4,1,\"fai\x1bled\",,3.5,1,2.5,4,0.625,3,0.5,2.5,1,2.5,1e-06,101\n");

  // Each run's curve, its end ringed as it ended; E(1) = lambda_1 on the
  // lower edge.
  const std::string svg = render_runs_plot(runs, "t");
  EXPECT_NE(svg.find("<g class=\"run\" data-run=\"3\" data-nblocks=\"4\">"), std::string::npos);
  EXPECT_NE(svg.find("class=\"distance zero\" data-sweep=\"2\" data-value=\"0\""), std::string::npos);
  EXPECT_NE(svg.find("class=\"distance\" data-sweep=\"3\" data-value=\"1.9\""), std::string::npos);
  std::size_t settled = 0, not_settled = 0;
  for (std::size_t at = svg.find("class=\"end "); at != std::string::npos; at = svg.find("class=\"end ", at + 1))
    ++(svg.compare(at, 19, "class=\"end settled\"") == 0 ? settled : not_settled);
  EXPECT_EQ(settled, 1u);
  EXPECT_EQ(not_settled, 2u);

  // Runs of different matrices are each measured against their own.
  const std::vector<NamedRun> mixed{runs[0], {"x.json", read_results(document("0.5, 4.0", {"1.0"}), "x.json")}};
  EXPECT_TRUE(render_runs_table(mixed).starts_with(
      "# runs of different matrices: each E(1) against its own lambda_1, lambda_2 and ||A||_2\n"));
}

// A spectrum of one sign over many decades is drawn on a log scale, so that
// a tenfold miss at its low end shows; one of both signs stays linear.
TEST(RunEnd, SpectrumOfOneSignOnALogScale) {
  const auto picture = [](const std::string& direct, const std::string& pairs) {
    const std::string d = R"j({"format": 1, "program": {}, "state": "finished", "direct": {"IERR": 0,
      "eigenvalues": [)j" + direct + R"j(]}, "blocks": {"NBLOCKS": 1}, "sweeps": [{"ITER": 1, "W": [[1.0, 2.0]],
      "E(1)": 0.165, "E(2)": 1.0, "E(N-1)": 10.0, "E(N)": 3e4, "DELTA": 0.5}],
      "end": {"converged": true, "TOL": 1e-06, "by_rank": [)j" + pairs + "]}}";
    return render_results_plot(read_results(d, "r.json"), "r.json");
  };
  const auto cy = [](const std::string& svg, int rank) {
    const std::size_t at = svg.find("class=\"block\" data-rank=\"" + std::to_string(rank) + "\"");
    return std::stod(svg.substr(svg.find("cy=\"", at) + 4));
  };
  const std::string pairs = R"j({"rank": 2, "position": 2, "direct": 1.0, "block": 1.0},
                                {"rank": 3, "position": 3, "direct": 3e4, "block": 3e4})j";
  const std::string log =
      picture("0.0124, 1.0, 3e4", R"j({"rank": 1, "position": 1, "direct": 0.0124, "block": 0.165}, )j" + pairs);
  EXPECT_NE(log.find("<g class=\"panel spectrum log\">"), std::string::npos);
  EXPECT_GT(cy(log, 1) - cy(log, 2), 10);
  const std::string linear =
      picture("-0.0124, 1.0, 3e4", R"j({"rank": 1, "position": 1, "direct": -0.0124, "block": 0.165}, )j" + pairs);
  EXPECT_NE(linear.find("<g class=\"panel spectrum\">"), std::string::npos);
}

}  // namespace
}  // namespace scrtool
