// scrtool's reading of a results file: the JSON reader on its own, then a
// real run's document through plot and compare.
#include "tools/run_results.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"
#include "tools/json_value.hpp"
#include "tools/pair_table.hpp"
#include "tools/scrtool_cli.hpp"
#include "tools/sweep_plot.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

TEST(Json, NumbersAreTheNearestDouble) {
  const std::pair<const char*, double> cases[] = {
      {"0.1", 0.1},
      {"-0.0", -0.0},
      {"5e-324", 5e-324},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"9007199254740993", 9007199254740992.0},  // a tie, to even
      {"1E+2", 100.0},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    const std::string document = std::string("[") + text + "]";
    const JsonValue v = parse_json(document, "t");
    ASSERT_EQ(v.size(), 1u);
    v.for_each_item([&](const JsonValue& item) { EXPECT_EQ(bits(item.number()), bits(value)); });
  }
  EXPECT_TRUE(parse_json("7", "t").integral());
  EXPECT_FALSE(parse_json("7.0", "t").integral());
}

TEST(Json, Strings) {
  const JsonValue v = parse_json(R"({"a\"b": "tab\there \u00e9 \ud83d\ude00 \/ \ud800"})", "t");
  ASSERT_TRUE(v.find("a\"b"));
  EXPECT_EQ(v.find("a\"b")->text(), "tab\there \xc3\xa9 \xf0\x9f\x98\x80 / \xef\xbf\xbd");
  EXPECT_FALSE(v.find("missing"));
}

// A surrogate that is not half of a pair is U+FFFD, and what follows it is
// read on its own.
TEST(Json, LoneSurrogates) {
  const std::pair<const char*, const char*> cases[] = {
      {R"("\uD800\u0041")", "\xef\xbf\xbd" "A"},
      {R"("\uD800\uD83D\uDE00")", "\xef\xbf\xbd\xf0\x9f\x98\x80"},
      {R"("\uDC00\uD800")", "\xef\xbf\xbd\xef\xbf\xbd"},
      {R"("\uD800\n")", "\xef\xbf\xbd\n"},
  };
  for (const auto& [text, decoded] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_json(text, "t").text(), decoded);
  }
}

TEST(Json, ErrorsNameTheirPlace) {
  const std::pair<std::string, const char*> cases[] = {
      {"[1,]", "t:1:4: expected a value"},
      {"{\"a\": 01}", "t:1:7: a number may not start with 0"},
      {"[1e999]", "t:1:2: number out of the range of a double"},
      {"{\n \"a\" 1}", "t:2:6: expected ':'"},
      {"{} x", "t:1:4: text after the end of the document"},
      {"\"a\nb\"", "t:1:3: control character in a string"},
      {"\"\\x\"", "t:1:3: bad escape in a string"},
      {"[1.]", "t:1:4: expected digits after '.'"},
      {"[tru]", "t:1:2: expected a value"},
      {"", "t:1:1: unexpected end of the document"},
      {std::string(100, '['), "t:1:66: nested too deeply"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    try {
      parse_json(text, "t");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

TEST(ResultsReader, RefusedDocuments) {
  const std::pair<const char*, const char*> cases[] = {
      {"[1]", "r.json: not a blockeig results file"},
      {R"({"format": 2, "program": {}, "state": "running"})", "r.json: results format 2 is newer than this scrtool reads (1)"},
      {R"({"format": 0, "program": {}, "state": "running"})", "r.json: results format 0 is not a valid format number"},
      {R"({"format": -5, "program": {}, "state": "running"})", "r.json: results format -5 is not a valid format number"},
      {R"({"format": 1, "program": {}})", "r.json: the document has no \"state\""},
      {R"j({"format": 1, "program": {}, "state": "running", "sweeps": [{"ITER": 1, "W": [], "E(1)": "x"}]})j",
       "r.json: sweep 1 \"E(1)\" is not a number"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    try {
      read_results(text, "r.json");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

// A run that has not ended is paired as of its last sweep: its blocks'
// values, with every block's lowest brought to the front as the sweep did.
TEST(ResultsReader, RunningDocumentIsPairedAsOfItsLastSweep) {
  const RunResults r = read_results(R"j({"format": 1, "program": {}, "state": "running",
    "direct": {"IERR": 0, "eigenvalues": [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]},
    "blocks": {"NBLOCKS": 2},
    "sweeps": [{"ITER": 1, "W": [[2.5, 5.5, 6.5], [0.5, 3.5, "NaN"]], "E(1)": 2.5, "E(2)": 0.5,
                "E(N-1)": 3.5, "E(N)": "NaN", "DELTA": 1e12}]})j",
                                    "r.json");
  // E after the sweep: 2.5, 0.5, 5.5, 6.5, 3.5, NaN.
  const std::int64_t positions[] = {2, 1, 5, 3, 4, 6};
  const double blocks[] = {0.5, 2.5, 3.5, 5.5, 6.5};
  ASSERT_EQ(r.pairs.size(), 6u);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(r.pairs[k].rank, static_cast<std::int64_t>(k + 1));
    EXPECT_EQ(r.pairs[k].position, positions[k]);
    EXPECT_EQ(r.pairs[k].direct, static_cast<double>(k + 1));
    if (k < 5) {
      EXPECT_EQ(r.pairs[k].block, blocks[k]);
    }
  }
  EXPECT_TRUE(std::isnan(r.pairs[5].block));
  EXPECT_FALSE(r.converged.has_value());
}

// A real run's document: every sweep, every pair, at full precision in the
// picture's data and in the table and CSV.
TEST(ResultsReader, PlotAndCompareARealRun) {
  blockeig::testing::TempDir dir;
  blockeig::testing::write_file(dir / "A.SCR",
                                blockeig::testing::scr_file(12, blockeig::testing::random_symmetric_matrix(12, 4)));
  blockeig::testing::ChildOptions options;
  options.directory = dir.path();
  options.input = "3\n";
  ASSERT_EQ(blockeig::testing::run_child(BLOCKEIG_BIN, {"--results", "run.json"}, options).status, 0);
  const std::string text = blockeig::testing::read_file(dir / "run.json");
  ASSERT_TRUE(looks_like_json(text));
  const RunResults r = read_results(text, "run.json");
  ASSERT_EQ(r.state, "finished");
  ASSERT_EQ(r.pairs.size(), 12u);
  ASSERT_GE(r.sweeps.size(), 2u);

  const std::string svg = render_results_plot(r, "run.json");
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
    return n;
  };
  // Every sweep's E(1) is a point, or a marker on the edge when it lies far
  // off the scale.
  EXPECT_EQ(count("<circle class=\"e1\"") + count("<polygon class=\"e1 outlier\""), r.sweeps.size());
  // No point for the first sweep's DELTA, measured from 1.0e12.
  EXPECT_EQ(count("<circle class=\"delta"), r.sweeps.size() - 1);
  EXPECT_EQ(svg.find("class=\"delta\" data-sweep=\"1\""), std::string::npos);
  EXPECT_EQ(count("<circle class=\"block\""), 12u);
  for (const RankPair& p : r.pairs)
    EXPECT_NE(svg.find("class=\"block\" data-rank=\"" + std::to_string(p.rank) + "\" data-value=\"" +
                       shortest_text(p.block) + "\""),
              std::string::npos);

  // The CSV reads back to the very doubles.
  const std::string csv = render_pair_csv(r);
  std::vector<std::string> lines;
  for (std::size_t at = 0, next; at < csv.size(); at = next + 1) {
    next = csv.find('\n', at);
    lines.push_back(csv.substr(at, next - at));
  }
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "rank,position,direct,block,difference");
  for (std::size_t k = 0; k < 12; ++k) {
    const RankPair& p = r.pairs[k];
    EXPECT_EQ(lines[k + 1], std::to_string(p.rank) + "," + std::to_string(p.position) + "," + shortest_text(p.direct) +
                                "," + shortest_text(p.block) + "," +
                                shortest_text(static_cast<double>(static_cast<long double>(p.block) - p.direct)));
  }
  const std::string table = render_pair_table(r, "run.json");
  EXPECT_TRUE(table.starts_with("# run.json: E(1) ended ")) << table;
  EXPECT_NE(table.find("\n# N = 12, " + std::to_string(r.sweeps.size()) + " sweeps, "), std::string::npos) << table;
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 16);
}

}  // namespace
}  // namespace scrtool
