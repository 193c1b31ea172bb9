#include "tools/text_matrix.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

TEST(TextMatrix, RowsWithAndWithoutOrderLine) {
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"rows", "1 2\n3 4\n"},
      {"order line", "2\n1 2\n3 4\n"},
      {"comments, tabs, blank lines, CR LF, no final line feed", "# a matrix\r\n\r\n  1\t2  # first\r\n3 4"},
      {"signs and exponents", "+1 2e0\n0.3e1 +4.0D0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_text_matrix(c.text, "m.txt").a, (std::vector<double>{1, 3, 2, 4}));
  }
  const Matrix special = read_text_matrix("nan inf\n-inf -0\n", "m.txt");
  EXPECT_TRUE(std::isnan(special(1, 1)));
  EXPECT_EQ(special(1, 2), INFINITY);
  EXPECT_EQ(special(2, 1), -INFINITY);
  EXPECT_TRUE(std::signbit(special(2, 2)));
}

TEST(TextMatrix, MalformedTextNamesLineAndColumn) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "m.txt: the file holds no numbers"},
      {"# nothing\n\n", "m.txt:2: the file holds no numbers"},
      {"1 2 3\n4 5 6\n", "m.txt:2: the file ends after 2 rows; the matrix is not square (3 numbers per row)"},
      {"1 2\n3 4\n5 6\n", "m.txt:3:1: more than 2 rows: the matrix is not square"},
      {"1 2\n3 4 5\n", "m.txt:2:5: row 2 has 3 numbers, not 2"},
      {"1 2\n3\n", "m.txt:2: row 2 has 1 numbers, not 2"},
      {"1 2\n3 x4\n", "m.txt:2:3: 'x4' is not a number"},
      {"1 2\n3 4,\n", "m.txt:2:3: '4,' is not a number"},
      {"1 2\n3 1e400\n", "m.txt:2:3: '1e400' is not a number"},
      {"3\n1 2 3\n", "m.txt:2: the file ends after 1 rows; the matrix is not square (3 rows announced)"},
      {"1.5\n", "m.txt:1:1: order 1 is below 2"},
      {"-3\n", "m.txt:1:1: order -3 is below 2"},
      {"20000\n", "m.txt:1:1: order 20000 is above 11180"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      read_text_matrix(c.text, "m.txt");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
    }
  }
}

TEST(TextMatrix, WritesRowsInShortestForm) {
  Matrix m(2);
  m.a = {0.1, 1e-320, -2.5, 1.0 / 3.0};
  std::string out;
  emit_text_matrix(m, [&out](std::span<const std::uint8_t> piece) { out.append(piece.begin(), piece.end()); });
  EXPECT_EQ(out, "0.1 -2.5\n1e-320 0.3333333333333333\n");
  EXPECT_EQ(read_text_matrix(out, "m.txt").a, m.a);
}

// Export writes every double so that import gives its bits back: a NaN
// keeps its sign and payload, a signalling one included.
TEST(TextScan, NaNKeepsSignAndPayload) {
  struct Case {
    std::uint64_t bits;
    const char* text;
  };
  const Case cases[] = {{0x7ff8000000000000, "nan"},
                        {0xfff8000000000000, "-nan"},
                        {0x7ff0000000000001, "nan(0x1)"},
                        {0xfff8000000000abc, "-nan(0x8000000000abc)"},
                        {0x7fffffffffffffff, "nan(0xfffffffffffff)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(shortest_text(std::bit_cast<double>(c.bits)), c.text);
    double v = 0;
    ASSERT_TRUE(parse_real(c.text, v));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(v), c.bits);
  }
}

TEST(TextScan, RealsAndIntegers) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const Case reals[] = {{"1", true, 1},          {"+1.5", true, 1.5},  {"-2e3", true, -2000}, {"1.5d2", true, 150},
                        {".5", true, 0.5},       {"5.", true, 5},      {"4.9e-324", true, 4.9e-324},
                        {"1e-400", true, 0},     {"1e400", false, 0},  {"+-1", false, 0},   {"++1", false, 0},
                        {"1e", false, 0},        {"0x10", false, 0},   {"", false, 0},      {"1,5", false, 0}};
  for (const Case& c : reals) {
    SCOPED_TRACE(c.text);
    double v = -7;
    EXPECT_EQ(parse_real(c.text, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
  std::int64_t n = 0;
  EXPECT_TRUE(parse_integer("+12", n));
  EXPECT_EQ(n, 12);
  EXPECT_TRUE(parse_integer("-12", n));
  EXPECT_EQ(n, -12);
  for (const char* bad : {"+-1", "1.0", "", "+", "99999999999999999999", "1 "}) EXPECT_FALSE(parse_integer(bad, n)) << bad;
}

}  // namespace
}  // namespace scrtool
