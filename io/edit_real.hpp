#pragma once
// The real edit descriptors Fw.d and Gw.d[Ee] on output. Every field is
// decided on the exact binary value; the digits come from decimal_digits.
#include <cstddef>
#include <span>

#include "io/edit_integer.hpp"

namespace blockeig::io {

// Writes x under Fw.d into out and returns w: NaN as "NaN", infinities as
// "+Inf" / "-Inf"; otherwise "-" when the sign bit is set (also for -0.0 and
// for negatives that round to zero), the integer part (at least "0"), ".",
// and d fraction digits rounded half to even. Right-justified in w blanks; a
// text one character too long whose integer part is the lone "0" loses that
// "0"; any other text too long makes the field w asterisks.
// Requires: 1 <= w <= max_field_width, 0 <= d <= max_field_width,
// out.size() >= max_field_width.
std::size_t edit_fixed(double x, int w, int d, std::span<char> out);

// Writes x under Gw.d, or Gw.dEe when e is not `absent`, and returns w. With
// n = 4 (or e + 2) trailing blanks: zero and the infinities as F(w-n).(d-1);
// a normal magnitude that rounds to d significant digits in [0.1, 10^d) as
// F(w-n).(d-x) where x is its decimal exponent in the 0.ddd form; everything
// else (and NaN, right-justified in w) in the exponent form
// [-]0.ddd followed by E+xx, +xxx or +xxxx (or "E" sign and e digits). A
// field of w <= n cannot hold the F form and is then w asterisks.
// Requires: 1 <= w <= max_field_width, 1 <= d <= max_field_width,
// e absent or 1 <= e <= max_field_width, out.size() >= max_field_width.
std::size_t edit_general(double x, int w, int d, int e, std::span<char> out);

}  // namespace blockeig::io
