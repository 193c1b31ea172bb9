#pragma once
// The lane algorithms of arithmetic/extended_lanes.hpp, written once for
// every instruction set: LaneAlgorithms<Isa> for an Isa that offers
//   width          lanes per vector
//   d, i, u        vectors of double, int64, uint64 (GCC vector extensions)
//   fms(a, b, c)   a*b - c rounded once
//   any(i m)       some lane of m has its sign bit set
//   gather(p, s)   p[0], p[s], p[2s], ... in the lanes
//   binade(h, l)   the exponent field (in place, as bits) of the binade of
//                  the exact value h + l, h its rounding to double
//   registers      vector registers of the set
//   magnitude(u x) |x| of x taken as a signed integer (2^63 for -2^63), or
//   exponents_between(d x, d y), the exponent gap of accumulate read its own
//                  way (see exponents_between below)
// and a unit of each instruction set that includes this header, together
// with its Isa, inside a region that gives every function defined in it the
// set's target attribute (`#pragma GCC push_options` and `#pragma GCC
// target`, or clang's `#pragma clang attribute push`, to the pop): a
// template gets the target of the place where it is defined, not of the
// place where it is instantiated, and the vector code must be compiled for
// the set, not lowered for the baseline and inlined afterwards. Such a unit includes
// everything this header includes before the push_options, so that no
// inline function shared with other units (the library's, SoftExt's) is
// compiled for the set; what is defined here is private to that unit
// (LaneAlgorithms<Isa> of a unit's own Isa).
//
// The unit hands out the entry points with kernels_of<LaneAlgorithms<Isa>>
// (arithmetic/extended_lanes.hpp), outside the target region: the code that
// chooses the kernels runs on every processor.
//
// The arithmetic and the certificate behind it: docs/extended.md.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "arithmetic/extended_lanes.hpp"

namespace blockeig::lanes {

template <class Isa>
struct LaneAlgorithms {
  using d = typename Isa::d;
  using i = typename Isa::i;
  using u = typename Isa::u;
  static constexpr int width = Isa::width;

  [[gnu::always_inline]] static d load(const double* p) {
    d v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  [[gnu::always_inline]] static void store(double* p, d v) { std::memcpy(p, &v, sizeof v); }
  // x in every lane (x - 0 is x, -0 included).
  [[gnu::always_inline]] static d splat(double x) { return x - d{}; }
  [[gnu::always_inline]] static u bits(d x) { return (u)x; }
  [[gnu::always_inline]] static d from_bits(u x) { return (d)x; }
  [[gnu::always_inline]] static d magnitude(d x) { return from_bits(bits(x) & 0x7fff'ffff'ffff'ffff); }

  // An extended value per lane: hi + lo exactly.
  struct Pair {
    d hi, lo;
  };

  // Added to an exponent field e << 52: the double 1.5 * 2^(e - 1023 - 11),
  // that is 1.5 * 2^52 times the 64-bit ulp of a value in that binade.
  static constexpr std::uint64_t rounding_offset = (std::uint64_t{1} << 51) - (std::uint64_t{11} << 52);

  // The exponent field of the binade of the value hi + lo (hi its rounding to
  // double): hi's, one lower when hi is a power of two and lo takes the value
  // below it.
  [[gnu::always_inline]] static u binade(d hi, d lo) { return Isa::binade(hi, lo); }

  // The double 1.5 * 2^52 times the 64-bit ulp of a value in that binade:
  // adding it to lo and taking it away again rounds lo to a multiple of that
  // ulp, ties to even (hi, a multiple of twice the ulp, does not change the
  // parity).
  [[gnu::always_inline]] static d rounding_constant(u binade_bits) { return from_bits(binade_bits + rounding_offset); }

  // lo rounded to a multiple of the 64-bit ulp of hi + lo, -0 for zero (so
  // that hi + lo is hi, signed zeros included).
  [[gnu::always_inline]] static d round_tail(d hi, d lo) {
    const d c = rounding_constant(binade(hi, lo));
    return -((c - lo) - c);
  }

  // The same, +0 for zero: for the sums of the block products, which are never
  // -0 (they start from +0).
  [[gnu::always_inline]] static d round_sum_tail(d hi, d lo) {
    const d c = rounding_constant(binade(hi, lo));
    return (lo + c) - c;
  }

  [[gnu::always_inline]] static void two_sum(d a, d b, d& s, d& e) {
    s = a + b;
    const d bv = s - a;
    const d av = s - bv;
    e = (a - av) + (b - bv);
  }

  // a * b rounded to 64 bits: the product is ph + pl exactly (no underflow for
  // operands within the checked range).
  [[gnu::always_inline]] static Pair product(d a, d b) {
    const d ph = a * b;
    return {ph, round_tail(ph, Isa::fms(a, b, ph))};
  }

  // The same for a term of the block products, whose tail may be +0.
  [[gnu::always_inline]] static Pair term(d a, d b) {
    const d ph = a * b;
    return {ph, round_sum_tail(ph, Isa::fms(a, b, ph))};
  }

  // The running sum s + p of the block products, rounded to 64 bits, for s
  // never -0 (a sum starts from +0). With x + y = s.hi + p.hi exactly, the rest
  // r = y + s.lo + p.lo is exact when the exponents of s.hi and p.hi differ by
  // at most 40 (every term is a multiple of the smaller one's ulp/2^12, and
  // their sum stays below 2^53 of those), and x + r is then split exactly
  // (Fast2Sum where |x| >= |r|; otherwise the heads cancelled and x + r is
  // itself a double). When the exponents differ by 68 or more the smaller
  // operand is below an eighth of the larger one's 64-bit ulp and the computed
  // sum, exact or not, rounds to the larger. Lanes that may lie in between are
  // marked in `gap` (its sign bit): the exponent fields' difference is read
  // from the bits of 2|s.hi| - 2|p.hi| (within one of it, hence 40 and 69).
  // The argument: docs/extended.md.
  [[gnu::always_inline]] static Pair accumulate(Pair s, Pair p, i& gap) {
    d x, y;
    two_sum(s.hi, p.hi, x, y);
    const d r = y + (s.lo + p.lo);
    const d h = x + r;
    const d l = r - (h - x);
    gap |= exponents_between(s.hi, p.hi);
    return {h, round_sum_tail(h, l)};
  }

  // The sign bit set in the lanes where the exponent fields of x and y may
  // differ by 41 to 68 (their difference read within one of it, so those
  // where it reads 40 to 68). An instruction set may read it from the high
  // halves of the lanes instead (Isa::exponents_between).
  [[gnu::always_inline]] static i exponents_between(d x, d y) {
    if constexpr (requires { Isa::exponents_between(x, y); }) {
      return Isa::exponents_between(x, y);
    } else {
      const u distance = Isa::magnitude((bits(x) << 1) - (bits(y) << 1));
      constexpr std::uint64_t binade = std::uint64_t{1} << 53;
      return (i)(~(distance - 40 * binade) & (distance - 69 * binade));
    }
  }

  // hi + lo rounded to 64 bits, and the lanes marked in `bad` where that is not
  // certain to be the rounding of the exact value hi + lo + f + g: f and g must
  // be zero (then it is exact, ties included), or hi + lo farther than 2.5
  // times |f| + |g| from every rounding boundary (half the ulp from the
  // rounded value). Twice is what is needed, so that a value just across a
  // power of two, where the spacing halves, still rounds to it; the other
  // half covers the roundings of the test itself, computed in doubles (with
  // any factor above 2 the computed test passing implies the exact one). The
  // argument: docs/extended.md.
  template <bool zero_tail_negative = true>
  [[gnu::always_inline]] static Pair certified(d hi, d lo, d f, d g, i& bad) {
    const u b = binade(hi, lo);
    const d c = rounding_constant(b);
    const d lr = zero_tail_negative ? -((c - lo) - c) : (lo + c) - c;
    const d half = from_bits(b - (std::uint64_t{64} << 52));
    const d error = magnitude(f) + magnitude(g);
    bad |= ~((magnitude(lo - lr) + 2.5 * error < half) | (error == 0));
    return {hi, lr};
  }

  // c * a rounded to 64 bits for an extended c and a double a: c.hi * a is
  // p + e and c.lo * a is q + fq exactly, e + q is t + ft exactly, so the
  // product is p + t + ft + fq. Its tail is +0 when zero: a product goes on
  // into a sum.
  [[gnu::always_inline]] static Pair product(Pair c, d a, i& bad) {
    const d p = c.hi * a;
    const d e = Isa::fms(c.hi, a, p);
    const d q = c.lo * a;
    const d fq = Isa::fms(c.lo, a, q);
    d t, ft;
    two_sum(e, q, t, ft);
    d h = p + t;
    const d l = t - (h - p);
    h = t == 0 ? p : h;  // an exact product keeps p's sign, -0 included
    return certified<false>(h, l, fq, ft, bad);
  }

  // x + y rounded to 64 bits: the heads, the tails and the heads' error are
  // summed with error-free transformations.
  [[gnu::always_inline]] static Pair add(Pair x, Pair y, i& bad) {
    d s, e, t1, f1, t2, f2, h, l;
    two_sum(x.hi, y.hi, s, e);
    two_sum(x.lo, y.lo, t1, f1);
    two_sum(e, t1, t2, f2);
    two_sum(s, t2, h, l);
    h = t2 == 0 ? s : h;  // the heads' exact sum keeps its sign, -0 included
    return certified(h, l, f1, f2, bad);
  }

  [[gnu::always_inline]] static Pair negated(Pair x) { return {-x.hi, -x.lo}; }

  // The double the unit stores for an expression whose exact value X is
  // h + l up to 2^-100 times weight + |h| (and 2^-1072 from underflows), when
  // that is certain. `weight` is the sum of the magnitudes of the results the
  // unit rounds to 64 bits on the way, the last one aside; each of those
  // roundings, the last one included, moves the value by at most 2^-64 of
  // its magnitude, so the unit's 64-bit result Y lies within `error` of
  // h + l. Rounding to double is monotone: when h + l - error and h + l +
  // error round to the same double, so does Y. Lanes where they do not, or
  // where that double is below 2^-900 (zeros among them, whose sign rests on
  // the roundings; the margin in `error` then covers the underflows) or is
  // an infinity or a NaN, are marked in `bad`. The argument:
  // docs/extended.md.
  [[gnu::always_inline]] static d stored(d h, d l, d weight, i& bad) {
    constexpr std::uint64_t lowest = 0x07b0'0000'0000'0000;  // the bits of 2^-900
    const d error = (weight + magnitude(h)) * (0x1p-64 + 0x1p-72);
    const d above = h + (l + error), below = h + (l - error);
    const u above_lowest = bits(magnitude(above)) - lowest;
    bad |= ~((bits(above) == bits(below)) & (above_lowest < 0x7ff0'0000'0000'0000 - lowest));
    return above;
  }
  // Rounded once to double (lo is -0 when zero, so hi keeps its sign).
  [[gnu::always_inline]] static d to_double(Pair x) { return x.hi + x.lo; }

  // Zero or within the operands' checked range, per lane.
  [[gnu::always_inline]] static i in_range(d x, double low, double high) {
    const d m = magnitude(x);
    return ((m >= low) & (m <= high)) | (m == 0);
  }

  // Zero or not below the operands' range, per lane: what the certified
  // operations need of their operands (an overflow turns into an infinity or
  // a NaN, which no certificate passes; an underflow would go unseen).
  [[gnu::always_inline]] static i not_tiny(d x) {
    const d m = magnitude(x);
    return (m >= smallest_operand) | (m == 0);
  }

  // An extended scalar as a pair in every lane: its double and the exact rest.
  struct Scalar {
    double hi, lo;
    bool usable;
  };
  static Scalar split(SoftExt x, double low, double high) {
    const std::uint64_t m = x.significand();
    const int field = x.sign_exponent() & 0x7fff;
    const int e = field - 16383;  // x = m 2^(e - 63)
    if (m >> 63 == 0 || e < -900 || e > 900) {  // zeros, and what is far from 1 (then the range says no)
      const auto hi = static_cast<double>(x);
      auto lo = static_cast<double>(x - SoftExt(hi));
      if (lo == 0) lo = -0.0;
      const double mh = hi < 0 ? -hi : hi;
      return {hi, lo, mh == 0 || (mh >= low && mh <= high)};
    }
    // From the bits: the top 53 rounded to nearest even, and the rest, an
    // integer of at most 11 bits times 2^(e - 63), exact.
    const bool negative = (x.sign_exponent() & 0x8000) != 0;
    const std::uint64_t kept = m >> 11, lost = m & 0x7ff;
    const std::uint64_t up = lost > 0x400 || (lost == 0x400 && (kept & 1) != 0) ? 1 : 0;
    const auto hi_bits = (static_cast<std::uint64_t>(e + 1023) << 52) + (kept - (std::uint64_t{1} << 52)) + up;
    const double magnitude_hi = std::bit_cast<double>(hi_bits);
    const double rest = static_cast<double>(static_cast<std::int64_t>(lost) - static_cast<std::int64_t>(up << 11)) *
                        std::bit_cast<double>(static_cast<std::uint64_t>(e - 63 + 1023) << 52);
    const double hi = negative ? -magnitude_hi : magnitude_hi;
    const double lo = rest == 0 ? -0.0 : (negative ? -rest : rest);
    return {hi, lo, magnitude_hi >= low && magnitude_hi <= high};
  }

  static bool in_lane_operand(double v) {
    const double m = v < 0 ? -v : v;
    return m == 0 || (m >= smallest_operand && m <= largest_operand);
  }

  [[gnu::always_inline]] static i operand_check(d x) { return ~in_range(x, smallest_operand, largest_operand); }

  // ---- Block products -----------------------------------------------------

  static constexpr int row_vectors = tile_rows / width;
  // The row vectors of a tile summed side by side: their sums (two chains of
  // pairs per row vector, one per column) take half of the vector registers at
  // most, so that they never leave them. A tile is summed in passes of that
  // many rows; every sum keeps its own terms in their order, so the passes
  // cannot change a bit.
  static constexpr int pass_vectors = std::min(row_vectors, Isa::registers / 8);
  static constexpr int pass_rows = pass_vectors * width;
  static_assert(tile_rows % pass_rows == 0);

  // Step k of a pass again in SoftExt, from the sums before it: a[r] the
  // pass's operands, the sum of row r and column c at c * pass_rows + r.
  __attribute__((noinline, cold)) static void tile_step_exactly(const double* a, double b0, double b1, double* hi,
                                                                double* lo) {
    for (int c = 0; c < 2; ++c)
      for (int r = 0; r < pass_rows; ++r) {
        double& h = hi[c * pass_rows + r];
        double& l = lo[c * pass_rows + r];
        const SoftExt sum = SoftExt(h) + SoftExt(l) + SoftExt(a[r]) * SoftExt(c == 0 ? b0 : b1);
        h = static_cast<double>(sum);
        l = static_cast<double>(sum - SoftExt(h));
      }
  }

  // Rows r0..r0 + pass_rows - 1 of a tile (arguments as for product_tile).
  [[gnu::always_inline]] static void product_pass(std::size_t len, const double* panel, const double* y0,
                                                  const double* y1, double* hi, double* lo, int r0) {
    constexpr int chains = 2 * pass_vectors;  // chain q: column q / pass_vectors, rows of vector q % pass_vectors
    const auto at = [r0](int q) { return q / pass_vectors * tile_rows + r0 + q % pass_vectors * width; };
    Pair s[chains];
#pragma GCC unroll 16
    for (int q = 0; q < chains; ++q) s[q] = {load(hi + at(q)), load(lo + at(q))};
    panel += r0;
#pragma GCC unroll 2
    for (std::size_t k = 0; k < len; ++k, panel += tile_rows) {
      const d b[2] = {splat(y0[k]), splat(y1[k])};
      d a[pass_vectors];
#pragma GCC unroll 16
      for (int v = 0; v < pass_vectors; ++v) a[v] = load(panel + v * width);
      i gap{};
      Pair next[chains];
#pragma GCC unroll 16
      for (int q = 0; q < chains; ++q) next[q] = accumulate(s[q], term(a[q % pass_vectors], b[q / pass_vectors]), gap);
      if (__builtin_expect(Isa::any(gap), 0)) {
        double h[2 * pass_rows], l[2 * pass_rows];
#pragma GCC unroll 16
        for (int q = 0; q < chains; ++q) {
          store(h + q * width, s[q].hi);
          store(l + q * width, s[q].lo);
        }
        tile_step_exactly(panel, y0[k], y1[k], h, l);
#pragma GCC unroll 16
        for (int q = 0; q < chains; ++q) next[q] = {load(h + q * width), load(l + q * width)};
      }
#pragma GCC unroll 16
      for (int q = 0; q < chains; ++q) s[q] = next[q];
    }
#pragma GCC unroll 16
    for (int q = 0; q < chains; ++q) {
      store(hi + at(q), s[q].hi);
      store(lo + at(q), s[q].lo);
    }
  }

  static void product_tile(std::size_t len, const double* panel, const double* y0, const double* y1, double* hi,
                           double* lo) {
#pragma GCC unroll 4
    for (int r0 = 0; r0 < tile_rows; r0 += pass_rows) product_pass(len, panel, y0, y1, hi, lo, r0);
  }

  static bool operands_in_range(const double* v, std::size_t count) {
    i outside{};
    std::size_t k = 0;
    for (; k + width <= count; k += width) outside |= operand_check(load(v + k));
    for (; k < count; ++k) outside[0] |= in_lane_operand(v[k]) ? 0 : -1;
    return !Isa::any(outside);
  }

  // ---- Rotations ----------------------------------------------------------

  __attribute__((noinline, cold)) static void rotate_exactly(double* zi, double* zj, int rows, SoftExt c, SoftExt s) {
    for (int k = 0; k < rows; ++k) {
      const SoftExt a = zi[k], t = zj[k];
      zj[k] = static_cast<double>(s * a + c * t);
      zi[k] = static_cast<double>(c * a - s * t);
    }
  }

  // The same rows step by step in the lanes, every product and sum rounded to
  // 64 bits as the unit does: for vectors whose stored results `stored` could
  // not certify.
  __attribute__((noinline)) static void rotate_vector_stepwise(double* zi, double* zj, const Pair& cv, const Pair& sv,
                                                                SoftExt c, SoftExt s) {
    const d a = load(zi), t = load(zj);
    i bad = ~(not_tiny(a) & not_tiny(t));
    const Pair j = add(product(sv, a, bad), product(cv, t, bad), bad);
    const Pair k = add(product(cv, a, bad), negated(product(sv, t, bad)), bad);
    if (__builtin_expect(Isa::any(bad), 0)) return rotate_exactly(zi, zj, width, c, s);
    store(zj, to_double(j));
    store(zi, to_double(k));
  }

  // c a + s t for an extended c and s: the heads' products with their fused
  // remainders, the tails' products rounded (a relative error of 2^-106 at
  // most), and the sum of the magnitudes the unit rounds to 64 bits on the
  // way (the two products).
  [[gnu::always_inline]] static d rotated(const Pair& cv, d a, const Pair& sv, d t, i& bad) {
    const d p1 = cv.hi * a, p2 = sv.hi * t;
    const d e1 = Isa::fms(cv.hi, a, p1), e2 = Isa::fms(sv.hi, t, p2);
    d h, l;
    two_sum(p1, p2, h, l);
    // The tails' products added to the remainders in one rounding each.
    const d rest = Isa::fms(cv.lo, a, -e1) + Isa::fms(sv.lo, t, -e2);
    return stored(h, l + rest, magnitude(p1) + magnitude(p2), bad);
  }

  // Only the lanes in `live` count: the copies beside the last rows of a
  // column are not certified (their zeros never could be).
  [[gnu::always_inline]] static void rotate_vector(double* zi, double* zj, const Pair& cv, const Pair& sv, SoftExt c,
                                                   SoftExt s, i live = ~i{}) {
    const d a = load(zi), t = load(zj);
    i bad{};
    const d j = rotated(sv, a, cv, t, bad);
    const d k = rotated(cv, a, negated(sv), t, bad);
    if (__builtin_expect(Isa::any(bad & live), 0)) return rotate_vector_stepwise(zi, zj, cv, sv, c, s);
    store(zj, j);
    store(zi, k);
  }

  static void rotate(double* zi, double* zj, int rows, SoftExt c, SoftExt s) {
    const Scalar cs = split(c, 0x1p-200, 0x1p+200), ss = split(s, 0x1p-200, 0x1p+200);
    if (!cs.usable || !ss.usable) return rotate_exactly(zi, zj, rows, c, s);
    const Pair cv{splat(cs.hi), splat(cs.lo)}, sv{splat(ss.hi), splat(ss.lo)};
    int k = 0;
#pragma GCC unroll 2
    for (; k + width <= rows; k += width) rotate_vector(zi + k, zj + k, cv, sv, c, s);
    if (k == rows) return;
    // The last rows through a whole vector of copies (zeros beside them).
    double ti[width] = {}, tj[width] = {};
    const int rest = rows - k;
    std::memcpy(ti, zi + k, sizeof(double) * rest);
    std::memcpy(tj, zj + k, sizeof(double) * rest);
    rotate_vector(ti, tj, cv, sv, c, s, first_lanes(rest));
    std::memcpy(zi + k, ti, sizeof(double) * rest);
    std::memcpy(zj + k, tj, sizeof(double) * rest);
  }

  // ---- Householder reduction and accumulation ----------------------------------
  //
  // Sums are carried as pairs, converted from and to SoftExt at the edges of a
  // call; a call whose operands or sums leave the lanes' range changes nothing
  // and returns false. Within a call every sum gets its terms in the order of
  // the plain loops.

  // A SoftExt sum as a pair, false when outside the range of sums.
  static bool to_pair(SoftExt x, double& hi, double& lo) {
    hi = static_cast<double>(x);
    lo = static_cast<double>(x - SoftExt(hi));
    const double m = hi < 0 ? -hi : hi;
    return m == 0 || (m >= smallest_sum && m <= largest_sum);
  }
  static SoftExt from_pair(double hi, double lo) { return SoftExt(hi) + SoftExt(lo); }

  // s + a b in every lane, for a sum s of the Householder kernels (never -0);
  // lanes in the exponent gap are done again in SoftExt.
  __attribute__((noinline, cold)) static void sum_step_exactly(double* hi, double* lo, const double* a, double b) {
    for (int k = 0; k < width; ++k) {
      const SoftExt sum = SoftExt(hi[k]) + SoftExt(lo[k]) + SoftExt(a[k]) * SoftExt(b);
      hi[k] = static_cast<double>(sum);
      lo[k] = static_cast<double>(sum - SoftExt(hi[k]));
    }
  }

  [[gnu::always_inline]] static void add_term(Pair& s, d a, double b) {
    i gap{};
    const Pair next = accumulate(s, term(a, splat(b)), gap);
    if (__builtin_expect(Isa::any(gap), 0)) {
      double hi[width], lo[width], av[width];
      store(hi, s.hi);
      store(lo, s.lo);
      store(av, a);
      sum_step_exactly(hi, lo, av, b);
      s = {load(hi), load(lo)};
      return;
    }
    s = next;
  }

  // The same with a different b per lane.
  __attribute__((noinline, cold)) static void sum_step_exactly(double* hi, double* lo, const double* a,
                                                               const double* b) {
    for (int k = 0; k < width; ++k) {
      const SoftExt sum = SoftExt(hi[k]) + SoftExt(lo[k]) + SoftExt(a[k]) * SoftExt(b[k]);
      hi[k] = static_cast<double>(sum);
      lo[k] = static_cast<double>(sum - SoftExt(hi[k]));
    }
  }

  [[gnu::always_inline]] static void add_term(Pair& s, d a, d b) {
    i gap{};
    const Pair next = accumulate(s, term(a, b), gap);
    if (__builtin_expect(Isa::any(gap), 0)) {
      double hi[width], lo[width], av[width], bv[width];
      store(hi, s.hi);
      store(lo, s.lo);
      store(av, a);
      store(bv, b);
      sum_step_exactly(hi, lo, av, bv);
      s = {load(hi), load(lo)};
      return;
    }
    s = next;
  }

  // p[0], p[stride], ... in the first `count` lanes (at most width), zeros
  // after them.
  [[gnu::always_inline]] static d lanes_of(const double* p, long stride, int count) {
    if (count == width) return stride == 1 ? load(p) : Isa::gather(p, stride);
    double t[width] = {};
    for (int k = 0; k < count; ++k) t[k] = p[k * stride];
    return load(t);
  }

  [[gnu::always_inline]] static d lane_index() {
    d v;
    for (int k = 0; k < width; ++k) v[k] = k;
    return v;
  }

  // The first `count` lanes.
  [[gnu::always_inline]] static i first_lanes(int count) { return lane_index() < static_cast<double>(count); }

  // g(j) for Q groups of rows j0[q]..j0[q]+width-1 in the lanes, side by side
  // (Q independent sums per term): row part z(j,k), k <= j, then column part
  // z(k,j), k > j, each times u(k), k ascending.
  template <int Q>
  [[gnu::always_inline]] static void product_sums_of(MatrixView<const double> z, int l, const double* u, const int* j0,
                                                     Pair* s, i& bad) {
    const long n = z.n;
    d rows[Q];
#pragma GCC unroll 4
    for (int q = 0; q < Q; ++q) {
      s[q] = {splat(0.0), splat(0.0)};
      rows[q] = lane_index() + static_cast<double>(j0[q]);
    }
    for (int k = 1; k <= l; ++k) {
#pragma GCC unroll 4
      for (int q = 0; q < Q; ++q) {
        d a;
        if (k < j0[q]) {
          a = load(&z(j0[q], k));
        } else if (k >= j0[q] + width) {
          a = Isa::gather(&z(k, j0[q]), n);
        } else {
          a = rows[q] >= static_cast<double>(k) ? load(&z(j0[q], k)) : Isa::gather(&z(k, j0[q]), n);
        }
        bad |= operand_check(a);
        add_term(s[q], a, u[k - 1]);
      }
    }
  }

  static bool product_sums(MatrixView<const double> z, int l, const double* u, int first, int last, SoftExt* g) {
    i bad{};
    int j = first;
    const auto store_sums = [g](const Pair& s, int j0) {
      double hi[width], lo[width];
      std::memcpy(hi, &s.hi, sizeof hi);
      std::memcpy(lo, &s.lo, sizeof lo);
      for (int k = 0; k < width; ++k) g[j0 - 1 + k] = from_pair(hi[k], lo[k]);
    };
    for (; j + 2 * width - 1 <= last; j += 2 * width) {
      const int j0[2] = {j, j + width};
      Pair s[2];
      product_sums_of<2>(z, l, u, j0, s, bad);
      if (Isa::any(bad)) return false;
      store_sums(s[0], j0[0]);
      store_sums(s[1], j0[1]);
    }
    for (; j + width - 1 <= last; j += width) {
      Pair s[1];
      product_sums_of<1>(z, l, u, &j, s, bad);
      if (Isa::any(bad)) return false;
      store_sums(s[0], j);
    }
    for (; j <= last; ++j) {
      SoftExt sum = 0;
      for (int k = 1; k <= l; ++k) sum += SoftExt(k <= j ? z(j, k) : z(k, j)) * SoftExt(u[k - 1]);
      g[j - 1] = sum;
    }
    return true;
  }

  // z - u(j) e(k) - g(j) u(k) for the rows in the lanes, rounded once to
  // double; lanes the lanes cannot certify are done again in SoftExt.
  __attribute__((noinline, cold)) static void update_exactly(double* zv, const double* uj, double ek, const double* gh,
                                                             const double* gl, double uk) {
    for (int k = 0; k < width; ++k)
      zv[k] =
          static_cast<double>(SoftExt(zv[k]) - SoftExt(uj[k]) * SoftExt(ek) - from_pair(gh[k], gl[k]) * SoftExt(uk));
  }

  __attribute__((noinline)) static void update_vector_stepwise(double* z, const double* uj, double ek,
                                                                const double* gh, const double* gl, double uk) {
    const d zv = load(z);
    i bad = ~not_tiny(zv);
    const Pair first = add({zv, splat(-0.0)}, negated(product(load(uj), splat(ek))), bad);
    const Pair result = add(first, negated(product(Pair{load(gh), load(gl)}, splat(uk), bad)), bad);
    if (__builtin_expect(Isa::any(bad), 0)) {
      double v[width];
      store(v, zv);
      update_exactly(v, uj, ek, gh, gl, uk);
      store(z, load(v));
      return;
    }
    store(z, to_double(result));
  }

  // z - uj ek - g uk: the products' heads with their fused remainders, the
  // tail of g times uk rounded; the unit rounds the two products and the
  // first difference to 64 bits on the way.
  [[gnu::always_inline]] static d updated(d z, d uj, d ek, const Pair& g, d uk, i& bad) {
    const d p1 = uj * ek, e1 = Isa::fms(uj, ek, p1);
    const d p2 = g.hi * uk, e2 = Isa::fms(g.hi, uk, p2);
    d s1, t1, h, t2;
    two_sum(z, -p1, s1, t1);
    two_sum(s1, -p2, h, t2);
    return stored(h, (t1 + t2) - (e1 + Isa::fms(g.lo, uk, -e2)), (magnitude(p1) + magnitude(s1)) + magnitude(p2), bad);
  }

  [[gnu::always_inline]] static void update_vector(double* z, const double* uj, double ek, const double* gh,
                                                   const double* gl, double uk, i live = ~i{}) {
    i bad{};
    const d result = updated(load(z), load(uj), splat(ek), Pair{load(gh), load(gl)}, splat(uk), bad);
    if (__builtin_expect(Isa::any(bad & live), 0)) return update_vector_stepwise(z, uj, ek, gh, gl, uk);
    store(z, result);
  }

  // Rows r0..r1 of columns k0..k1 (on or below the diagonal), in blocks of
  // rows whose g are turned into pairs once; a block whose u, e or g leave the
  // lanes' range is updated plainly.
  static void update_chunk(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                           const SoftExt* g) {
    constexpr int block = 256;
    double gh[block + width], gl[block + width];
    bool columns_in_range = true;
    for (int k = k0; k <= k1; ++k) columns_in_range &= in_lane_operand(u[k - 1]) && in_lane_operand(e[k - 1]);
    for (int b0 = std::max(r0, k0); b0 <= r1; b0 += block) {
      const int b1 = std::min(r1, b0 + block - 1);
      bool in_range = columns_in_range;
      for (int j = b0; j <= b1; ++j)
        in_range = in_range && to_pair(g[j - 1], gh[j - b0], gl[j - b0]) && in_lane_operand(gh[j - b0]) &&
                   in_lane_operand(u[j - 1]);
      for (int k = k0; k <= std::min(k1, b1); ++k) {
        int j = std::max(b0, k);
        if (!in_range) {
          for (; j <= b1; ++j)
            z(j, k) = static_cast<double>(SoftExt(z(j, k)) - SoftExt(u[j - 1]) * SoftExt(e[k - 1]) -
                                          g[j - 1] * SoftExt(u[k - 1]));
          continue;
        }
        for (; j + width - 1 <= b1; j += width)
          update_vector(&z(j, k), u + j - 1, e[k - 1], gh + (j - b0), gl + (j - b0), u[k - 1]);
        if (j > b1) continue;
        // The last rows through a whole vector of copies.
        double zt[width] = {}, ut[width] = {}, ht[width] = {}, lt[width] = {};
        const int rest = b1 - j + 1;
        for (int t = 0; t < rest; ++t)
          zt[t] = z(j + t, k), ut[t] = u[j + t - 1], ht[t] = gh[j + t - b0], lt[t] = gl[j + t - b0];
        update_vector(zt, ut, e[k - 1], ht, lt, u[k - 1], first_lanes(rest));
        for (int t = 0; t < rest; ++t) z(j + t, k) = zt[t];
      }
    }
  }

  // body(std::integral_constant<int, G>) for G = groups, 1 to 4: the kernels
  // below keep G groups of sums in flight, G known when they are compiled.
  template <class Body>
  [[gnu::always_inline]] static void with_groups(int groups, Body&& body) {
    switch (groups) {
      case 4: return body(std::integral_constant<int, 4>{});
      case 3: return body(std::integral_constant<int, 3>{});
      case 2: return body(std::integral_constant<int, 2>{});
      default: return body(std::integral_constant<int, 1>{});
    }
  }

  // The sums of G groups back to hi[start[q] - origin] and lo[...].
  template <int G>
  [[gnu::always_inline]] static void store_groups(const Pair* s, const int* start, double* hi, double* lo, int origin) {
#pragma GCC unroll 4
    for (int q = 0; q < G; ++q) {
      store(hi + (start[q] - origin), s[q].hi);
      store(lo + (start[q] - origin), s[q].lo);
    }
  }

  // The row parts of reflect_chunk for G groups of rows j0[q]..j0[q]+count[q]-1
  // side by side (G sums in flight): a group adds column k, k0 <= k <= k1,
  // while k <= its last row, each lane only while k <= its own row. The sums
  // are hi[j - origin] + lo[j - origin] for row j.
  template <int G>
  [[gnu::always_inline]] static void row_parts(MatrixView<const double> z, int k0, int k1, const int* j0,
                                               const int* count, const double* v, double* hi, double* lo, int origin,
                                               i& bad) {
    Pair s[G];
    d row[G];
    i live[G];
    int last[G], end = k0 - 1;
#pragma GCC unroll 4
    for (int q = 0; q < G; ++q) {
      s[q] = {load(hi + (j0[q] - origin)), load(lo + (j0[q] - origin))};
      row[q] = lane_index() + static_cast<double>(j0[q]);
      live[q] = first_lanes(count[q]);
      last[q] = std::min(k1, j0[q] + count[q] - 1);
      end = std::max(end, last[q]);
    }
    i check{};
    for (int k = k0; k <= end; ++k) {
#pragma GCC unroll 4
      for (int q = 0; q < G; ++q) {
        if (k > last[q]) continue;
        d a = lanes_of(&z(j0[q], k), 1, count[q]);
        a = (row[q] >= static_cast<double>(k)) & live[q] ? a : 0.0;
        check |= operand_check(a);
        add_term(s[q], a, v[k - 1]);
      }
    }
    store_groups<G>(s, j0, hi, lo, origin);
    bad |= check;
  }

  // The column parts for G groups of columns c0[q]..c0[q]+count[q]-1: a lane
  // adds row j, r0 <= j <= r1, only below its diagonal. The sums are
  // hi[k - origin] + lo[k - origin] for column k.
  template <int G>
  [[gnu::always_inline]] static void column_parts(MatrixView<const double> z, int r0, int r1, const int* c0,
                                                  const int* count, const double* v, double* hi, double* lo,
                                                  int origin, i& bad) {
    const long n = z.n;
    Pair s[G];
    d column[G];
    i live[G];
    int first[G], start = r1 + 1;
#pragma GCC unroll 4
    for (int q = 0; q < G; ++q) {
      s[q] = {load(hi + (c0[q] - origin)), load(lo + (c0[q] - origin))};
      column[q] = lane_index() + static_cast<double>(c0[q]);
      live[q] = first_lanes(count[q]);
      first[q] = std::max(r0, c0[q] + 1);
      start = std::min(start, first[q]);
    }
    i check{};
    for (int j = start; j <= r1; ++j) {
#pragma GCC unroll 4
      for (int q = 0; q < G; ++q) {
        if (j < first[q]) continue;
        d a = lanes_of(&z(j, c0[q]), n, count[q]);
        a = (column[q] < static_cast<double>(j)) & live[q] ? a : 0.0;
        check |= operand_check(a);
        add_term(s[q], a, v[j - 1]);
      }
    }
    store_groups<G>(s, c0, hi, lo, origin);
    bad |= check;
  }

  // The fused pass of the reduction, for one band chunk: first the row parts of
  // rows max(r0, k0)..r1 (lanes are rows; a lane adds its column k only while
  // k <= its row, a zero term otherwise, which leaves a sum that is never -0
  // unchanged), handing the finished row parts of the band's diagonal rows to
  // acc; then the column parts of columns k0..min(k1, r1) (lanes are columns;
  // a lane adds row j only below its diagonal).
  static bool reflect_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, SoftExt* g2,
                            SoftExt* acc) {
    const int first_row = std::max(r0, k0), last_column = std::min(k1, r1);
    constexpr int most = 256;
    if (r1 - first_row + 1 > most || k1 - k0 + 1 > most) return false;
    double rh[most + width], rl[most + width], ch[most + width], cl[most + width];
    for (int j = first_row; j <= r1; ++j)
      if (!to_pair(g2[j - 1], rh[j - first_row], rl[j - first_row]) || !in_lane_operand(v[j - 1])) return false;
    for (int k = k0; k <= last_column; ++k)
      if (!in_lane_operand(v[k - 1]) || (k < first_row && !to_pair(acc[k - k0], ch[k - k0], cl[k - k0]))) return false;
    i bad{};
    // Row parts, four groups of rows side by side.
    for (int j = first_row; j <= r1;) {
      int j0[4], count[4], groups = 0;
      for (; groups < 4 && j <= r1; ++groups, j += width) j0[groups] = j, count[groups] = std::min(width, r1 - j + 1);
      with_groups(groups, [&](auto g) { row_parts<g()>(z, k0, k1, j0, count, v, rh, rl, first_row, bad); });
    }
    for (int j = first_row; j <= std::min(k1, r1); ++j) {
      ch[j - k0] = rh[j - first_row];
      cl[j - k0] = rl[j - first_row];
    }
    // Column parts, four groups of columns side by side.
    for (int c = k0; c <= last_column;) {
      int c0[4], count[4], groups = 0;
      for (; groups < 4 && c <= last_column; ++groups, c += width)
        c0[groups] = c, count[groups] = std::min(width, last_column - c + 1);
      with_groups(groups, [&](auto g) { column_parts<g()>(z, r0, r1, c0, count, v, ch, cl, k0, bad); });
    }
    if (Isa::any(bad)) return false;
    for (int j = first_row; j <= r1; ++j)
      if (j > k1) g2[j - 1] = from_pair(rh[j - first_row], rl[j - first_row]);
    for (int k = k0; k <= last_column; ++k) acc[k - k0] = from_pair(ch[k - k0], cl[k - k0]);
    return true;
  }

  // One step of the accumulation for columns first..last: g = r(1)z(1,j) + ...
  // + r(l)z(l,j) with columns in the lanes, then z(k,j) - g v(k) with rows in
  // the lanes.
  __attribute__((noinline, cold)) static void reflect_exactly(double* col, const double* v, double gh, double gl) {
    for (int k = 0; k < width; ++k) col[k] = static_cast<double>(SoftExt(col[k]) - from_pair(gh, gl) * SoftExt(v[k]));
  }

  __attribute__((noinline)) static void reflect_vector_stepwise(double* col, const double* v, const Pair& g, double gh,
                                                                 double gl) {
    const d zv = load(col);
    i bad = ~not_tiny(zv);
    const Pair result = add({zv, splat(-0.0)}, negated(product(g, load(v), bad)), bad);
    if (__builtin_expect(Isa::any(bad), 0)) return reflect_exactly(col, v, gh, gl);
    store(col, to_double(result));
  }

  // z - g v: the unit rounds the product to 64 bits on the way.
  [[gnu::always_inline]] static void reflect_vector(double* col, const double* v, const Pair& g, double gh, double gl,
                                                    i live = ~i{}) {
    const d vv = load(v);
    const d p = g.hi * vv, e = Isa::fms(g.hi, vv, p);
    d h, t;
    two_sum(load(col), -p, h, t);
    i bad{};
    const d result = stored(h, t - Isa::fms(g.lo, vv, -e), magnitude(p), bad);
    if (__builtin_expect(Isa::any(bad & live), 0)) return reflect_vector_stepwise(col, v, g, gh, gl);
    store(col, result);
  }

  // The sums g = r(1)z(1,j) + ... + r(l)z(l,j) of Q groups of columns
  // c0[q]..c0[q]+count[q]-1 in the lanes, side by side.
  template <int Q>
  [[gnu::always_inline]] static void reflection_sums(MatrixView<double> z, int l, const double* r, const int* c0,
                                                     const int* count, Pair* s, i* bad) {
    const long n = z.n;
    // The sums and checks in locals, so that they stay in registers.
    Pair sum[Q];
    i check[Q];
#pragma GCC unroll 4
    for (int q = 0; q < Q; ++q) sum[q] = {splat(0.0), splat(0.0)}, check[q] = i{};
    bool whole = true;
    for (int q = 0; q < Q; ++q) whole = whole && count[q] == width;
    for (int k = 1; k <= l; ++k) {
#pragma GCC unroll 4
      for (int q = 0; q < Q; ++q) {
        const d a = whole ? Isa::gather(&z(k, c0[q]), n) : lanes_of(&z(k, c0[q]), n, count[q]);
        check[q] |= operand_check(a);
        add_term(sum[q], a, r[k - 1]);
      }
    }
#pragma GCC unroll 4
    for (int q = 0; q < Q; ++q) s[q] = sum[q], bad[q] |= check[q];
  }

  // z(k,j) - g v(k) for the columns of one group, their sums g in s.
  static void reflect_group(MatrixView<double> z, int l, const double* v, const double* r, int c0, int columns,
                            const Pair& s, i bad) {
    double gh[width], gl[width];
    store(gh, s.hi);
    store(gl, s.lo);
    for (int c = 0; c < columns; ++c) {
      const double m = gh[c] < 0 ? -gh[c] : gh[c];
      if (!(m == 0 || (m >= smallest_operand && m <= largest_operand))) bad |= ~i{};
    }
    if (Isa::any(bad)) {
      // The sums, or the columns, are beyond the lanes: these columns plainly.
      for (int c = 0; c < columns; ++c) {
        double* col = z.column(c0 + c);
        SoftExt g = 0;
        for (int k = 0; k < l; ++k) g += SoftExt(r[k]) * SoftExt(col[k]);
        for (int k = 0; k < l; ++k) col[k] = static_cast<double>(SoftExt(col[k]) - g * SoftExt(v[k]));
      }
      return;
    }
    for (int c = 0; c < columns; ++c) {
      double* col = z.column(c0 + c);
      // The lanes' g holds a 64-bit value exactly; its tail is -0 when zero.
      const double tail = gl[c] == 0 ? -0.0 : gl[c];
      const Pair g{splat(gh[c]), splat(tail)};
      int k = 0;
      for (; k + width <= l; k += width) reflect_vector(col + k, v + k, g, gh[c], tail);
      if (k == l) continue;
      double zt[width] = {}, vt[width] = {};
      for (int t = k; t < l; ++t) zt[t - k] = col[t], vt[t - k] = v[t];
      reflect_vector(zt, vt, g, gh[c], tail, first_lanes(l - k));
      for (int t = k; t < l; ++t) col[t] = zt[t - k];
    }
  }

  // Four groups of columns at a time, so that four sums are in flight.
  static bool reflect_columns(MatrixView<double> z, int l, const double* v, const double* r, int first, int last) {
    for (int k = 0; k < l; ++k)
      if (!in_lane_operand(v[k]) || !in_lane_operand(r[k])) return false;
    for (int c = first; c <= last;) {
      int c0[4], count[4], groups = 0;
      for (; groups < 4 && c <= last; ++groups, c += width) {
        c0[groups] = c;
        count[groups] = std::min(width, last - c + 1);
      }
      Pair s[4];
      i bad[4] = {};
      with_groups(groups, [&](auto g) { reflection_sums<g()>(z, l, r, c0, count, s, bad); });
      for (int q = 0; q < groups; ++q) reflect_group(z, l, v, r, c0[q], count[q], s[q], bad[q]);
    }
    return true;
  }
};

}  // namespace blockeig::lanes
