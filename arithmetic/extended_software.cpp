// The x87 double-extended arithmetic on integers: each operation forms its
// result exactly (or exactly enough to round it: a 128-bit significand whose
// lowest bit records whether anything below it was lost) and rounds it once.
#include "arithmetic/extended_software.hpp"

#include <bit>
#include <cmath>
#include <compare>
#include <utility>

namespace blockeig {

namespace {

using u128 = unsigned __int128;

constexpr int bias = 16383;
constexpr int max_field = 0x7fff;
constexpr std::uint16_t sign_bit = 0x8000;
constexpr std::uint64_t integer_bit = std::uint64_t{1} << 63;
constexpr std::uint64_t quiet_bit = std::uint64_t{1} << 62;

enum class Kind { zero, finite, infinity, nan, unsupported };

// An operand taken apart. A finite non-zero value is m * 2^(e - 63) with the
// top bit of m set (denormals are normalized here, so e may lie below the
// smallest normal exponent). Encodings the x87 unit refuses (an exponent
// without the integer bit) are `unsupported`.
struct Parts {
  Kind kind;
  bool negative;
  int e;
  std::uint64_t m;
};

Parts unpack(SoftExt x) {
  const std::uint64_t m = x.significand();
  const bool negative = (x.sign_exponent() & sign_bit) != 0;
  const int field = x.sign_exponent() & max_field;
  if (field == max_field) {
    if ((m & integer_bit) == 0) return {Kind::unsupported, negative, 0, m};
    return {m == integer_bit ? Kind::infinity : Kind::nan, negative, 0, m};
  }
  if (field == 0) {
    if (m == 0) return {Kind::zero, negative, 0, 0};
    const int shift = std::countl_zero(m);
    return {Kind::finite, negative, 1 - bias - shift, m << shift};
  }
  if ((m & integer_bit) == 0) return {Kind::unsupported, negative, 0, m};
  return {Kind::finite, negative, field - bias, m};
}

SoftExt pack(bool negative, int field, std::uint64_t m) {
  return SoftExt::from_bits(static_cast<std::uint16_t>((negative ? sign_bit : 0) | field), m);
}
SoftExt zero(bool negative) { return pack(negative, 0, 0); }
SoftExt infinity(bool negative) { return pack(negative, max_field, integer_bit); }
// The x87 unit's answer to an invalid operation.
SoftExt indefinite() { return SoftExt::from_bits(0xffff, 0xc000'0000'0000'0000); }

// floor(n / d) for n < d 2^64, and the remainder: one divide instruction on
// x86-64, the compiler's 128-bit division elsewhere.
std::uint64_t divide(u128 n, std::uint64_t d, std::uint64_t& remainder) {
#if defined(__x86_64__)
  std::uint64_t quotient;
  __asm__("divq %[d]"
          : "=a"(quotient), "=d"(remainder)
          : "a"(static_cast<std::uint64_t>(n)), "d"(static_cast<std::uint64_t>(n >> 64)), [d] "rm"(d));
  return quotient;
#else
  remainder = static_cast<std::uint64_t>(n % d);
  return static_cast<std::uint64_t>(n / d);
#endif
}

int leading_zeros(u128 x) {
  const auto high = static_cast<std::uint64_t>(x >> 64);
  return high != 0 ? std::countl_zero(high) : 64 + std::countl_zero(static_cast<std::uint64_t>(x));
}

// x shifted right by n >= 0 bits, with bit 0 set when a set bit was shifted
// out. The kept bits lie at least two places above the rounding position
// wherever this is used, so the jammed bit decides only "exactly half" from
// "more than half" and cannot make a tie where there was none.
u128 shift_right_jam(u128 x, int n) {
  if (n == 0) return x;
  if (n >= 128) return x != 0 ? 1 : 0;
  return (x >> n) | ((x << (128 - n)) != 0 ? 1 : 0);
}

// The value sig * 2^(e - 127), sig with its top bit set, rounded to nearest
// even into the format: denormal below the normal range, infinity above it.
SoftExt round_pack(bool negative, int e, u128 sig) {
  int field = e + bias;
  if (field <= 0) {
    sig = shift_right_jam(sig, 1 - field);
    field = 0;
  }
  auto m = static_cast<std::uint64_t>(sig >> 64);
  const auto rest = static_cast<std::uint64_t>(sig);
  constexpr std::uint64_t half = std::uint64_t{1} << 63;
  if (rest > half || (rest == half && (m & 1) != 0)) {
    if (++m == 0) {
      m = integer_bit;
      ++field;
    } else if (field == 0 && m == integer_bit) {
      field = 1;  // a denormal rounded up to the smallest normal
    }
  }
  if (field >= max_field) return infinity(negative);
  return pack(negative, field, m);
}

SoftExt canonical(const Parts& a) { return round_pack(a.negative, a.e, static_cast<u128>(a.m) << 64); }

SoftExt quieted(SoftExt x) { return SoftExt::from_bits(x.sign_exponent(), x.significand() | quiet_bit); }

// The NaN of an operation with at least one NaN operand and no unsupported
// one: a quiet NaN wins over a signalling one, then the larger significand,
// then the positive sign.
SoftExt propagate(SoftExt x, const Parts& a, SoftExt y, const Parts& b) {
  if (a.kind != Kind::nan) return quieted(y);
  if (b.kind != Kind::nan) return quieted(x);
  const bool quiet_x = (x.significand() & quiet_bit) != 0;
  const bool quiet_y = (y.significand() & quiet_bit) != 0;
  if (quiet_x != quiet_y) return quiet_x ? x : y;
  if (x.significand() != y.significand()) return quieted(x.significand() > y.significand() ? x : y);
  return quieted(a.negative ? y : x);
}

bool unordered(const Parts& a, const Parts& b) {
  return a.kind == Kind::nan || b.kind == Kind::nan || a.kind == Kind::unsupported || b.kind == Kind::unsupported;
}

// NaN and unsupported operands of a binary operation.
SoftExt unordered_result(SoftExt x, const Parts& a, SoftExt y, const Parts& b) {
  if (a.kind == Kind::unsupported || b.kind == Kind::unsupported) return indefinite();
  return propagate(x, a, y, b);
}

// |a| >= |b|, both finite and non-zero.
bool larger_magnitude(const Parts& a, const Parts& b) { return a.e > b.e || (a.e == b.e && a.m >= b.m); }

SoftExt add_finite(Parts a, Parts b) {
  if (!larger_magnitude(a, b)) std::swap(a, b);
  const u128 big = static_cast<u128>(a.m) << 63;
  const u128 small = shift_right_jam(static_cast<u128>(b.m) << 63, a.e - b.e);
  const u128 sum = a.negative == b.negative ? big + small : big - small;
  if (sum == 0) return zero(false);  // exact cancellation gives +0
  const int shift = leading_zeros(sum);
  return round_pack(a.negative, a.e + 1 - shift, sum << shift);
}

// a + b where b's sign is already that of the operand added (negated for a
// subtraction); NaN and unsupported operands are handled by the caller.
SoftExt add_ordered(const Parts& a, const Parts& b) {
  if (a.kind == Kind::finite && b.kind == Kind::finite) return add_finite(a, b);
  if (a.kind == Kind::infinity || b.kind == Kind::infinity) {
    if (a.kind == Kind::infinity && b.kind == Kind::infinity && a.negative != b.negative) return indefinite();
    return infinity(a.kind == Kind::infinity ? a.negative : b.negative);
  }
  if (a.kind == Kind::zero && b.kind == Kind::zero) return zero(a.negative && b.negative);
  return canonical(a.kind == Kind::zero ? b : a);
}

}  // namespace

SoftExt SoftExt::from_unusual_double(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const std::uint64_t fraction = bits & 0x000f'ffff'ffff'ffff;
  if ((bits & 0x7ff0'0000'0000'0000) != 0)  // infinite or a NaN, quieted
    return fraction == 0 ? infinity(negative) : pack(negative, max_field, integer_bit | quiet_bit | fraction << 11);
  if (fraction == 0) return zero(negative);
  // Subnormal: fraction * 2^-1074, normalized.
  const int shift = std::countl_zero(fraction);
  return pack(negative, -1011 - shift + bias, fraction << shift);
}

SoftExt SoftExt::from_integer(std::int64_t value) {
  if (value == 0) return SoftExt();
  const bool negative = value < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const int shift = std::countl_zero(magnitude);
  return pack(negative, 63 - shift + bias, magnitude << shift);
}

double SoftExt::unusual_double() const {
  const Parts a = unpack(*this);
  const std::uint64_t sign = a.negative ? std::uint64_t{1} << 63 : 0;
  constexpr std::uint64_t exponent_mask = 0x7ff0'0000'0000'0000;
  constexpr std::uint64_t fraction_mask = 0x000f'ffff'ffff'ffff;
  constexpr std::uint64_t double_quiet = std::uint64_t{1} << 51;
  std::uint64_t bits = sign;
  switch (a.kind) {
    case Kind::zero: break;
    case Kind::infinity: bits |= exponent_mask; break;
    case Kind::nan: bits |= exponent_mask | double_quiet | ((a.m >> 11) & fraction_mask); break;
    case Kind::unsupported: bits = 0xfff8'0000'0000'0000; break;
    case Kind::finite: {
      const int field = a.e + 1023;
      if (field >= 1) {  // a normal exponent is left only by one above double's range
        bits |= exponent_mask;
        break;
      }
      // Below the normal range: the 52 - (1 - field) bits of a subnormal,
      // rounded to nearest even; a carry into bit 52 makes the smallest
      // normal.
      const int shift = 12 - field;
      std::uint64_t kept = shift < 64 ? a.m >> shift : 0;
      const std::uint64_t lost = shift < 64 ? a.m << (64 - shift) : (shift == 64 ? a.m : 1);
      constexpr std::uint64_t half = std::uint64_t{1} << 63;
      if (lost > half || (lost == half && (kept & 1) != 0)) ++kept;
      bits |= kept;
      break;
    }
  }
  return std::bit_cast<double>(bits);
}

SoftExt SoftExt::add(SoftExt x, SoftExt y) {
  const Parts a = unpack(x), b = unpack(y);
  if (unordered(a, b)) return unordered_result(x, a, y, b);
  return add_ordered(a, b);
}

SoftExt SoftExt::subtract(SoftExt x, SoftExt y) {
  const Parts a = unpack(x);
  Parts b = unpack(y);
  if (unordered(a, b)) return unordered_result(x, a, y, b);
  b.negative = !b.negative;
  return add_ordered(a, b);
}

SoftExt SoftExt::multiply(SoftExt x, SoftExt y) {
  const Parts a = unpack(x), b = unpack(y);
  if (unordered(a, b)) return unordered_result(x, a, y, b);
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::finite && b.kind == Kind::finite) {
    const u128 product = static_cast<u128>(a.m) * b.m;
    const int shift = product >> 127 ? 0 : 1;
    return round_pack(negative, a.e + b.e + 1 - shift, product << shift);
  }
  if (a.kind == Kind::infinity || b.kind == Kind::infinity) {
    if (a.kind == Kind::zero || b.kind == Kind::zero) return indefinite();
    return infinity(negative);
  }
  return zero(negative);
}

SoftExt operator/(SoftExt x, SoftExt y) {
  const Parts a = unpack(x), b = unpack(y);
  if (unordered(a, b)) return unordered_result(x, a, y, b);
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::finite && b.kind == Kind::finite) {
    // A 65-bit quotient (64 bits and the rounding bit) and a sticky remainder.
    const bool carry = a.m >= b.m;
    std::uint64_t rest = 0;
    u128 quotient = divide(static_cast<u128>(carry ? a.m - b.m : a.m) << 64, b.m, rest);
    if (carry) quotient |= static_cast<u128>(1) << 64;
    u128 remainder = rest;
    int e = a.e - b.e;
    if (a.m < b.m) {
      remainder <<= 1;
      const bool bit = remainder >= b.m;
      if (bit) remainder -= b.m;
      quotient = quotient << 1 | (bit ? 1 : 0);
      --e;
    }
    return round_pack(negative, e, quotient << 63 | (remainder != 0 ? 1 : 0));
  }
  const bool a_infinite = a.kind == Kind::infinity, b_infinite = b.kind == Kind::infinity;
  if ((a_infinite && b_infinite) || (a.kind == Kind::zero && b.kind == Kind::zero)) return indefinite();
  if (a_infinite || b.kind == Kind::zero) return infinity(negative);
  return zero(negative);
}

SoftExt sqrt(SoftExt x) {
  const Parts a = unpack(x);
  switch (a.kind) {
    case Kind::unsupported: return indefinite();
    case Kind::nan: return quieted(x);
    case Kind::zero: return x;
    case Kind::infinity: return a.negative ? indefinite() : x;
    case Kind::finite: break;
  }
  if (a.negative) return indefinite();
  // x = m 2^k; with n = m 2^s in [2^126, 2^128) and k - s even, the root is
  // sqrt(n) 2^((k - s)/2), sqrt(n) in [2^63, 2^64).
  const int k = a.e - 63;
  const int s = (k & 1) != 0 ? 63 : 64;
  const u128 n = static_cast<u128>(a.m) << s;
  // A first root from n's upper half (n >= 2^126: within 2^-52 of it), one
  // Newton step (from above: floor(sqrt(n)) or one more), then the floor.
  const double first = std::sqrt(static_cast<double>(static_cast<std::uint64_t>(n >> 64)) * 0x1p64);
  std::uint64_t r = first >= 0x1p64 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(first);
  if (r >= integer_bit && (n >> 64) < r) {  // n / r below 2^64: one divide
    std::uint64_t rest = 0;
    r = static_cast<std::uint64_t>((static_cast<u128>(r) + divide(n, r, rest)) / 2);
  } else {
    const u128 next = (static_cast<u128>(r) + n / r) / 2;
    r = next > ~std::uint64_t{0} ? ~std::uint64_t{0} : static_cast<std::uint64_t>(next);
  }
  const auto square = [](std::uint64_t x) { return static_cast<u128>(x) * x; };
  while (square(r) > n) --r;
  while (r != ~std::uint64_t{0} && square(r + 1) <= n) ++r;
  // sqrt(n) >= r + 1/2 exactly when n - r^2 > r (never equal: no ties).
  int field = (k - s) / 2 + 63 + bias;
  if (n - square(r) > r && ++r == 0) {
    r = integer_bit;
    ++field;
  }
  return pack(false, field, r);
}

std::partial_ordering SoftExt::compare(SoftExt x, SoftExt y) {
  const Parts a = unpack(x), b = unpack(y);
  if (unordered(a, b)) return std::partial_ordering::unordered;
  // Zeros of either sign are 0, the rest their sign; within one sign the
  // magnitudes order the values (an infinity above every finite one).
  const auto signum = [](const Parts& p) { return p.kind == Kind::zero ? 0 : (p.negative ? -1 : 1); };
  const int sa = signum(a), sb = signum(b);
  if (sa != sb || sa == 0) return sa <=> sb;
  const bool infinite_a = a.kind == Kind::infinity, infinite_b = b.kind == Kind::infinity;
  std::strong_ordering magnitude = infinite_a <=> infinite_b;
  if (magnitude == 0 && !infinite_a) magnitude = a.e != b.e ? a.e <=> b.e : a.m <=> b.m;
  return sa > 0 ? magnitude : 0 <=> magnitude;
}

}  // namespace blockeig
