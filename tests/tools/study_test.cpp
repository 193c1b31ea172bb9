// scrtool study end to end: the scrtool program running the blockeig
// program once per block count.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

#ifdef SCRTOOL_BIN

namespace fs = std::filesystem;

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ScrtoolBinary, StudyRunsEveryBlockCountAndKeepsWhatItFinished) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(8, random_symmetric_matrix(8, 5)));
  fs::create_directory(dir / "out");
  ChildOptions options;
  options.directory = dir.path();
  // The runs keep their own results file, not the environment's.
  options.environment = {"BLOCKEIG_RESULTS=elsewhere.json", "BLOCKEIG_PROGRESS=0"};
  // Every block needs two positions: counts above N/2 are refused before
  // any run.
  const ChildResult refused = run_child(SCRTOOL_BIN, {"study", "--blocks", "1,5", "--program", BLOCKEIG_BIN}, options);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "scrtool study: --blocks 5: N = 8 allows 1 to 4 blocks\nTry 'scrtool study --help'.\n");

  const ChildResult r =
      run_child(SCRTOOL_BIN, {"study", "--blocks", "4,1,2", "-o", "out/s.svg", "--program", BLOCKEIG_BIN}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  // No scratch folder is left, and every run is kept beside the figure.
  EXPECT_EQ(names_in(dir / "out"), (std::vector<std::string>{"s-1.json", "s-2.json", "s-4.json", "s.svg"}));
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"A.SCR", "out"}));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 7) << r.err;

  // One row per run, in the order asked, with its results file's numbers.
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 7u) << r.out;
  EXPECT_EQ(lines[6], "wrote out/s.svg and 3 results files beside it");
  const int counts[] = {4, 1, 2};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(counts[k]);
    const std::vector<std::string> row = words_of(lines[3 + k]);
    ASSERT_EQ(row.size(), 10u);
    const std::string file = "out/s-" + std::to_string(counts[k]) + ".json";
    EXPECT_EQ(row[9], file);
    const nlohmann::json d = nlohmann::json::parse(read_file(dir / file));
    EXPECT_EQ(d["state"], "finished");
    EXPECT_EQ(d["blocks"]["NBLOCKS"], counts[k]);
    EXPECT_EQ(row[0], std::to_string(counts[k]));
    EXPECT_EQ(row[1], std::to_string(d["sweeps"].size()));
    EXPECT_EQ(row[2], d["end"]["settled"] ? "yes" : "no");
    // Where E(1) ended relative to lambda_1 and the nearest rank lead.
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::stod(row[3])),
              std::bit_cast<std::uint64_t>(d["end"]["accuracy"]["relative_lambda_1"].get<double>()));
    EXPECT_EQ(row[4], std::to_string(d["end"]["accuracy"]["nearest_rank"].get<int>()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::stod(row[6])),
              std::bit_cast<std::uint64_t>(d["end"]["accuracy"]["difference"].get<double>()));
  }
  const std::string svg = read_file(dir / "out/s.svg");
  EXPECT_NE(svg.find("<g class=\"run\" data-run=\"3\" data-nblocks=\"2\">"), std::string::npos);

  // A run that fails stops the study: the runs before it stay, drawn and
  // tabulated, and the scratch folder goes. (This blockeig, found through
  // BLOCKEIG, fails with 2 blocks.)
  write_file(dir / "failing", "#!/bin/sh\nread n\n[ \"$n\" = 2 ] && exit 3\necho \"$n\" | exec '" +
                                  std::string(BLOCKEIG_BIN) + "' \"$@\"\n");
  ::chmod((dir / "failing").c_str(), 0755);
  options.environment = {"BLOCKEIG=" + (dir / "failing").string(), "BLOCKEIG_PROGRESS=0"};
  const ChildResult failed = run_child(SCRTOOL_BIN, {"study", "--blocks", "1,2,4", "-o", "f.svg"}, options);
  EXPECT_EQ(failed.status, 2);
  EXPECT_NE(failed.err.find("scrtool study: 2 blocks: blockeig ended with exit status 3 and wrote no results file\n"),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"A.SCR", "f-1.json", "f.svg", "failing", "out"}));
  EXPECT_EQ(lines_of(failed.out).size(), 5u) << failed.out;
}

// A study of a Matrix Market file over three tolerances: the file imported
// (its warning given), one run and one curve per TOL, each run given its
// --tol, the file named in the figure's title, the table's heading and the
// kept documents, and nothing left of the import.
TEST(ScrtoolBinary, StudyOfAnyMatrixFileOverTolerances) {
  TempDir dir;
  write_file(dir / "m.mtx", "8 8 4\n1 1 4.0\n2 1 1.0\n5 4 0.5\n8 8 -3.0\n");
  ChildOptions options;
  options.directory = dir.path();
  options.environment = {"BLOCKEIG_PROGRESS=0"};
  const ChildResult refused = run_child(SCRTOOL_BIN, {"study", "m.mtx", "--tol", "1e-6,1e-9"}, options);
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(refused.err.starts_with("scrtool study: --tol with several values needs one block count (--blocks K)\n"));
  const ChildResult r = run_child(
      SCRTOOL_BIN, {"study", "m.mtx", "--blocks", "2", "--tol", "1e-6,1e-9,1e-12", "--program", BLOCKEIG_BIN}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("scrtool study: warning: m.mtx: every off-diagonal entry lies below the diagonal"),
            std::string::npos) << r.err;
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"m.mtx", "study-2-tol1e-12.json", "study-2-tol1e-6.json",
                                                            "study-2-tol1e-9.json", "study.svg"}));
  EXPECT_TRUE(r.out.starts_with("# m.mtx: N = 8, ")) << r.out;
  const std::string svg = read_file(dir / "study.svg");
  EXPECT_NE(svg.find("<title>blockeig study: m.mtx, by TOL</title>"), std::string::npos);
  EXPECT_NE(svg.find("<g class=\"run\" data-run=\"3\""), std::string::npos);
  for (const char* tol : {"1e-6", "1e-9", "1e-12"}) {
    const nlohmann::json d = nlohmann::json::parse(read_file(dir / ("study-2-tol" + std::string(tol) + ".json")));
    EXPECT_EQ(d["blocks"]["TOL"], std::stod(tol));
    EXPECT_EQ(d["input"]["path"], (dir / "m.mtx").string());
  }
}

#endif

}  // namespace
}  // namespace blockeig::testing
