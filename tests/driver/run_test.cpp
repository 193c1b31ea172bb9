// The whole program, run as a child in a fresh directory: the exact bytes of
// standard output, C.SCR.TXT, standard error and the exit status.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

ChildResult run_blockeig(const TempDir& dir, const std::string& input, std::vector<std::string> environment = {}) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = input;
  options.environment = std::move(environment);
  return run_child(BLOCKEIG_BIN, {}, options);
}

ChildResult run_on(const std::string& scr, const std::string& input, std::string* eigenvalue_file = nullptr) {
  TempDir dir;
  write_file(dir / "A.SCR", scr);
  ChildResult r = run_blockeig(dir, input);
  if (eigenvalue_file != nullptr) *eigenvalue_file = read_file(dir / "C.SCR.TXT");
  return r;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string report(int line, const std::string& unit, const std::string& message) {
  return "At line " + std::to_string(line) + " of file main.cpp" + unit + "\n" + traceback +
         "Fortran runtime error: " + message + "\n";
}

TEST(Run, DiagonalMatrixWholeTranscript) {
  std::string eigenvalues;
  const ChildResult r = run_on(scr_file(4, diagonal_matrix({4, 3, 2, 1})), "2\n", &eigenvalues);
  EXPECT_EQ(r.out,
            " N =  4\n"
            " allocated\n"
            " read\n"
            " diagonalized - direct, IERR:  0\n"
            "    1.00        2.00        3.00        4.00    \n"
            " written\n"
            " Number of blocks:\n"
            " block  dimension start  end\n"
            " 1 2 1 2\n"
            " 2 2 3 4\n"
            "    1    3.00        4.00        3.00        4.00    \n"
            "    2    1.00        2.00        1.00        2.00    \n"
            "    1    3.00        1.00        4.00        2.00       0.100E+13   0.100E-05\n"
            "    1    1.00        3.00        1.00        3.00    \n"
            "    2    2.00        4.00        2.00        4.00    \n"
            "    2    1.00        2.00        3.00        4.00        2.00       0.100E-05\n"
            "    1    1.00        2.00        1.00        2.00    \n"
            "    2    3.00        4.00        3.00        4.00    \n"
            "    3    1.00        3.00        2.00        4.00        0.00       0.100E-05\n");
  EXPECT_EQ(eigenvalues,
            "           1    1.000000\n"
            "           2    2.000000\n"
            "           3    3.000000\n"
            "           4    4.000000\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(Run, BlockTables) {
  struct Case {
    int n, blocks;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {10, 3, {" 1 3 1 3", " 2 3 4 6", " 3 4 7 10"}},
      {7, 2, {" 1 3 1 3", " 2 4 4 7"}},
      {10, 4, {" 1 2 1 2", " 2 2 3 4", " 3 2 5 6", " 4 4 7 10"}},
      {5, 1, {" 1 5 1 5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    const ChildResult r = run_on(scr_file(c.n, one_two_one_matrix(c.n)), std::to_string(c.blocks) + "\n");
    const std::vector<std::string> lines = split_lines(r.out);
    ASSERT_GT(lines.size(), 8 + c.rows.size());
    EXPECT_EQ(lines[7], " block  dimension start  end");
    for (std::size_t i = 0; i < c.rows.size(); ++i) EXPECT_EQ(lines[8 + i], c.rows[i]);
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Run, OneBlockFirstLineRepeatsTheSummary) {
  const ChildResult r = run_on(scr_file(9, random_symmetric_matrix(9, 7)), "1\n");
  const std::vector<std::string> lines = split_lines(r.out);
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines[9].substr(0, 5), "    1");
  EXPECT_EQ(lines[9].substr(5), lines[4]);
  EXPECT_EQ(lines[8], " 1 9 1 9");
  // The first sweep line shows ITER 1 and DELTA = |E(1) - 1.0e12|.
  EXPECT_EQ(lines[10].substr(0, 5), "    1");
  EXPECT_EQ(lines[10].substr(53), "   0.100E+13   0.100E-05");
}

TEST(Run, BlocksOfDimensionTwoShowTheirPairTwice) {
  const ChildResult r = run_on(scr_file(8, random_symmetric_matrix(8, 3)), "4\n");
  const std::vector<std::string> lines = split_lines(r.out);
  ASSERT_GT(lines.size(), 16u);
  for (int b = 0; b < 4; ++b) {
    const std::string& line = lines[12 + b];
    EXPECT_EQ(line.size(), 53u);
    EXPECT_EQ(line.substr(5, 24), line.substr(29, 24)) << line;
  }
}

TEST(Run, StopsAfterSweepOneHundredAndOne) {
  std::vector<double> a = one_two_one_matrix(50);
  for (double& x : a) x *= 1e6;
  const ChildResult r = run_on(scr_file(50, a), "25\n");
  const std::vector<std::string> lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 8u + 25u + 101u * 26u);
  EXPECT_EQ(lines.back().substr(0, 5), "  101");
  EXPECT_EQ(lines.back().size(), 77u);
  EXPECT_EQ(r.status, 0);
}

TEST(Run, EigenvalueFileOfTheOneTwoOneMatrix) {
  const int n = 50;
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(n, one_two_one_matrix(n)));
  std::string old;
  for (int i = 0; i < 100; ++i) old += "old line\r\n";
  write_file(dir / "C.SCR.TXT", old);
  const ChildResult r = run_blockeig(dir, "5\n");
  ASSERT_EQ(r.status, 0);
  std::string expected;
  for (int k = 1; k <= n; ++k) {
    const long double pi = 3.141592653589793238462643383279502884L;
    char line[40];
    std::snprintf(line, sizeof line, "%12d%12.6Lf\n", k, 2.0L - 2.0L * std::cos(k * pi / (n + 1)));
    expected += line;
  }
  EXPECT_EQ(read_file(dir / "C.SCR.TXT"), expected);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

TEST(Run, DirectPhaseReadsOnlyTheLowerTriangle) {
  const int n = 6;
  std::vector<double> a = random_symmetric_matrix(n, 11);
  std::vector<double> skewed = a;
  for (int j = 1; j < n; ++j)
    for (int i = 0; i < j; ++i) skewed[i + j * n] += 10.0 * (i + 1);  // upper triangle only
  std::string direct, direct_skewed;
  const ChildResult r1 = run_on(scr_file(n, a), "1\n", &direct);
  const ChildResult r2 = run_on(scr_file(n, skewed), "1\n", &direct_skewed);
  EXPECT_EQ(direct, direct_skewed);
  EXPECT_EQ(split_lines(r1.out)[4], split_lines(r2.out)[4]);
}

// The orders where E(N-1) coincides with E(1) or E(2): every summary and
// sweep line still shows four values.
TEST(Run, SmallestOrders) {
  struct Case {
    std::vector<double> diagonal;
    std::string summary;
    std::string first_sweep;
  };
  const Case cases[] = {
      {{3, 1},
       "    1.00        3.00        1.00        3.00    ",
       "    1    1.00        3.00        1.00        3.00       0.100E+13   0.100E-05"},
      {{5, -1, 2},
       "   -1.00        2.00        2.00        5.00    ",
       "    1   -1.00        2.00        2.00        5.00       0.100E+13   0.100E-05"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    const int n = static_cast<int>(c.diagonal.size());
    const ChildResult r = run_on(scr_file(n, diagonal_matrix(c.diagonal)), "1\n");
    const std::vector<std::string> lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 13u);  // two sweeps: the second finds DELTA = 0
    EXPECT_EQ(lines[4], c.summary);
    EXPECT_EQ(lines[8], " 1 " + std::to_string(n) + " 1 " + std::to_string(n));
    EXPECT_EQ(lines[9], "    1" + c.summary);
    EXPECT_EQ(lines[10], c.first_sweep);
    EXPECT_EQ(lines[12].substr(0, 5), "    2");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

// diag(d, 5, 0, 6) in two blocks: the second sweep moves E(1) from d to 0,
// so DELTA = d exactly. DELTA = TOL stops; a DELTA one ulp above it, or a
// NaN, decides by the strict comparison.
TEST(Run, StopTestAtTheTolerance) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double d;
    std::size_t sweeps;
  };
  const Case cases[] = {
      {1.0e-6, 2},
      {std::nextafter(1.0e-6, 1.0), 3},
      {std::nextafter(1.0e-6, 0.0), 2},
      {nan, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.d);
    const ChildResult r = run_on(scr_file(4, diagonal_matrix({c.d, 5, 0, 6})), "2\n");
    const std::vector<std::string> lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 10u + 3u * c.sweeps);
    EXPECT_EQ(lines.back().substr(0, 5), "    " + std::to_string(c.sweeps));
    EXPECT_EQ(lines.back().substr(65), "   0.100E-05");
    EXPECT_EQ(r.status, 0);
  }
}

// Records longer than the items they carry, and records after the matrix,
// are read like the plain file.
TEST(Run, TolerantMatrixFiles) {
  const std::vector<double> a = random_symmetric_matrix(3, 5);
  std::string plain_eigenvalues;
  const ChildResult plain = run_on(scr_file(3, a), "1\n", &plain_eigenvalues);
  ASSERT_EQ(plain.status, 0);
  const std::string files[] = {
      scr_record(le32(3) + le32(77)) + scr_record(doubles(a)),
      scr_record(le32(3)) + scr_record(doubles(a) + doubles({9, 9})),
      scr_file(3, a) + scr_record(doubles({1})) + "xy",
  };
  for (const std::string& file : files) {
    std::string eigenvalues;
    const ChildResult r = run_on(file, "1\n", &eigenvalues);
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(eigenvalues, plain_eigenvalues);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

// C.SCR.TXT that cannot be written: the direct phase's lines, then the
// report; an existing read-only file keeps its content.
TEST(Run, FailuresOfTheEigenvalueFile) {
  const std::string before_open = " N =  2\n allocated\n read\n diagonalized - direct, IERR:  0\n";
  std::string old;
  for (int i = 1; i <= 100; ++i) old += std::to_string(i) + "\n";
  {
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(2, diagonal_matrix({1, 2})));
    write_file(dir / "C.SCR.TXT", old);
    ::chmod((dir / "C.SCR.TXT").c_str(), 0444);
    const ChildResult r = run_blockeig(dir, "1\n");
    EXPECT_EQ(r.out, before_open);
    EXPECT_EQ(r.err, report(22, " (Unit 8 \"C.SCR.TXT\")", "Cannot write to file opened for READ"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "C.SCR.TXT"), old);
  }
  {
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(2, diagonal_matrix({1, 2})));
    std::filesystem::create_directory(dir / "C.SCR.TXT");
    const ChildResult r = run_blockeig(dir, "1\n");
    EXPECT_EQ(r.out, before_open);
    EXPECT_EQ(r.err, report(20, " file: \"C.SCR.TXT\"", std::strerror(EISDIR)));
    EXPECT_EQ(r.status, 2);
  }
}

// A standard stream closed by the caller must not lend its descriptor to
// A.SCR: the matrix file stays as it was, whatever the run does.
TEST(Run, ClosedStandardStreams) {
  const std::string scr = scr_file(3, random_symmetric_matrix(3, 2));
  const std::string& short_scr = damaged_matrix_file("record 2 three doubles short");
  struct Case {
    int closed;
    const std::string* file;
    int status;
  };
  const Case cases[] = {{0, &scr, 2}, {1, &scr, 0}, {2, &scr, 0}, {1, &short_scr, 2}, {2, &short_scr, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.closed);
    TempDir dir;
    write_file(dir / "A.SCR", *c.file);
    ChildOptions options;
    options.directory = dir.path();
    options.input = "1\n";
    options.before_exec = [fd = c.closed] { ::close(fd); };
    const ChildResult r = run_child(BLOCKEIG_BIN, {}, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(read_file(dir / "A.SCR"), *c.file);
    if (c.closed == 0) {
      EXPECT_EQ(r.err, report(31, " (Unit 5)", "End of file"));
    }
    if (c.closed != 1) {
      EXPECT_NE(r.out.find(" allocated\n"), std::string::npos) << r.out;
    }
  }
}

TEST(Run, FailuresOfTheMatrixFile) {
  struct Case {
    const char* name;  // of the damaged file
    std::string out;
    std::string err;
    int status;
  };
  const std::string n2_lines = " N =  2\n allocated\n";
  const Case cases[] = {
      {"record 1 only", n2_lines, report(15, " (Unit 8 \"A.SCR\")", "End of file"), 2},
      {"record 2 one double short", n2_lines,
       report(15, " (Unit 8 \"A.SCR\")", "Reading more data than the record size (RECL)"), 2},
      {"order 1", "",
       report(11, " (Unit 8 \"A.SCR\")", "Matrix order N = 1 in A.SCR is too small: blockeig needs N of 2 or more"), 2},
      {"order -3", "",
       report(11, " (Unit 8 \"A.SCR\")", "Matrix order N = -3 in A.SCR is too small: blockeig needs N of 2 or more"), 2},
      {"order 23171", " N =  23171\n",
       std::string("At line 13 of file main.cpp\n") + traceback +
           "Operating system error: Cannot allocate memory\nMemory allocation failed\n",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", damaged_matrix_file(c.name));
    const ChildResult r = run_blockeig(dir, "1\n");
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(std::filesystem::exists(dir / "C.SCR.TXT"));
  }
}

TEST(Run, MissingMatrixFileIsCreatedEmpty) {
  TempDir dir;
  const ChildResult r = run_blockeig(dir, "1\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, report(11, " (Unit 8 \"A.SCR\")", "End of file"));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(std::filesystem::exists(dir / "A.SCR"));
  EXPECT_EQ(read_file(dir / "A.SCR"), "");
}

// The block count as typed: what the console shows after " Number of blocks:".
TEST(Run, BlockCountInput) {
  const std::string heading_prefix = " Number of blocks:\n block  dimension start  end\n";
  const std::string again = " Number of blocks:\n Number of blocks must be from 1 to 3 (every block needs at least 2 positions)\n";
  struct Case {
    const char* input;
    std::string after_written;  // the beginning of the output after " written"
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"2\n", heading_prefix + " 1 3 1 3\n", "", 0},
      {"2\r\n", heading_prefix + " 1 3 1 3\n", "", 0},
      {"2", heading_prefix + " 1 3 1 3\n", "", 0},
      {"\n\n  3  junk\n", heading_prefix + " 1 2 1 2\n", "", 0},
      {"", " Number of blocks:\n", report(31, " (Unit 5)", "End of file"), 2},
      {"x\n", " Number of blocks:\n", report(31, " (Unit 5)", "Bad integer for item 1 in list input"), 2},
      {"99999999999\n", " Number of blocks:\n", report(31, " (Unit 5)", "Integer overflow while reading item 1"), 2},
      {"0\n2\n", again + heading_prefix + " 1 3 1 3\n", "", 0},
      {"4\n1\n", again + heading_prefix + " 1 6 1 6\n", "", 0},
      {"-1\n2\n", again + heading_prefix, "", 0},
      {"2*\n3\n", again + heading_prefix + " 1 2 1 2\n", "", 0},
      {",\n3\n", again + heading_prefix + " 1 2 1 2\n", "", 0},
      {"0\n", again + " Number of blocks:\n", report(31, " (Unit 5)", "End of file"), 2},
  };
  const std::string scr = scr_file(6, one_two_one_matrix(6));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const ChildResult r = run_on(scr, c.input);
    const std::size_t written = r.out.find(" written\n");
    ASSERT_NE(written, std::string::npos);
    EXPECT_EQ(r.out.substr(written + 9, c.after_written.size()), c.after_written);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

}  // namespace
}  // namespace blockeig::testing
