#include "io/edit_integer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace blockeig::io {
namespace {

std::string integer_field(std::int32_t value, int w, int m = absent) {
  char out[max_field_width];
  return std::string(out, edit_integer(value, w, m, out));
}

std::string minimal(std::int32_t value) {
  char out[16];
  return std::string(out, write_minimal_integer(value, out));
}

constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();

TEST(EditInteger, Fields) {
  struct Case {
    std::int32_t value;
    int w, m;
    const char* field;
  };
  const Case cases[] = {
      {0, 5, absent, "    0"},
      {0, 12, absent, "           0"},
      {-5, 5, absent, "   -5"},
      {12345, 5, absent, "12345"},
      {123456, 5, absent, "*****"},
      {-12345, 5, absent, "*****"},
      {2147483647, 12, absent, "  2147483647"},
      {int_min, 12, absent, " -2147483648"},
      {int_min, 11, absent, "-2147483648"},
      {int_min, 10, absent, "**********"},
      {1, 12, absent, "           1"},
      {7, 1, absent, "7"},
      {-7, 1, absent, "*"},
      // Minimum digits.
      {42, 6, 4, "  0042"},
      {-42, 6, 4, " -0042"},
      {-42, 5, 4, "-0042"},
      {-42, 4, 4, "****"},
      {0, 3, 0, "   "},
      {0, 3, 1, "  0"},
      // Minimal width.
      {-905, 0, absent, "-905"},
      {0, 0, absent, "0"},
      {0, 0, 0, " "},
      {5, 0, 3, "005"},
  };
  for (const Case& c : cases) EXPECT_EQ(integer_field(c.value, c.w, c.m), c.field) << c.value << " I" << c.w;
}

TEST(EditInteger, WidestFields) {
  EXPECT_EQ(integer_field(-1, max_field_width, max_field_width).size(), static_cast<std::size_t>(max_field_width));
  const std::string padded = integer_field(-1, 0, max_field_width - 1);
  EXPECT_EQ(padded.size(), static_cast<std::size_t>(max_field_width));
  EXPECT_EQ(padded.substr(0, 3), "-00");
}

TEST(WriteMinimalInteger, Values) {
  EXPECT_EQ(minimal(0), "0");
  EXPECT_EQ(minimal(5), "5");
  EXPECT_EQ(minimal(-3), "-3");
  EXPECT_EQ(minimal(int_max), "2147483647");
  EXPECT_EQ(minimal(int_min), "-2147483648");
}

}  // namespace
}  // namespace blockeig::io
