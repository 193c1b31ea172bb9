#include "tools/matrix_market.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

std::string emitted(const Matrix& m) {
  std::string out;
  emit_matrix_market(m, [&out](std::span<const std::uint8_t> piece) { out.append(piece.begin(), piece.end()); });
  return out;
}

// A file in the published layout, as another program writes it: banner,
// comment block, size line, one entry per line, lower triangle only.
constexpr std::string_view published =
    "%%MatrixMarket matrix coordinate real symmetric\n"
    "%=================================================================================\n"
    "%\n"
    "% This ASCII file represents a sparse MxN matrix with L\n"
    "% nonzeros in the following Matrix Market format:\n"
    "%\n"
    "% +----------------------------------------------+\n"
    "% |%%MatrixMarket matrix coordinate real general | <--- header line\n"
    "% |%                                             | <--+\n"
    "% |% comments                                    |    |-- 0 or more comment lines\n"
    "% |%                                             | <--+\n"
    "% |    M  N  L                                   | <--- rows, columns, entries\n"
    "% |    I1  J1  A(I1, J1)                         | <--+\n"
    "% +----------------------------------------------+\n"
    "%=================================================================================\n"
    "    4    4    6\n"
    "    1    1   1.0000000000000e+00\n"
    "    2    1  -2.5000000000000e-01\n"
    "    2    2   2.0000000000000e+00\n"
    "    3    3   3.0000000000000e+00\n"
    "    4    2   1.2500000000000e-01\n"
    "    4    4  -4.0000000000000e+00\n";

TEST(MatrixMarket, PublishedCoordinateSymmetricFile) {
  const Matrix m = read_matrix_market(published, "bcsstk.mtx");
  ASSERT_EQ(m.n, 4);
  EXPECT_EQ(m(1, 1), 1.0);
  EXPECT_EQ(m(2, 1), -0.25);
  EXPECT_EQ(m(1, 2), -0.25);
  EXPECT_EQ(m(4, 2), 0.125);
  EXPECT_EQ(m(2, 4), 0.125);
  EXPECT_EQ(m(4, 4), -4.0);
  EXPECT_EQ(m(3, 1), 0.0);
}

TEST(MatrixMarket, LayoutsAndFields) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<double> columns;  // expected, column by column
  };
  const Case cases[] = {
      {"array general", "%%MatrixMarket matrix array real general\n2 2\n1\n2\n3\n4\n", {1, 2, 3, 4}},
      {"array symmetric", "%%MatrixMarket matrix array real symmetric\n2 2\n1\n2\n4\n", {1, 2, 2, 4}},
      {"array skew-symmetric", "%%MatrixMarket matrix array real skew-symmetric\n2 2\n5\n", {0, 5, -5, 0}},
      {"array integer, several per line", "%%MatrixMarket matrix array integer general\n2 2\n1 -2\n3 4\n",
       {1, -2, 3, 4}},
      {"coordinate general", "%%MatrixMarket matrix coordinate real general\n2 2 2\n1 2 7.5\n2 1 -1\n",
       {0, -1, 7.5, 0}},
      {"coordinate symmetric, upper entry mirrored",
       "%%MatrixMarket matrix coordinate real symmetric\n2 2 1\n1 2 3\n", {0, 3, 3, 0}},
      {"coordinate integer", "%%MatrixMarket matrix coordinate integer general\n2 2 1\n2 2 -9\n", {0, 0, 0, -9}},
      {"pattern, every entry 1", "%%MatrixMarket matrix coordinate pattern general\n2 2 2\n1 2\n2 2\n", {0, 0, 1, 1}},
      {"pattern symmetric, mirrored", "%%MatrixMarket matrix coordinate pattern symmetric\n2 2 1\n2 1\n",
       {0, 1, 1, 0}},
      {"case, CR LF, blank lines and a Fortran exponent",
       "%%matrixmarket MATRIX Coordinate Real General\r\n% c\r\n\r\n2 2 1\r\n\r\n1 1 1.5D+01\r\n\r\n",
       {15, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Matrix m = read_matrix_market(c.text, "m.mtx");
    EXPECT_EQ(m.a, c.columns);
  }
}

TEST(MatrixMarket, MalformedFilesNameTheirPlace) {
  struct Case {
    std::string text;
    const char* message;
  };
  const std::string coordinate = "%%MatrixMarket matrix coordinate real general\n";
  const Case cases[] = {
      {"", "m.mtx: the file is empty; a Matrix Market file starts with %%MatrixMarket"},
      {"1 2 3\n", "m.mtx:1:1: the first line must start with %%MatrixMarket"},
      {"%%MatrixMarket matrix array real\n", "m.mtx:1:1: the header needs five words"},
      {"%%MatrixMarket vector array real general\n", "m.mtx:1:16: object 'vector' is not supported"},
      {"%%MatrixMarket matrix dense real general\n", "m.mtx:1:23: format 'dense' is neither"},
      {"%%MatrixMarket matrix array complex general\n", "m.mtx:1:29: field 'complex' is not supported"},
      {"%%MatrixMarket matrix array complex general\n", "m.mtx:1:29: field 'complex' is not supported"},
      {"%%MatrixMarket matrix array pattern general\n", "m.mtx:1:29: field 'pattern' goes with the coordinate format"},
      {"%%MatrixMarket matrix coordinate pattern skew-symmetric\n",
       "m.mtx:1:42: a pattern matrix cannot be skew-symmetric"},
      {"%%MatrixMarket matrix coordinate pattern general\n2 2 1\n1 1 1\n",
       "m.mtx:3:5: an entry of a pattern file is a row and a column"},
      {"%%MatrixMarket matrix array real hermitian\n", "m.mtx:1:34: symmetry 'hermitian' is not supported"},
      {coordinate + "% only comments\n", "m.mtx:2: the file ends before the size line"},
      {coordinate + "3 4 1\n", "m.mtx:2:1: the matrix is not square: 3 rows, 4 columns"},
      {coordinate + "2 2\n", "m.mtx:2:1: the size line must hold rows, columns and entries"},
      {coordinate + "1 1 1\n1 1 1\n", "m.mtx:2:1: order 1 is below 2"},
      {coordinate + "11181 11181 0\n", "m.mtx:2:1: order 11181 is above 11180"},
      {coordinate + "x 2 1\n", "m.mtx:2:1: row count 'x' is not a non-negative integer"},
      {coordinate + "2 2 5\n", "m.mtx:2: the size line announces 5 entries; an order 2 matrix"},
      {coordinate + "2 2 2\n1 1 1\n", "m.mtx:3: the file ends before entry 2 of 2"},
      {coordinate + "2 2 1\n1 1 1\n2 2 2\n", "m.mtx:4:1: more data than the size line announces"},
      {coordinate + "2 2 1\n3 1 1\n", "m.mtx:3:1: row index '3' is not between 1 and 2"},
      {coordinate + "2 2 1\n1 0 1\n", "m.mtx:3:3: column index '0' is not between 1 and 2"},
      {coordinate + "2 2 1\n1 1 1.5.0\n", "m.mtx:3:5: '1.5.0' is not a real number"},
      {coordinate + "2 2 1\n1 1\n", "m.mtx:3: an entry is a row, a column and a value"},
      {coordinate + "2 2 1\n1 1 2 9\n", "m.mtx:3:7: an entry is a row, a column and a value"},
      {coordinate + "2 2 2\n1 2 1\n1 2 1\n", "m.mtx:4:1: entry (1, 2) is given a second time (first at line 3)"},
      {"%%MatrixMarket matrix coordinate real symmetric\n2 2 2\n2 1 1\n1 2 1\n",
       "m.mtx:4:1: entry (1, 2) is given a second time (first at line 3)"},
      {"%%MatrixMarket matrix coordinate real skew-symmetric\n2 2 1\n1 1 1\n",
       "m.mtx:3:1: a skew-symmetric matrix has no diagonal entries"},
      {"%%MatrixMarket matrix coordinate integer general\n2 2 1\n1 1 1.5\n", "m.mtx:3:5: '1.5' is not an integer"},
      {"%%MatrixMarket matrix array real general\n2 2\n1\n2\n3\n", "m.mtx:5: the file ends before element (2, 2)"},
      {"%%MatrixMarket matrix array real general\n2 2\n1 2 3 4 5\n", "m.mtx:3:9: more values than the matrix holds"},
      {"%%MatrixMarket matrix array real symmetric\n2 2\n1\n2\n3\n4\n",
       "m.mtx:6:1: more data than the size line announces"},
      {"%%MatrixMarket matrix array real general\n2 2\n1\n2\n3\n1e999\n", "m.mtx:6:1: '1e999' is not a real number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      read_matrix_market(c.text, "m.mtx");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
    }
  }
}

// Files passed around without their banner: read as real general when the
// caller allows it, the place of a fault counted from the size line.
TEST(MatrixMarket, FilesWithoutTheBanner) {
  struct Case {
    const char* name;
    std::string text;
    std::string assumed;
    std::vector<double> columns;  // expected, column by column; empty: refused
    std::string message;
    std::string mirrored = "";
  };
  const std::string coordinate = "%%MatrixMarket matrix coordinate real general";
  const std::string array = "%%MatrixMarket matrix array real general";
  const Case cases[] = {
      {"coordinate, one triangle: mirrored", "2 2 2\n1 1 4\n2 1 -1\n", coordinate, {4, -1, -1, 0}, "", "lower"},
      {"coordinate, padded, CR LF and a comment", "  2 2 1\r\n% note\r\n2 2 1.5e1\r\n", coordinate, {0, 0, 0, 15}, ""},
      {"array", "2 2\n1\n2\n3\n4\n", array, {1, 2, 3, 4}, ""},
      {"with its banner", "%%MatrixMarket matrix array real symmetric\n2 2\n1\n2\n4\n", "", {1, 2, 2, 4}, ""},
      {"a fault names its line", "2 2 1\n1 1 x\n", coordinate, {}, "m.mtx:2:5: 'x' is not a real number"},
      {"one triangle, above", "3 3 2\n1 3 5\n2 2 1\n", coordinate, {0, 0, 5, 0, 1, 0, 5, 0, 0}, "", "upper"},
      {"both sides: as it is", "2 2 2\n1 2 5\n2 1 6\n", coordinate, {0, 6, 5, 0}, ""},
      {"a repeated entry names the first", "2 2 2\n1 2 1\n1 2 1\n", coordinate, {},
       "m.mtx:3:1: entry (1, 2) is given a second time (first at line 2)"},
      {"a pattern file", "2 2 1\n1 1\n", coordinate, {}, "m.mtx:2: an entry is a row, a column and a value"},
      {"a first line of four numbers", "2 2 1 1\n", "", {}, "m.mtx:1:1: the first line must start with %%MatrixMarket, or"},
      {"a comment first", "% size below\n2 2\n1\n2\n3\n4\n", "", {}, "m.mtx:1:1: the first line must"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MatrixMarketNotes notes{"stale", true, true, "stale"};
    try {
      const Matrix m = read_matrix_market(c.text, "m.mtx", &notes);
      EXPECT_EQ(m.a, c.columns);
    } catch (const ToolError& e) {
      EXPECT_TRUE(c.columns.empty()) << e.what();
      EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
    }
    EXPECT_EQ(notes.assumed, c.assumed);
    EXPECT_EQ(notes.mirrored, c.mirrored);
    EXPECT_FALSE(notes.pattern);
  }
  // Unless the caller allows it, the banner is required.
  EXPECT_THROW(read_matrix_market("2 2\n1\n2\n3\n4\n", "m.mtx"), ToolError);
}

TEST(MatrixMarket, WritesSymmetricOrGeneralArrays) {
  Matrix s(2);
  s.a = {0.1, -2, -2, 1e300};
  EXPECT_EQ(emitted(s), "%%MatrixMarket matrix array real symmetric\n% written by scrtool\n2 2\n0.1\n-2\n1e+300\n");
  Matrix g(2);
  g.a = {1, 2, -0.0, 4};
  EXPECT_EQ(emitted(g), "%%MatrixMarket matrix array real general\n% written by scrtool\n2 2\n1\n2\n-0\n4\n");
  // -0.0 against 0.0 is not symmetric bit for bit, and must survive.
  Matrix z(2);
  z.a = {1, 0.0, -0.0, 1};
  const Matrix back = read_matrix_market(emitted(z), "z.mtx");
  EXPECT_TRUE(std::signbit(back(1, 2)));
  EXPECT_FALSE(std::signbit(back(2, 1)));
}

}  // namespace
}  // namespace scrtool
