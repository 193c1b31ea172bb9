#pragma once
// Exact decimal digits of a double's magnitude, rounded half to even at the
// requested place. Built on std::to_chars with a precision, which expands the
// binary value exactly and never allocates.
#include <cstddef>
#include <span>

namespace blockeig::io {

// The largest digit count a caller may ask for (fraction places or
// significant digits). Field widths are bounded by the same figure.
inline constexpr int max_decimal_digits = 256;

// Capacity that fixed_digits needs: 309 integer digits of the largest double,
// the point, and up to max_decimal_digits fraction digits.
inline constexpr std::size_t fixed_digits_capacity = 309 + 1 + max_decimal_digits;

// Writes |x| rounded to `places` digits after the point as
// "<integer digits>.<places fraction digits>" (the integer part is "0" when
// the magnitude rounds below one; the point is written also when places is 0)
// and returns the byte count.
// Requires: x finite, 0 <= places <= max_decimal_digits,
// out.size() >= fixed_digits_capacity.
std::size_t fixed_digits(double x, int places, std::span<char> out);

// The first `count` significant digits of |x| rounded half to even.
struct SignificantDigits {
  int exponent;  // x such that |x| rounds to 0.d1d2...dcount * 10^x
};

// Writes the `count` digits (no point, no sign) into out and returns the
// decimal exponent of the 0.ddd form. Zero gives all-zero digits and
// exponent 0.
// Requires: x finite, 1 <= count <= max_decimal_digits, out.size() >= count.
SignificantDigits significant_digits(double x, int count, std::span<char> out);

}  // namespace blockeig::io
