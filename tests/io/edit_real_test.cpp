#include "io/edit_real.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace blockeig::io {
namespace {

std::string fixed(double x, int w, int d) {
  char out[max_field_width];
  return std::string(out, edit_fixed(x, w, d, out));
}

std::string general(double x, int w, int d, int e = absent) {
  char out[max_field_width];
  return std::string(out, edit_general(x, w, d, e, out));
}

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double smallest_subnormal = std::numeric_limits<double>::denorm_min();

struct FieldCase {
  double value;
  const char* g12_3;
  const char* f12_6;
};

TEST(EditReal, SingleFields) {
  const FieldCase cases[] = {
      {0.0, "    0.00    ", "    0.000000"},
      {-0.0, "   -0.00    ", "   -0.000000"},
      {-1.0e-9, "  -0.100E-08", "   -0.000000"},
      {0.5, "   0.500    ", "    0.500000"},
      {0.0999, "   0.999E-01", "    0.099900"},
      {0.09996, "   0.100    ", "    0.099960"},
      {9.995, "    9.99    ", "    9.995000"},
      {99.95, "    100.    ", "   99.950000"},
      {999.4, "    999.    ", "  999.400000"},
      {999.5, "   0.100E+04", "  999.500000"},
      {-123456.0, "  -0.123E+06", "************"},
      {1.0e-100, "   0.100E-99", "    0.000000"},
      {1.0e-101, "   0.100-100", "    0.000000"},
      {1.0e300, "   0.100+301", "************"},
      {smallest_subnormal, "   0.494-323", "    0.000000"},
      {inf, "    +Inf    ", "        +Inf"},
      {-inf, "    -Inf    ", "        -Inf"},
      {nan, "         NaN", "         NaN"},
      {99999.9999994, "   0.100E+06", "99999.999999"},
      {99999.9999996, "   0.100E+06", "************"},
      {-9999.9999996, "  -0.100E+05", "************"},
      // Records of the program's lines, field by field.
      {-1.5, "   -1.50    ", "   -1.500000"},
      {-0.25, "  -0.250    ", "   -0.250000"},
      {3.0, "    3.00    ", "    3.000000"},
      {12.5, "    12.5    ", "   12.500000"},
      {1234.5678, "   0.123E+04", " 1234.567800"},
      {1000000000001.5, "   0.100E+13", "************"},
      {1.0e-6, "   0.100E-05", "    0.000001"},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(general(c.value, 12, 3), c.g12_3) << c.value;
    EXPECT_EQ(fixed(c.value, 12, 6), c.f12_6) << c.value;
  }
  // The decimal literals of the table name the doubles the text says.
  EXPECT_LT(9.995, 9.995L);
  EXPECT_GT(99.95, 99.95L);
}

TEST(EditReal, RoundToEven) {
  EXPECT_EQ(fixed(0.0078125, 12, 6), "    0.007812");
  EXPECT_EQ(fixed(0.0234375, 12, 6), "    0.023438");  // 0.0234375 is a tie going up to even 8
  EXPECT_EQ(general(0.3125, 12, 3), "   0.312    ");
  EXPECT_EQ(general(1125.0, 12, 3), "   0.112E+04");
  EXPECT_EQ(general(1135.0, 12, 3), "   0.114E+04");
  EXPECT_EQ(fixed(1.0e-9, 12, 6), "    0.000000");
  EXPECT_EQ(fixed(1.0e-6, 12, 6), "    0.000001");
  EXPECT_EQ(fixed(5.0e-7, 12, 6), "    0.000000");  // the double is just below the tie
  EXPECT_EQ(fixed(std::nextafter(5.0e-7, 1.0), 12, 6), "    0.000001");
  EXPECT_EQ(fixed(2.5, 5, 0), "   2.");
  EXPECT_EQ(fixed(3.5, 5, 0), "   4.");
}

TEST(EditReal, Carrying) {
  EXPECT_EQ(fixed(9.9999999, 12, 6), "   10.000000");
  EXPECT_EQ(fixed(-0.9999999, 12, 6), "   -1.000000");
  EXPECT_EQ(general(9.9996, 12, 3), "    10.0    ");
  EXPECT_EQ(general(0.99949, 12, 3), "   0.999    ");
  EXPECT_EQ(general(0.9995, 12, 3), "    1.00    ");
  EXPECT_EQ(general(0.099949, 12, 3), "   0.999E-01");
  EXPECT_EQ(general(9.9996e-5, 12, 3), "   0.100E-03");
  EXPECT_EQ(general(9.9996e99, 12, 3), "   0.100+101");
  EXPECT_EQ(general(9.994e99, 12, 3), "   0.999+100");
  EXPECT_EQ(general(9.994e98, 12, 3), "   0.999E+99");
}

TEST(EditReal, DroppedLeadingZero) {
  EXPECT_EQ(fixed(0.5, 7, 6), ".500000");
  EXPECT_EQ(fixed(-0.5, 8, 6), "-.500000");
  EXPECT_EQ(fixed(-0.5, 7, 6), "*******");
  EXPECT_EQ(fixed(1.5, 7, 6), "*******");
  EXPECT_EQ(fixed(0.3, 1, 0), ".");
  EXPECT_EQ(general(0.5, 7, 3), "***    ");      // F3.3 cannot hold ".500"
  EXPECT_EQ(general(0.5, 8, 3), ".500    ");
  EXPECT_EQ(general(1.0e-5, 9, 3), "0.100E-04");
  EXPECT_EQ(general(1.0e-5, 8, 3), ".100E-04");
  EXPECT_EQ(general(-1.0e-5, 9, 3), "-.100E-04");
  EXPECT_EQ(general(-1.0e-5, 8, 3), "********");
}

TEST(EditReal, WidthOverflow) {
  EXPECT_EQ(fixed(inf, 3, 0), "***");
  EXPECT_EQ(fixed(nan, 3, 0), "NaN");
  EXPECT_EQ(fixed(nan, 2, 0), "**");
  EXPECT_EQ(fixed(1.0, 5, 6), "*****");
  EXPECT_EQ(fixed(1.0e308, 12, 6), "************");
  EXPECT_EQ(fixed(-std::numeric_limits<double>::max(), 256, 0).back(), '*');
  EXPECT_EQ(general(inf, 7, 3), "***    ");
  EXPECT_EQ(general(1.0, 4, 3), "****");
  EXPECT_EQ(general(nan, 4, 3), " NaN");
  EXPECT_EQ(fixed(123.0, 5, 0), " 123.");
}

TEST(EditReal, ExponentWidth) {
  EXPECT_EQ(general(1.0e-5, 12, 3, 3), "  0.100E-004");
  EXPECT_EQ(general(1.0e-5, 12, 3, 1), "    0.100E-4");
  EXPECT_EQ(general(1.0e-15, 12, 3, 1), "************");
  EXPECT_EQ(general(1.0e-101, 13, 3, 3), "   0.100E-100");
  EXPECT_EQ(general(2.5, 13, 3, 3), "    2.50     ");  // F8.2 and e + 2 blanks
  EXPECT_EQ(general(0.0, 13, 3, 3), "    0.00     ");
}

TEST(EditReal, MaximumPrecision) {
  const std::string wide = fixed(std::numeric_limits<double>::denorm_min(), 256, 255);
  EXPECT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide.substr(0, 3), ".00");  // 257 characters lose the leading "0"
  const std::string g = general(1.0 / 3000.0, 256, 256);
  EXPECT_EQ(g.size(), 256u);
  EXPECT_EQ(g.back(), '*');  // exponent form needs 262 characters
}

// ---------------------------------------------------------------------------
// An independent exact reference: the binary value expanded into decimal with
// base-10^9 big integers, rounded half to even on the digit string, and the
// G form chosen by comparing the exact value with the decimal boundaries.

// |x| = 0.digits * 10^exponent, digits without leading or trailing zeros.
struct ExactDecimal {
  std::string digits;  // empty for zero
  int exponent = 0;
};

// Little-endian base-10^9 limbs.
using BigInt = std::vector<std::uint32_t>;
constexpr std::uint32_t limb_base = 1'000'000'000;

void multiply(BigInt& n, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : n) {
    const std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product % limb_base);
    carry = product / limb_base;
  }
  while (carry != 0) {
    n.push_back(static_cast<std::uint32_t>(carry % limb_base));
    carry /= limb_base;
  }
}

void multiply_power(BigInt& n, std::uint32_t base, int power, std::uint32_t chunk, int chunk_power) {
  for (; power >= chunk_power; power -= chunk_power) multiply(n, chunk);
  for (; power > 0; --power) multiply(n, base);
}

std::string decimal_text(const BigInt& n) {
  std::string text = std::to_string(n.back());
  for (std::size_t i = n.size() - 1; i-- > 0;) {
    const std::string limb = std::to_string(n[i]);
    text.append(9 - limb.size(), '0').append(limb);
  }
  return text;
}

ExactDecimal exact_decimal(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t significand = bits & ((std::uint64_t{1} << 52) - 1);
  int binary_exponent = -1074;
  if (biased != 0) {
    significand |= std::uint64_t{1} << 52;
    binary_exponent = biased - 1075;
  }
  ExactDecimal result;
  if (significand == 0) return result;
  BigInt n{static_cast<std::uint32_t>(significand % limb_base),
           static_cast<std::uint32_t>(significand / limb_base % limb_base),
           static_cast<std::uint32_t>(significand / limb_base / limb_base)};
  while (n.size() > 1 && n.back() == 0) n.pop_back();
  int point_shift = 0;  // value = n * 10^-point_shift
  if (binary_exponent >= 0) {
    multiply_power(n, 2, binary_exponent, 1u << 29, 29);
  } else {
    multiply_power(n, 5, -binary_exponent, 1'220'703'125u, 13);  // 5^13
    point_shift = -binary_exponent;
  }
  std::string text = decimal_text(n);
  result.exponent = static_cast<int>(text.size()) - point_shift;
  while (text.back() == '0') text.pop_back();
  result.digits = text;
  return result;
}

// Adds one unit in the last place of a digit string; returns true on a carry
// out of the leading digit (the string is then all zeros).
bool increment(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  return true;
}

// |x| rounded half to even to `kept` digits of its expansion (kept may be 0
// or negative): the kept digits, with a leading "1" on a carry out.
std::string round_digits(const ExactDecimal& v, int kept) {
  if (kept < 0) return "";
  const std::size_t n = static_cast<std::size_t>(kept);
  if (n >= v.digits.size()) return v.digits + std::string(n - v.digits.size(), '0');
  std::string head = v.digits.substr(0, n);
  const std::string tail = v.digits.substr(n);
  bool up = false;
  if (tail[0] > '5' || (tail[0] == '5' && tail.size() > 1)) up = true;
  else if (tail == "5") up = !head.empty() && (head.back() - '0') % 2 == 1;  // an exact tie
  if (up && increment(head)) head.insert(head.begin(), '1');
  if (up && head.empty()) head = "1";
  return head;
}

// The F text of |x| with `places` fraction digits: "<int>.<frac>".
std::string reference_fixed_digits(const ExactDecimal& v, int places) {
  std::string k = v.digits.empty() ? "" : round_digits(v, v.exponent + places);
  // k is the value in units of 10^-places; it has no more digits than it
  // holds integer and fraction digits, but may have fewer.
  if (k.size() < static_cast<std::size_t>(places) + 1) k.insert(0, places + 1 - k.size(), '0');
  std::size_t first = 0;
  const std::size_t integer_digits = k.size() - static_cast<std::size_t>(places);
  while (first + 1 < integer_digits && k[first] == '0') ++first;
  return k.substr(first, integer_digits - first) + "." + k.substr(integer_digits);
}

std::string place(const std::string& text, int w) {
  const std::size_t width = static_cast<std::size_t>(w);
  if (text.size() <= width) return std::string(width - text.size(), ' ') + text;
  const std::size_t sign = text[0] == '-' ? 1 : 0;
  if (text.size() == width + 1 && text.compare(sign, 2, "0.") == 0) return text.substr(0, sign) + text.substr(sign + 1);
  return std::string(width, '*');
}

std::string reference_fixed(double x, int w, int d) {
  if (std::isnan(x)) return place("NaN", w);
  if (std::isinf(x)) return place(x < 0 ? "-Inf" : "+Inf", w);
  return place((std::signbit(x) ? "-" : "") + reference_fixed_digits(exact_decimal(x), d), w);
}

// Compares 0.a * 10^ea with 0.b * 10^eb, both nonzero and normalized.
int compare(const ExactDecimal& a, const ExactDecimal& b) {
  if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
  const int c = a.digits.compare(b.digits);  // no trailing zeros: lexicographic is numeric
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// b(k) = 10^(k-1) * (1 - 0.5 * 10^-d) = 0.99..95 * 10^(k-1), with d nines.
ExactDecimal g_boundary(int k, int d) { return {std::string(static_cast<std::size_t>(d), '9') + "5", k - 1}; }

std::string reference_general(double x, int w, int d) {
  if (std::isnan(x)) return place("NaN", w);
  if (x == 0 || std::isinf(x)) return reference_fixed(x, w - 4, d - 1) + "    ";
  const ExactDecimal v = exact_decimal(x);
  if (std::isnormal(x) && compare(v, g_boundary(0, d)) >= 0 && compare(v, g_boundary(d + 1, d)) < 0) {
    int j = 0;
    while (compare(v, g_boundary(j, d)) >= 0) ++j;
    return reference_fixed(x, w - 4, d + 1 - j) + "    ";
  }
  std::string digits = round_digits(v, d);
  int exponent = v.exponent;
  if (digits.size() > static_cast<std::size_t>(d)) {
    digits.pop_back();
    ++exponent;
  }
  const int magnitude = std::abs(exponent);
  std::string power = std::to_string(magnitude);
  const std::size_t width = magnitude <= 99 ? 2 : magnitude <= 999 ? 3 : 4;
  power.insert(0, width - power.size(), '0');
  const std::string letter = magnitude <= 99 ? "E" : "";
  return place((std::signbit(x) ? "-0." : "0.") + digits + letter + (exponent < 0 ? "-" : "+") + power, w);
}

bool below(double x, const ExactDecimal& boundary) { return compare(exact_decimal(x), boundary) < 0; }

TEST(ExactReference, AgreesWithTheTables) {
  EXPECT_EQ(reference_general(0.3125, 12, 3), "   0.312    ");
  EXPECT_EQ(reference_general(1135.0, 12, 3), "   0.114E+04");
  EXPECT_EQ(reference_general(1.0e-101, 12, 3), "   0.100-100");
  EXPECT_EQ(reference_general(99.95, 12, 3), "    100.    ");
  EXPECT_EQ(reference_fixed(0.0078125, 12, 6), "    0.007812");
  EXPECT_EQ(reference_fixed(-9999.9999996, 12, 6), "************");
  EXPECT_EQ(reference_fixed(99999.9999994, 12, 6), "99999.999999");
  EXPECT_EQ(reference_fixed(5e-7, 12, 6), "    0.000000");
  EXPECT_EQ(reference_fixed(-1e-9, 12, 6), "   -0.000000");
}

// Every boundary b(k) of G12.3 with the doubles on both sides: below it the
// lower form, at or above it the upper one.
TEST(EditReal, GeneralBoundaries) {
  struct Boundary {
    int k;
    const char* below;
    const char* above;
  };
  const Boundary boundaries[] = {
      {0, "   0.999E-01", "   0.100    "}, {1, "   0.999    ", "    1.00    "},
      {2, "    9.99    ", "    10.0    "}, {3, "    99.9    ", "    100.    "},
      {4, "    999.    ", "   0.100E+04"},
  };
  for (const Boundary& b : boundaries) {
    const ExactDecimal boundary = g_boundary(b.k, 3);
    const double nearest = std::stod("0." + boundary.digits + "e" + std::to_string(boundary.exponent));
    double x = nearest;
    for (int step = 0; step < 4; ++step) x = std::nextafter(x, 0.0);
    int below_count = 0;
    for (int step = 0; step < 9; ++step, x = std::nextafter(x, 1e9)) {
      const bool is_below = below(x, boundary);
      below_count += is_below;
      EXPECT_EQ(general(x, 12, 3), is_below ? b.below : b.above) << b.k << " step " << step;
      std::string negative = is_below ? b.below : b.above;  // the minus takes the blank before the text
      negative[negative.find_first_not_of(' ') - 1] = '-';
      EXPECT_EQ(general(-x, 12, 3), negative) << b.k << " step " << step;
    }
    EXPECT_TRUE(below_count == 4 || below_count == 5) << b.k;  // the sweep straddles b(k)
  }
}

struct Sample {
  std::vector<double> values;
  void add_neighbours(double x, int count) {
    double lo = x, hi = x;
    values.push_back(x);
    for (int i = 0; i < count; ++i) {
      lo = std::nextafter(lo, -INFINITY);
      hi = std::nextafter(hi, INFINITY);
      values.push_back(lo);
      values.push_back(hi);
    }
  }
};

// Random bit patterns over the whole range, random magnitudes where the
// program's values live, exact binary ties, and the doubles around every
// G12.3 boundary and the F12.6 limits, both signs.
std::vector<double> property_sample() {
  Sample s;
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 200'000; ++i) {
    const std::uint64_t bits = random();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    s.values.push_back(x);
  }
  std::uniform_real_distribution<double> log_magnitude(-9.0, 7.0);
  for (int i = 0; i < 60'000; ++i) {
    const double x = std::pow(10.0, log_magnitude(random));
    s.values.push_back(i % 2 ? -x : x);
  }
  for (int i = 0; i < 20'000; ++i) {  // k / 2^e: ties at the sixth place and at three digits
    const double k = static_cast<double>(random() % (1u << 24));
    s.values.push_back(std::ldexp(k, -static_cast<int>(random() % 30)));
  }
  for (int k = -2; k <= 6; ++k) {  // G boundaries and the carries of every decade nearby
    for (const char* mantissa : {"0.9995", "0.09995", "0.99949999", "0.1", "0.99999"}) {
      const double x = std::stod(std::string(mantissa) + "e" + std::to_string(k));
      s.add_neighbours(x, 200);
      s.add_neighbours(-x, 200);
    }
  }
  for (double limit : {99999.9999995, -9999.9999995, 0.0000005, -0.0000005, 0.0000015, 99999.9999985}) {
    s.add_neighbours(limit, 500);
  }
  for (double edge : {std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                      std::numeric_limits<double>::denorm_min(), 1e-100, 1e-99, 1e99, 1e100}) {
    s.add_neighbours(edge, 50);
    s.add_neighbours(-edge, 50);
  }
  return s.values;
}

TEST(EditReal, AgreesWithExactReference) {
  const std::vector<double> sample = property_sample();
  int failures = 0;
  for (double x : sample) {
    const std::string f = fixed(x, 12, 6), g = general(x, 12, 3);
    const std::string rf = reference_fixed(x, 12, 6), rg = reference_general(x, 12, 3);
    if ((f != rf || g != rg) && ++failures <= 10) {
      ADD_FAILURE() << std::hexfloat << x << std::defaultfloat << " (" << x << "): F12.6 \"" << f << "\" vs \"" << rf
                    << "\", G12.3 \"" << g << "\" vs \"" << rg << "\"";
    }
  }
  EXPECT_EQ(failures, 0) << "of " << sample.size() << " values";
  EXPECT_GT(sample.size(), 280'000u);
}

}  // namespace
}  // namespace blockeig::io
