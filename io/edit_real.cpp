#include "io/edit_real.hpp"

#include <cassert>
#include <cmath>
#include <cstring>
#include <string_view>

namespace blockeig::io {
namespace {

// Exponent part of the G exponent form: "E" and sign and the exponent width's
// digits, at most 2 + max_field_width bytes (the default forms take 4 or 5).
constexpr std::size_t exponent_capacity = 2 + max_field_width;
// [-]0.<digits><exponent>.
constexpr std::size_t exponent_form_capacity = 1 + 2 + max_decimal_digits + exponent_capacity;
// [-]<fixed digits>.
constexpr std::size_t fixed_form_capacity = 1 + fixed_digits_capacity;
static_assert(max_field_width <= max_decimal_digits, "F inside G may ask for d - 1 places");

std::size_t fill(std::span<char> out, std::size_t from, std::size_t count, char c) {
  std::memset(out.data() + from, c, count);
  return from + count;
}

std::size_t asterisks(std::span<char> out, std::size_t w) { return fill(out, 0, w, '*'); }

// Right-justifies text in w; w asterisks when it is longer.
std::size_t justify(std::string_view text, std::size_t w, std::span<char> out) {
  if (text.size() > w) return asterisks(out, w);
  const std::size_t p = fill(out, 0, w - text.size(), ' ');
  std::memcpy(out.data() + p, text.data(), text.size());
  return w;
}

// Right-justifies a numeric text "[-]0.ddd..." or "[-]ddd.ddd": a text one
// character too long whose integer part is the lone "0" loses that "0".
std::size_t justify_number(std::string_view text, std::size_t w, std::span<char> out) {
  const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  const bool lone_zero = text.size() >= sign + 2 && text[sign] == '0' && text[sign + 1] == '.';
  if (text.size() == w + 1 && lone_zero) {
    std::size_t p = 0;
    if (sign) out[p++] = '-';
    const std::string_view rest = text.substr(sign + 1);
    std::memcpy(out.data() + p, rest.data(), rest.size());
    return w;
  }
  return justify(text, w, out);
}

std::string_view special_text(double x) {
  if (std::isnan(x)) return "NaN";
  return std::signbit(x) ? "-Inf" : "+Inf";
}

// Writes "E" (when `letter`), the sign of `exponent` and `digits` digits of
// its magnitude; returns the byte count. Requires |exponent| < 10^digits.
std::size_t write_exponent(int exponent, bool letter, int digits, char* out) {
  std::size_t p = 0;
  if (letter) out[p++] = 'E';
  out[p++] = exponent < 0 ? '-' : '+';
  unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
  for (int i = digits; i-- > 0;) {
    out[p + static_cast<std::size_t>(i)] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  assert(magnitude == 0);
  return p + static_cast<std::size_t>(digits);
}

int decimal_length(int magnitude) {
  int length = 1;
  while (magnitude >= 10) {
    magnitude /= 10;
    ++length;
  }
  return length;
}

// The exponent form of G: [-]0.<d digits> and the exponent x, in full width.
std::size_t edit_exponent_form(double x, int w, int d, int e, std::span<char> out) {
  char text[exponent_form_capacity];
  std::size_t length = 0;
  if (std::signbit(x)) text[length++] = '-';
  text[length++] = '0';
  text[length++] = '.';
  const int exponent = significant_digits(x, d, std::span<char>(text + length, static_cast<std::size_t>(d))).exponent;
  length += static_cast<std::size_t>(d);
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (e == absent) {
    if (magnitude <= 99) {
      length += write_exponent(exponent, true, 2, text + length);
    } else {
      assert(magnitude <= 9999);  // doubles reach 10^309 and 10^-323 at most
      length += write_exponent(exponent, false, magnitude <= 999 ? 3 : 4, text + length);
    }
  } else {
    if (decimal_length(magnitude) > e) return asterisks(out, static_cast<std::size_t>(w));
    length += write_exponent(exponent, true, e, text + length);
  }
  return justify_number(std::string_view(text, length), static_cast<std::size_t>(w), out);
}

// The F form inside G: F(w-n).places followed by n blanks.
std::size_t edit_fixed_form(double x, int w, int n, int places, std::span<char> out) {
  if (w <= n) return asterisks(out, static_cast<std::size_t>(w));
  const std::size_t used = edit_fixed(x, w - n, places, out);
  return fill(out, used, static_cast<std::size_t>(n), ' ');
}

}  // namespace

std::size_t edit_fixed(double x, int w, int d, std::span<char> out) {
  assert(w >= 1 && w <= max_field_width && d >= 0 && d <= max_field_width);
  assert(out.size() >= static_cast<std::size_t>(max_field_width));
  const std::size_t width = static_cast<std::size_t>(w);
  if (!std::isfinite(x)) return justify(special_text(x), width, out);
  // The text holds at least "0." and d digits; with the lone "0" dropped
  // that still needs d + 1 characters.
  if (d + 1 > w) return asterisks(out, width);
  char text[fixed_form_capacity];
  std::size_t length = 0;
  if (std::signbit(x)) text[length++] = '-';
  length += fixed_digits(x, d, std::span<char>(text + length, fixed_digits_capacity));
  return justify_number(std::string_view(text, length), width, out);
}

std::size_t edit_general(double x, int w, int d, int e, std::span<char> out) {
  assert(w >= 1 && w <= max_field_width && d >= 1 && d <= max_field_width);
  assert(e == absent || (e >= 1 && e <= max_field_width));
  assert(out.size() >= static_cast<std::size_t>(max_field_width));
  const int n = e == absent ? 4 : e + 2;
  if (std::isnan(x)) return justify("NaN", static_cast<std::size_t>(w), out);
  if (x == 0.0 || std::isinf(x)) return edit_fixed_form(x, w, n, d - 1, out);
  if (std::fpclassify(x) == FP_SUBNORMAL) return edit_exponent_form(x, w, d, e, out);
  // Rounding to d significant digits reaches 10^(k-1) exactly when the
  // magnitude is at least b(k) = 10^(k-1) * (1 - 0.5 * 10^-d): b(k) is the
  // midpoint below 10^(k-1), and a tie there rounds to the even 10^(k-1).
  // So the rounded exponent places the exact value against the boundaries.
  char digits[max_decimal_digits];
  const int exponent = significant_digits(x, d, digits).exponent;
  if (exponent >= 0 && exponent <= d) return edit_fixed_form(x, w, n, d - exponent, out);
  return edit_exponent_form(x, w, d, e, out);
}

}  // namespace blockeig::io
