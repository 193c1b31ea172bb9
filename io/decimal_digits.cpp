#include "io/decimal_digits.hpp"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>

namespace blockeig::io {
namespace {

// Scientific text of a double: one digit, the point, count - 1 digits, "e",
// the sign and at most three exponent digits.
constexpr std::size_t scientific_capacity = 1 + 1 + (max_decimal_digits - 1) + 1 + 1 + 3;

// Parses the exponent that std::to_chars writes after "e": a sign and two or
// three digits.
int parse_exponent(const char* first, const char* last) {
  assert(last - first >= 3 && (*first == '+' || *first == '-'));
  int value = 0;
  for (const char* p = first + 1; p != last; ++p) value = value * 10 + (*p - '0');
  return *first == '-' ? -value : value;
}

}  // namespace

std::size_t fixed_digits(double x, int places, std::span<char> out) {
  assert(std::isfinite(x) && places >= 0 && places <= max_decimal_digits);
  assert(out.size() >= fixed_digits_capacity);
  const auto [end, ec] = std::to_chars(out.data(), out.data() + out.size(), std::fabs(x),
                                       std::chars_format::fixed, places);
  assert(ec == std::errc());
  std::size_t length = static_cast<std::size_t>(end - out.data());
  if (places == 0) out[length++] = '.';  // to_chars leaves the point out
  return length;
}

SignificantDigits significant_digits(double x, int count, std::span<char> out) {
  assert(std::isfinite(x) && count >= 1 && count <= max_decimal_digits);
  assert(out.size() >= static_cast<std::size_t>(count));
  if (x == 0.0) {
    std::memset(out.data(), '0', static_cast<std::size_t>(count));
    return {0};
  }
  char text[scientific_capacity];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, std::fabs(x), std::chars_format::scientific, count - 1);
  assert(ec == std::errc());
  // "d.ddd...e+XX", or "de+XX" when count is 1.
  out[0] = text[0];
  const char* fraction = count > 1 ? text + 2 : text + 1;
  std::memcpy(out.data() + 1, fraction, static_cast<std::size_t>(count - 1));
  const char* e = fraction + (count - 1);
  assert(*e == 'e');
  return {parse_exponent(e + 1, end) + 1};
}

}  // namespace blockeig::io
