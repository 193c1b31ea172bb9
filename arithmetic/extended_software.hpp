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
#include <utility>

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

  // Sums, differences and products of two normal values whose result is
  // normal are formed here, inline; every other case (zeros, denormals,
  // infinities, NaNs, a result that underflows or overflows) by the general
  // routines.
  [[gnu::always_inline]] friend SoftExt operator+(SoftExt a, SoftExt b) {
    SoftExt r;
    return normal_pair(a, b) && add_normal(a, b.se_, b.m_, r) ? r : add(a, b);
  }
  [[gnu::always_inline]] friend SoftExt operator-(SoftExt a, SoftExt b) {
    SoftExt r;
    return normal_pair(a, b) && add_normal(a, b.se_ ^ 0x8000, b.m_, r) ? r : subtract(a, b);
  }
  [[gnu::always_inline]] friend SoftExt operator*(SoftExt a, SoftExt b) {
    SoftExt r;
    return normal_pair(a, b) && multiply_normal(a, b, r) ? r : multiply(a, b);
  }
  friend SoftExt operator/(SoftExt a, SoftExt b);
  friend SoftExt operator-(SoftExt a) { return from_bits(a.se_ ^ 0x8000, a.m_); }
  friend SoftExt operator+(SoftExt a) { return a; }
  [[gnu::always_inline]] SoftExt& operator+=(SoftExt b) { return *this = *this + b; }
  [[gnu::always_inline]] SoftExt& operator-=(SoftExt b) { return *this = *this - b; }
  [[gnu::always_inline]] SoftExt& operator*=(SoftExt b) { return *this = *this * b; }
  SoftExt& operator/=(SoftExt b) { return *this = *this / b; }

  // IEEE comparisons: a NaN is unordered with everything (every relation
  // false but !=), -0 equals +0.
  friend bool operator==(SoftExt a, SoftExt b) {
    return normal_pair(a, b) ? a.m_ == b.m_ && a.se_ == b.se_ : compare(a, b) == 0;
  }
  friend std::partial_ordering operator<=>(SoftExt a, SoftExt b) {
    if (!normal_pair(a, b)) return compare(a, b);
    const bool negative = (a.se_ & 0x8000) != 0;
    if (negative != ((b.se_ & 0x8000) != 0)) return negative ? std::partial_ordering::less : std::partial_ordering::greater;
    const auto fa = a.se_ & 0x7fff, fb = b.se_ & 0x7fff;
    const std::strong_ordering magnitude = fa != fb ? fa <=> fb : a.m_ <=> b.m_;
    return negative ? 0 <=> magnitude : magnitude;
  }

 private:
  using u128 = unsigned __int128;

  // Both values normal: a biased exponent of 1..0x7ffe and the integer bit.
  [[gnu::always_inline]] static bool normal_pair(SoftExt a, SoftExt b) {
    return static_cast<unsigned>((a.se_ & 0x7fff) - 1) < 0x7ffe && static_cast<unsigned>((b.se_ & 0x7fff) - 1) < 0x7ffe &&
           (a.m_ & b.m_) >> 63 != 0;
  }

  // sig 2^(field - 16383 - 127), sig with its top bit set and field >= 1,
  // rounded to nearest even into r; false when the result overflows.
  [[gnu::always_inline]] static bool round_normal(std::uint16_t sign, int field, u128 sig, SoftExt& r) {
    auto m = static_cast<std::uint64_t>(sig >> 64);
    const auto rest = static_cast<std::uint64_t>(sig);
    constexpr std::uint64_t half = std::uint64_t{1} << 63;
    if ((rest > half || (rest == half && (m & 1) != 0)) && ++m == 0) {
      m = half;
      ++field;
    }
    if (field > 0x7ffe) return false;
    r = from_bits(static_cast<std::uint16_t>(sign | field), m);
    return true;
  }

  // a + b for normal a and b (b's sign and exponent in b_se); false, r
  // untouched, when the result is denormal or overflows. The operands are
  // taken larger first; the smaller one's significand is aligned into a word
  // beside the larger one's and a word below it. Bits shifted out of both
  // (only for shifts above 64) are kept as a sticky bit 0 of the lower word;
  // a difference then loses at most one leading bit, so the sticky bit stays
  // far below the rounding position.
  [[gnu::always_inline]] static bool add_normal(SoftExt a, std::uint16_t b_se, std::uint64_t b_m, SoftExt& r) {
    int fa = a.se_ & 0x7fff, fb = b_se & 0x7fff;
    std::uint64_t ma = a.m_, mb = b_m;
    std::uint16_t sa = a.se_ & 0x8000, sb = b_se & 0x8000;
    if (fa < fb || (fa == fb && ma < mb)) {
      std::swap(fa, fb), std::swap(ma, mb), std::swap(sa, sb);
    }
    const int shift = fa - fb;
    std::uint64_t high = mb, low = 0;  // mb 2^-shift as high + low 2^-64, the rest as sticky bit 0 of low
    if (shift >= 128) {
      high = 0, low = 1;
    } else if (shift > 64) {
      high = 0, low = (mb >> (shift - 64)) | ((mb << (128 - shift)) != 0 ? 1 : 0);
    } else if (shift == 64) {
      high = 0, low = mb;
    } else if (shift > 0) {
      high = mb >> shift, low = mb << (64 - shift);
    }
    if (sa == sb) {
      std::uint64_t sum;
      if (!__builtin_add_overflow(ma, high, &sum)) return round_normal(sa, fa, static_cast<u128>(sum) << 64 | low, r);
      // The carry: one place to the right, the bit shifted out kept as sticky.
      const u128 wide = (static_cast<u128>(sum) << 63 | low >> 1 | (low & 1)) | static_cast<u128>(1) << 127;
      return round_normal(sa, fa + 1, wide, r);
    }
    const u128 difference = (static_cast<u128>(ma) << 64) - (static_cast<u128>(high) << 64 | low);
    if (difference == 0) {
      r = SoftExt();  // exact cancellation gives +0
      return true;
    }
    const auto upper = static_cast<std::uint64_t>(difference >> 64);
    const int zeros = upper != 0 ? std::countl_zero(upper) : 64 + std::countl_zero(static_cast<std::uint64_t>(difference));
    const int field = fa - zeros;
    return field >= 1 && round_normal(sa, field, difference << zeros, r);
  }

  [[gnu::always_inline]] static bool multiply_normal(SoftExt a, SoftExt b, SoftExt& r) {
    u128 product = static_cast<u128>(a.m_) * b.m_;
    const int top = static_cast<int>(product >> 127);
    product <<= 1 - top;
    const int field = (a.se_ & 0x7fff) + (b.se_ & 0x7fff) - 16383 + top;
    return field >= 1 && round_normal((a.se_ ^ b.se_) & 0x8000, field, product, r);
  }

  // The general operations: every operand and result.
  static SoftExt add(SoftExt a, SoftExt b);
  static SoftExt subtract(SoftExt a, SoftExt b);
  static SoftExt multiply(SoftExt a, SoftExt b);
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
