#pragma once
// The integer edit descriptor Iw and Iw.m on output.
#include <cstddef>
#include <cstdint>
#include <span>

#include "io/decimal_digits.hpp"

namespace blockeig::io {

// Field widths and digit counts that the editing accepts (the format parser
// rejects larger ones).
inline constexpr int max_field_width = max_decimal_digits;

// Marks an absent minimum-digits count m or exponent width e.
inline constexpr int absent = -1;

// Writes `value` under Iw.m into out and returns the byte count: the digits
// of the magnitude (at least m of them, with leading zeros; "0" for zero when
// m is absent, nothing when m is 0), "-" in front when negative, right-
// justified in w blanks; w asterisks when the text is longer than w. w = 0
// means the minimal width, the text itself.
// Requires: 0 <= w <= max_field_width; m absent, or 0 <= m <= w when w > 0,
// or 0 <= m <= max_field_width - 1 when w = 0; out.size() >= max_field_width.
std::size_t edit_integer(std::int32_t value, int w, int m, std::span<char> out);

// The minimal text of an integer: its digits, "-" in front when negative.
// Requires out.size() >= 11.
std::size_t write_minimal_integer(std::int32_t value, std::span<char> out);

}  // namespace blockeig::io
