#include "io/edit_integer.hpp"

#include <cassert>
#include <cstring>

namespace blockeig::io {
namespace {

// Digits of the magnitude, least significant first, into a fixed buffer;
// returns their count (0 for the value 0).
constexpr std::size_t magnitude_digits_capacity = 10;  // 2147483648

std::size_t reverse_digits(std::uint32_t magnitude, char* digits) {
  std::size_t count = 0;
  while (magnitude != 0) {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  return count;
}

std::uint32_t magnitude_of(std::int32_t value) {
  // Widen before negating: -(-2147483648) does not fit an int32_t.
  return value < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(value))
                   : static_cast<std::uint32_t>(value);
}

}  // namespace

std::size_t write_minimal_integer(std::int32_t value, std::span<char> out) {
  assert(out.size() >= magnitude_digits_capacity + 1);
  char digits[magnitude_digits_capacity];
  std::size_t count = reverse_digits(magnitude_of(value), digits);
  if (count == 0) digits[count++] = '0';
  std::size_t length = 0;
  if (value < 0) out[length++] = '-';
  while (count != 0) out[length++] = digits[--count];
  return length;
}

std::size_t edit_integer(std::int32_t value, int w, int m, std::span<char> out) {
  assert(w >= 0 && w <= max_field_width);
  assert(m == absent || (m >= 0 && (w == 0 ? m < max_field_width : m <= w)));
  assert(out.size() >= static_cast<std::size_t>(max_field_width));
  char digits[magnitude_digits_capacity];
  const std::size_t count = reverse_digits(magnitude_of(value), digits);
  const std::size_t minimum = m == absent ? 1 : static_cast<std::size_t>(m);
  const std::size_t shown = count > minimum ? count : minimum;
  const std::size_t sign = value < 0 ? 1 : 0;
  const std::size_t text = sign + shown;  // <= 1 + max(10, m): at most w + 1, or max_field_width for I0.m
  // I0.0 of zero still writes one blank, so the field is never empty.
  const std::size_t width = w != 0 ? static_cast<std::size_t>(w) : text != 0 ? text : 1;
  if (text > width) {
    std::memset(out.data(), '*', width);
    return width;
  }
  std::size_t p = width - text;
  std::memset(out.data(), ' ', p);
  if (sign) out[p++] = '-';
  for (std::size_t i = shown; i-- > 0;) out[p++] = i < count ? digits[i] : '0';
  return width;
}

}  // namespace blockeig::io
