// The software extended type against the x87 unit itself: every operation on
// operands drawn to hit the hard cases (ties and near-ties, carries into the
// next binade, cancellation, overflow and underflow of the extended range,
// denormals, subnormal doubles, infinities, NaNs of both kinds and signs),
// compared bit for bit. BLOCKEIG_EXTENDED_CHECKS sets the number of operand
// sets per operation.
#include "arithmetic/extended_software.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arithmetic/extended.hpp"
#include "support/x87_unit.hpp"

#if defined(__x86_64__)

namespace blockeig {
namespace {

using x87 = x87_unit;

struct Bits {
  std::uint16_t se;
  std::uint64_t m;
  bool operator==(const Bits&) const = default;
};

Bits bits(SoftExt x) { return {x.sign_exponent(), x.significand()}; }
Bits bits(x87 x) {
  Bits b{};
  std::memcpy(&b.m, &x, 8);
  std::memcpy(&b.se, reinterpret_cast<const char*>(&x) + 8, 2);
  return b;
}
x87 hardware(Bits b) {
  x87 x = 0;
  std::memcpy(&x, &b.m, 8);
  std::memcpy(reinterpret_cast<char*>(&x) + 8, &b.se, 2);
  return x;
}
SoftExt software(Bits b) { return SoftExt::from_bits(b.se, b.m); }

std::string hex(Bits b) {
  char text[32];
  std::snprintf(text, sizeof text, "%04x:%016llx", b.se, static_cast<unsigned long long>(b.m));
  return text;
}

// The software build, whose every result comes from SoftExt, checks 2*10^7
// operand sets per operation (a loaded machine still ends well inside the
// test's time limit; BLOCKEIG_EXTENDED_CHECKS=100000000 for a longer hunt,
// and the fuzzing target goes on from its corpus); the x87 build checks it
// more briefly.
long checks() {
  const char* text = std::getenv("BLOCKEIG_EXTENDED_CHECKS");
  if (text != nullptr) return std::atol(text);
  return extended_arithmetic == "software" ? 20'000'000 : 1'000'000;
}

// splitmix64: fast, and the same sequence everywhere.
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
};

constexpr int bias = 16383;
constexpr std::uint64_t top = std::uint64_t{1} << 63;

// Significands that make exact results, ties and carries likely: few
// leading bits, runs of ones, or all random.
std::uint64_t significand(Random& r) {
  const std::uint64_t x = r.next();
  switch (r.below(8)) {
    case 0: return top | (x << r.below(64));                         // random top, zero tail
    case 1: return top | (x >> r.below(64) >> 1);                    // sparse
    case 2: return ~std::uint64_t{0} << r.below(64);                 // ones, then zeros
    case 3: return top | (~std::uint64_t{0} >> (1 + r.below(63)));   // 1 0..0 1..1
    case 4: return top | (std::uint64_t{1} << r.below(63));          // two bits
    default: return top | x;
  }
}

// Exponent fields: mostly near 1.0 (where the program lives), often at the
// ends of the range, sometimes anywhere.
int exponent_field(Random& r) {
  switch (r.below(6)) {
    case 0: return 1 + r.below(140);
    case 1: return 0x7ffe - r.below(140);
    case 2: return 1 + r.below(0x7ffe);
    default: return bias - 1100 + r.below(2200);
  }
}

Bits from_double_bits(std::uint64_t d) { return bits(static_cast<x87>(std::bit_cast<double>(d))); }

// One operand of any class the unit knows.
Bits operand(Random& r) {
  const std::uint16_t sign = r.below(2) != 0 ? 0x8000 : 0;
  switch (r.below(16)) {
    case 0: return from_double_bits(r.next());                        // any double, NaNs included
    case 1: return from_double_bits(r.next() >> r.below(12) >> 1);    // subnormal and small doubles
    case 2: return {sign, 0};                                          // zero
    case 3: return {static_cast<std::uint16_t>(sign | 0x7fff), top};   // infinity
    case 4: return {static_cast<std::uint16_t>(sign | 0x7fff), top | (r.next() >> 1)};  // NaN, quiet or not
    case 5: return {sign, significand(r) >> (1 + r.below(63))};       // denormal
    case 6: return {sign, significand(r)};                             // pseudo-denormal
    case 7:  // an exponent without the integer bit: the unit refuses it
      return {static_cast<std::uint16_t>(sign | (r.below(4) != 0 ? exponent_field(r) : 0x7fff)), r.next() >> 1};
    default: return {static_cast<std::uint16_t>(sign | exponent_field(r)), significand(r)};
  }
}

Bits with_field(Bits b, int field) {
  if (field < 1 || field > 0x7ffe) field = 1 + (field & 0x3fff);
  return {static_cast<std::uint16_t>((b.se & 0x8000) | field), b.m};
}

// A second operand placed for the operation: near the first one's exponent
// (aligned sums, cancellation), at an offset that makes the result overflow
// or underflow, or independent.
Bits partner(Random& r, Bits a, char op) {
  const int field = a.se & 0x7fff;
  switch (r.below(4)) {
    case 0: {
      Bits b = operand(r);
      if ((a.se & 0x7fff) == 0x7fff || (b.se & 0x7fff) == 0x7fff || field == 0) return b;
      const int offset = r.below(140) - 70;
      if (op == '+' || op == '-') return with_field(b, field + offset);
      // Products and quotients near the ends of the range.
      const int target = r.below(2) != 0 ? 0x7ffe - r.below(80) + 40 : 1 - r.below(80) + 40;
      return with_field(b, op == '*' ? target - field + bias : field - target + bias);
    }
    case 1: {
      // a itself, its negation, or a neighbour: cancellation and exact results.
      Bits b = a;
      if (r.below(2) != 0) b.se ^= 0x8000;
      if (r.below(2) != 0 && field != 0 && field != 0x7fff) b.m = (b.m + (r.below(2) != 0 ? 1 : -1)) | top;
      return b;
    }
    default: return operand(r);
  }
}

// Compares one operation on `checks()` operand sets, reporting the first
// differences.
template <class Check>
void compare(std::uint64_t seed, Check&& check) {
  Random r{seed};
  int failures = 0;
  const long count = checks();
  for (long i = 0; i < count && failures < 10; ++i)
    if (const std::string difference = check(r); !difference.empty()) {
      ADD_FAILURE() << difference;
      ++failures;
    }
}

template <class Soft, class Hard>
void binary(char op, std::uint64_t seed, Soft&& soft, Hard&& hard) {
  set_extended_environment();
  compare(seed, [&](Random& r) -> std::string {
    const Bits a = operand(r), b = partner(r, a, op);
    const Bits want = bits(hard(hardware(a), hardware(b)));
    const Bits got = bits(soft(software(a), software(b)));
    if (got == want) return "";
    return hex(a) + " " + op + " " + hex(b) + ": x87 " + hex(want) + ", software " + hex(got);
  });
}

// The unit's answers, kept out of the compiler's reach.
__attribute__((noinline)) x87 hard_add(x87 a, x87 b) { return a + b; }
__attribute__((noinline)) x87 hard_sub(x87 a, x87 b) { return a - b; }
__attribute__((noinline)) x87 hard_mul(x87 a, x87 b) { return a * b; }
__attribute__((noinline)) x87 hard_div(x87 a, x87 b) { return a / b; }
__attribute__((noinline)) x87 hard_sqrt(x87 a) { return x87_unit_sqrt(a); }

TEST(SoftExt, AdditionAsTheX87) { binary('+', 1, [](SoftExt a, SoftExt b) { return a + b; }, hard_add); }
TEST(SoftExt, SubtractionAsTheX87) { binary('-', 2, [](SoftExt a, SoftExt b) { return a - b; }, hard_sub); }
TEST(SoftExt, MultiplicationAsTheX87) { binary('*', 3, [](SoftExt a, SoftExt b) { return a * b; }, hard_mul); }
TEST(SoftExt, DivisionAsTheX87) { binary('/', 4, [](SoftExt a, SoftExt b) { return a / b; }, hard_div); }

TEST(SoftExt, SquareRootNegationAndAbsoluteValueAsTheX87) {
  set_extended_environment();
  compare(5, [](Random& r) -> std::string {
    const Bits a = operand(r);
    const SoftExt x = software(a);
    const x87 h = hardware(a);
    for (const auto& [name, got, want] :
         {std::tuple{"sqrt", bits(sqrt(x)), bits(hard_sqrt(h))}, std::tuple{"-", bits(-x), bits(-h)},
          std::tuple{"fabs", bits(fabs(x)), bits(__builtin_fabsl(h))}})
      if (!(got == want)) return std::string(name) + " " + hex(a) + ": x87 " + hex(want) + ", software " + hex(got);
    return "";
  });
}

TEST(SoftExt, ComparisonsAsTheX87) {
  compare(6, [](Random& r) -> std::string {
    const Bits a = operand(r), b = partner(r, a, '-');
    const SoftExt x = software(a), y = software(b);
    const volatile x87 h = hardware(a), k = hardware(b);
    const int got = (x < y) | (x <= y) << 1 | (x > y) << 2 | (x >= y) << 3 | (x == y) << 4 | (x != y) << 5;
    const int want = (h < k) | (h <= k) << 1 | (h > k) << 2 | (h >= k) << 3 | (h == k) << 4 | (h != k) << 5;
    if (got == want) return "";
    return hex(a) + " vs " + hex(b) + ": x87 " + std::to_string(want) + ", software " + std::to_string(got);
  });
}

// To double (the store, rounded once with subnormals and overflow), and
// from double and from 64-bit integers (exact, a signalling NaN quieted).
TEST(SoftExt, ConversionsAsTheX87) {
  set_extended_environment();
  compare(7, [](Random& r) -> std::string {
    const Bits a = r.below(2) != 0 ? operand(r) : with_field(operand(r), 0x3c00 + r.below(0x800));
    const double want = static_cast<double>(hardware(a)), got = static_cast<double>(software(a));
    if (std::bit_cast<std::uint64_t>(want) != std::bit_cast<std::uint64_t>(got))
      return "to double " + hex(a) + ": x87 " + std::to_string(want) + ", software " + std::to_string(got);
    const std::uint64_t d = r.next() >> r.below(3) * 20;
    const double v = std::bit_cast<double>(d);
    if (!(bits(SoftExt(v)) == bits(static_cast<x87>(v)))) return "from double " + std::to_string(v);
    const auto i = static_cast<std::int64_t>(r.next() >> r.below(64));
    const std::int64_t n = r.below(2) != 0 ? i : -i;
    if (!(bits(SoftExt(n)) == bits(static_cast<x87>(n)))) return "from integer " + std::to_string(n);
    return "";
  });
}

}  // namespace
}  // namespace blockeig

#endif
