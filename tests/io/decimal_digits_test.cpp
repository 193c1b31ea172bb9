#include "io/decimal_digits.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace blockeig::io {
namespace {

std::string fixed_text(double x, int places) {
  char out[fixed_digits_capacity];
  return std::string(out, fixed_digits(x, places, out));
}

struct Significant {
  std::string digits;
  int exponent;
};

Significant significant(double x, int count) {
  char out[max_decimal_digits];
  const int exponent = significant_digits(x, count, out).exponent;
  return {std::string(out, static_cast<std::size_t>(count)), exponent};
}

TEST(FixedDigits, Values) {
  EXPECT_EQ(fixed_text(-1.5, 6), "1.500000");  // magnitude only
  EXPECT_EQ(fixed_text(123.0, 0), "123.");
  EXPECT_EQ(fixed_text(0.3, 0), "0.");
  EXPECT_EQ(fixed_text(0.5, 0), "0.");  // tie to even
  EXPECT_EQ(fixed_text(1.5, 0), "2.");
  EXPECT_EQ(fixed_text(0.0078125, 6), "0.007812");
  EXPECT_EQ(fixed_text(std::numeric_limits<double>::max(), 0).size(), 310u);
  EXPECT_EQ(fixed_text(std::numeric_limits<double>::max(), max_decimal_digits).size(), fixed_digits_capacity);
}

TEST(SignificantDigits, Values) {
  struct Case {
    double x;
    int count;
    const char* digits;
    int exponent;
  };
  const Case cases[] = {
      {0.0, 3, "000", 0},
      {-0.0, 1, "0", 0},
      {1.0, 1, "1", 1},
      {-0.25, 3, "250", 0},
      {999.5, 3, "100", 4},  // carry out of the leading digit
      {999.4, 3, "999", 3},
      {0.3125, 3, "312", 0},
      {1125.0, 3, "112", 4},
      {1135.0, 3, "114", 4},
      {1.0e-101, 3, "100", -100},
      {std::numeric_limits<double>::denorm_min(), 3, "494", -323},
      {std::numeric_limits<double>::max(), 5, "17977", 309},
      {9.5, 1, "1", 2},  // tie to even digit: 1.0e1
      {8.5, 1, "8", 1},
  };
  for (const Case& c : cases) {
    const Significant s = significant(c.x, c.count);
    EXPECT_EQ(s.digits, c.digits) << c.x;
    EXPECT_EQ(s.exponent, c.exponent) << c.x;
  }
  EXPECT_EQ(significant(1.0 / 3.0, max_decimal_digits).digits.size(), static_cast<std::size_t>(max_decimal_digits));
}

}  // namespace
}  // namespace blockeig::io
