#include "io/format.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace blockeig::io {
namespace {

using Kind = FormatItem::Kind;

FormatItem descriptor(Kind kind, std::int32_t repeat, int w, int d = 0, int m = absent, int e = absent) {
  FormatItem item;
  item.kind = kind;
  item.repeat = repeat;
  item.w = w;
  item.d = d;
  item.m = m;
  item.e = e;
  return item;
}

FormatItem group(std::int32_t repeat, std::vector<FormatItem> children) {
  FormatItem item;
  item.kind = Kind::group;
  item.repeat = repeat;
  item.children = std::move(children);
  return item;
}

std::vector<FormatItem> parsed(std::string_view text) {
  const FormatParse result = parse_format(text);
  EXPECT_TRUE(result.ok()) << text << ": " << result.error;
  return result.format.items;
}

TEST(ParseFormat, TheProgramsFormats) {
  EXPECT_EQ(parsed("(i12,F12.6)"),
            (std::vector{descriptor(Kind::integer, 1, 12), descriptor(Kind::fixed, 1, 12, 6)}));
  EXPECT_EQ(parsed("(4g12.3)"), (std::vector{descriptor(Kind::general, 4, 12, 3)}));
  EXPECT_EQ(parsed("(i5,6g12.3)"),
            (std::vector{descriptor(Kind::integer, 1, 5), descriptor(Kind::general, 6, 12, 3)}));
}

TEST(ParseFormat, BlanksCaseAndGroups) {
  EXPECT_EQ(parsed(" \t( I 12 , f12 . 6 )  "),
            (std::vector{descriptor(Kind::integer, 1, 12), descriptor(Kind::fixed, 1, 12, 6)}));
  EXPECT_EQ(parsed("(1 2i5)"), (std::vector{descriptor(Kind::integer, 12, 5)}));  // blanks inside a number
  EXPECT_EQ(parsed("(I5.3,I0,G10.2E3)"),
            (std::vector{descriptor(Kind::integer, 1, 5, 0, 3), descriptor(Kind::integer, 1, 0),
                         descriptor(Kind::general, 1, 10, 2, absent, 3)}));
  EXPECT_EQ(parsed("(i5, 2(F8.2, 3(g12.3)), i2)"),
            (std::vector{descriptor(Kind::integer, 1, 5),
                         group(2, {descriptor(Kind::fixed, 1, 8, 2), group(3, {descriptor(Kind::general, 1, 12, 3)})}),
                         descriptor(Kind::integer, 1, 2)}));
  EXPECT_EQ(parsed("(F5.0)"), (std::vector{descriptor(Kind::fixed, 1, 5, 0)}));
  EXPECT_EQ(parsed("(2147483647I1)"), (std::vector{descriptor(Kind::integer, 2147483647, 1)}));
}

TEST(ParseFormat, Rejections) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "Expected '(' at the start at position 1 in format \"\""},
      {"  i5", "Expected '(' at the start at position 3 in format \"  i5\""},
      {"(A5)", "Unsupported edit descriptor 'A' at position 2 in format \"(A5)\""},
      {"(i5,1x,i5)", "Unsupported edit descriptor 'x' at position 6 in format \"(i5,1x,i5)\""},
      {"('N =',i5)", "Unsupported character constant at position 2 in format \"('N =',i5)\""},
      {"(E12.3)", "Unsupported edit descriptor 'E' at position 2 in format \"(E12.3)\""},
      {"(i)", "Missing width after 'I' at position 3 in format \"(i)\""},
      {"(F12)", "Missing '.' and digits count after 'F' width at position 5 in format \"(F12)\""},
      {"(F12.)", "Missing digits count after '.' at position 6 in format \"(F12.)\""},
      {"(F0.3)", "Zero width not allowed at position 3 in format \"(F0.3)\""},
      {"(G12.0)", "G needs at least one significant digit at position 2 in format \"(G12.0)\""},
      {"(G12.3E)", "Missing exponent width after 'E' at position 8 in format \"(G12.3E)\""},
      {"(G12.3E0)", "Zero width not allowed at position 8 in format \"(G12.3E0)\""},
      {"(I5.6)", "Minimum digits exceed the width at position 2 in format \"(I5.6)\""},
      {"(I257)", "Number above 256 at position 3 in format \"(I257)\""},
      {"(F12.257)", "Number above 256 at position 6 in format \"(F12.257)\""},
      {"(0i5)", "Zero repeat count at position 2 in format \"(0i5)\""},
      {"(2147483648i5)", "Repeat count too large at position 2 in format \"(2147483648i5)\""},
      {"(99999999999999999999i5)", "Repeat count too large at position 2 in format \"(99999999999999999999i5)\""},
      {"(i5", "Missing ')' at position 4 in format \"(i5\""},
      {"(i5,", "Expected an edit descriptor or '(' at position 5 in format \"(i5,\""},
      {"(i5,)", "Expected an edit descriptor or '(' at position 5 in format \"(i5,)\""},
      {"()", "Expected an edit descriptor or '(' at position 2 in format \"()\""},
      {"(i5,())", "Empty group at position 6 in format \"(i5,())\""},
      {"(4)", "Expected an edit descriptor or '(' at position 3 in format \"(4)\""},
      {"(i5 i5)", "Expected ',' or ')' at position 5 in format \"(i5 i5)\""},
      {"(i5))", "Unexpected text after the final ')' at position 5 in format \"(i5))\""},
      {"(i5)x", "Unexpected text after the final ')' at position 5 in format \"(i5)x\""},
      {"(i5,*)", "Unexpected character '*' at position 5 in format \"(i5,*)\""},
      {"(i5,\x01)", "Unexpected character 0x01 at position 5 in format \"(i5,\x01)\""},
      {"(-5i5)", "Unexpected character '-' at position 2 in format \"(-5i5)\""},
      {"(2(i5)", "Missing ')' at position 7 in format \"(2(i5)\""},
  };
  for (const Case& c : cases) {
    const FormatParse result = parse_format(c.text);
    EXPECT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.error, c.error);
  }
}

// Random strings over the format alphabet: the parser either accepts with a
// tree whose numbers lie in their ranges, or names a position inside the text.
void expect_within_limits(const std::vector<FormatItem>& items) {
  EXPECT_FALSE(items.empty());
  for (const FormatItem& item : items) {
    EXPECT_GE(item.repeat, 1);
    if (item.kind == Kind::group) {
      expect_within_limits(item.children);
      continue;
    }
    EXPECT_LE(item.w, max_field_width);
    EXPECT_LE(item.d, max_field_width);
    if (item.kind != Kind::integer) {
      EXPECT_GE(item.w, 1);
    }
    if (item.kind == Kind::general) {
      EXPECT_GE(item.d, 1);
    }
  }
}

TEST(ParseFormat, RandomText) {
  const std::string alphabet = "((())),,..0123456789iIfFgGeE \t*xA'";
  std::mt19937 random(7);
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text = "(";
    const int length = static_cast<int>(random() % 16);
    for (int k = 0; k < length; ++k) text.push_back(alphabet[random() % alphabet.size()]);
    if (random() % 2) text.push_back(')');
    const FormatParse result = parse_format(text);
    if (result.ok()) {
      ++accepted;
      expect_within_limits(result.format.items);
    } else {
      EXPECT_NE(result.error.find(" at position "), std::string::npos) << text;
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace blockeig::io
