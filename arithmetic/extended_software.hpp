#pragma once
// The x87 double-extended arithmetic in software, for machines without an
// x87 unit (and, selectable, on x86-64 to be checked against it).
//
// A SoftExt holds the bits of an x87 80-bit value: a 64-bit significand with
// an explicit integer bit and a sign with a 15-bit exponent (bias 16383).
// Every operation rounds its exact result once, to nearest with ties to even,
// into that format, with the x87 unit's exponent range (so intermediate
// results overflow and underflow where the unit's do, gradual underflow
// included) and the unit's NaNs: an invalid operation gives the "real
// indefinite" (negative, significand 0xC000000000000000); an operand NaN is
// passed on quieted; of two NaNs a quiet one wins over a signalling one, then
// the larger significand, then (equal significands) the positive one. A
// signalling NaN converted from a double is quieted, as the x87 load does.
//
// Conversion to double is explicit, rounded once to nearest even with the
// double's subnormals (the x87 store); conversions from double and from
// integers are exact and implicit, so that mixed expressions read as they do
// with a built-in extended type.
#include <bit>
#include <compare>
#include <concepts>
#include <cstdint>
#include <type_traits>

namespace blockeig {

class SoftExt {
 public:
  constexpr SoftExt() = default;  // +0
  // Exact; a signalling NaN is quieted.
  SoftExt(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto field = static_cast<std::uint16_t>((bits >> 52) & 0x7ff);
    if (field == 0 || field == 0x7ff) {
      *this = from_unusual_double(value);
      return;
    }
    m_ = std::uint64_t{1} << 63 | bits << 11;
    se_ = static_cast<std::uint16_t>((bits >> 48 & 0x8000) | (field - 1023 + 16383));
  }
  template <std::integral I>
    requires(std::is_signed_v<I> || sizeof(I) < sizeof(std::int64_t))
  SoftExt(I value) : SoftExt(from_integer(static_cast<std::int64_t>(value))) {}

  // Rounded once to nearest even, with double's subnormals and overflow to
  // infinity; a NaN keeps its sign and the top of its payload, quieted.
  explicit operator double() const {
    const int field = (se_ & 0x7fff) - 16383 + 1023;
    if (field < 1 || field > 0x7fe || (m_ >> 63) == 0) return unusual_double();
    // 53 bits, rounded to nearest even; a carry out of them moves into the
    // exponent (to infinity from the top binade), as the sum does.
    const std::uint64_t kept = m_ >> 11, lost = m_ & 0x7ff;
    const std::uint64_t up = lost > 0x400 || (lost == 0x400 && (kept & 1) != 0) ? 1 : 0;
    const std::uint64_t sign = static_cast<std::uint64_t>(se_ & 0x8000) << 48;
    return std::bit_cast<double>(sign | ((static_cast<std::uint64_t>(field) << 52) + kept + up - (std::uint64_t{1} << 52)));
  }

  // The x87 80-bit image: the significand (bit 63 the integer bit) and the
  // sign with the biased exponent.
  static SoftExt from_bits(std::uint16_t sign_exponent, std::uint64_t significand) {
    SoftExt x;
    x.m_ = significand;
    x.se_ = sign_exponent;
    return x;
  }
  std::uint64_t significand() const { return m_; }
  std::uint16_t sign_exponent() const { return se_; }

  friend SoftExt operator+(SoftExt a, SoftExt b);
  friend SoftExt operator-(SoftExt a, SoftExt b);
  friend SoftExt operator*(SoftExt a, SoftExt b);
  friend SoftExt operator/(SoftExt a, SoftExt b);
  friend SoftExt operator-(SoftExt a) { return from_bits(a.se_ ^ 0x8000, a.m_); }
  friend SoftExt operator+(SoftExt a) { return a; }
  SoftExt& operator+=(SoftExt b) { return *this = *this + b; }
  SoftExt& operator-=(SoftExt b) { return *this = *this - b; }
  SoftExt& operator*=(SoftExt b) { return *this = *this * b; }
  SoftExt& operator/=(SoftExt b) { return *this = *this / b; }

  // IEEE comparisons: a NaN is unordered with everything (every relation
  // false but !=), -0 equals +0.
  friend bool operator==(SoftExt a, SoftExt b) { return compare(a, b) == 0; }
  friend std::partial_ordering operator<=>(SoftExt a, SoftExt b) { return compare(a, b); }

 private:
  static SoftExt from_integer(std::int64_t value);
  // The conversions above for what they leave: a double that is zero,
  // subnormal, infinite or a NaN, and a value that is not a normal double
  // (below its range, above it, infinite, NaN or an encoding the x87 unit
  // refuses).
  static SoftExt from_unusual_double(double value);
  double unusual_double() const;
  static std::partial_ordering compare(SoftExt a, SoftExt b);

  std::uint64_t m_ = 0;
  std::uint16_t se_ = 0;
};

inline SoftExt fabs(SoftExt a) { return SoftExt::from_bits(a.sign_exponent() & 0x7fff, a.significand()); }
SoftExt sqrt(SoftExt a);

}  // namespace blockeig
