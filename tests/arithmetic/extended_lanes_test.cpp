// The vector lanes of the software arithmetic (every instruction set this
// processor has) against the plain SoftExt loops, on data drawn to reach
// their hard cases: sums whose terms differ in exponent by every amount (the
// exact range, the gap the lanes hand back to SoftExt, the absorbed range),
// exact cancellation, signed zeros, values near powers of two, operands
// outside the lanes' range.
#include "arithmetic/extended_lanes.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace blockeig::lanes {
namespace {

std::vector<const Kernels*> available() {
  std::vector<const Kernels*> all;
  for (const Kernels* k : {avx512_kernels(), avx2_kernels(), neon_kernels()})
    if (k != nullptr) all.push_back(k);
  return all;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// A value of one of the awkward kinds, within the lanes' range unless
// `outside`.
double awkward(std::mt19937_64& rng, bool outside) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  const double x = uniform(rng);
  const double odd = static_cast<double>(3 + 2 * (rng() % 6));
  switch (rng() % 10) {
    // Products just below a power of two (3 times 1/3 rounded is 1 - 2^-54,
    // which rounds to 1 from below).
    case 8: return std::ldexp(odd, static_cast<int>(rng() % 5) - 2);
    case 9: return std::ldexp((rng() % 2 != 0 ? 1.0 : -1.0) / odd, static_cast<int>(rng() % 5) - 2);
    case 0: return std::ldexp(x, static_cast<int>(rng() % 161) - 80);  // exponents 80 apart and more
    case 1: return rng() % 2 != 0 ? 0.0 : -0.0;
    case 2: return std::ldexp(rng() % 2 != 0 ? 1.0 : -1.0, static_cast<int>(rng() % 9) - 4);
    case 3: return std::nextafter(std::ldexp(1.0, static_cast<int>(rng() % 9) - 4), 0.0);
    case 4: return std::round(x * 64) / 64;  // short significands: exact sums, ties
    case 5:
      if (outside) {
        const double far[] = {0x1p-500, -0x1p+450, std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(), 0x1p-1074};
        return far[rng() % 5];
      }
      return x;
    default: return x;
  }
}

TEST(ExtendedLanes, ProductTilesAsSoftExt) {
  const std::vector<const Kernels*> kernels = available();
  if (kernels.empty()) GTEST_SKIP() << "no vector lanes in this build or on this processor";
  constexpr int rows = tile_rows;
  for (const Kernels* k : kernels) {
    SCOPED_TRACE(k->name);
    std::mt19937_64 rng(1);
    for (int round = 0; round < 300; ++round) {
      const std::size_t len = 1 + rng() % 300;
      std::vector<double> panel(len * rows), y0(len), y1(len);
      for (double& v : panel) v = awkward(rng, false);
      for (double& v : y0) v = awkward(rng, false);
      for (double& v : y1) v = round % 3 == 0 ? -y0[&v - y1.data()] : awkward(rng, false);
      // Products within an ulp of 1, from below half the time: the rounding
      // grid is then the one of the binade below.
      if (round % 5 == 1) {
        std::uniform_real_distribution<double> plain(0.5, 2.0);
        for (double& v : panel) v = plain(rng);
        for (std::size_t t = 0; t < len; ++t) y1[t] = 1.0 / panel[t * rows + t % rows];
      }
      std::vector<double> hi(2 * rows, 0.0), lo(2 * rows, 0.0);
      k->product_tile(len, panel.data(), y0.data(), y1.data(), hi.data(), lo.data());
      for (int c = 0; c < 2; ++c)
        for (int r = 0; r < rows; ++r) {
          SoftExt want = 0;
          for (std::size_t t = 0; t < len; ++t)
            want += SoftExt(panel[t * rows + r]) * SoftExt(c == 0 ? y0[t] : y1[t]);
          const SoftExt got = SoftExt(hi[c * rows + r]) + SoftExt(lo[c * rows + r]);
          ASSERT_EQ(got.sign_exponent(), want.sign_exponent()) << "round " << round << " column " << c << " row " << r;
          ASSERT_EQ(got.significand(), want.significand()) << "round " << round << " column " << c << " row " << r;
        }
    }
  }
}

TEST(ExtendedLanes, RotationsAsSoftExt) {
  const std::vector<const Kernels*> kernels = available();
  if (kernels.empty()) GTEST_SKIP() << "no vector lanes in this build or on this processor";
  for (const Kernels* k : kernels) {
    SCOPED_TRACE(k->name);
    std::mt19937_64 rng(2);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    for (int round = 0; round < 3000; ++round) {
      const int n = 1 + static_cast<int>(rng() % 40);
      std::vector<double> zi(n), zj(n);
      for (double& v : zi) v = awkward(rng, round % 10 == 0);
      for (double& v : zj) v = round % 4 == 0 ? zi[&v - zj.data()] : awkward(rng, round % 10 == 0);
      // c and s with full 64-bit significands, sometimes tiny, sometimes exact.
      const double phi = angle(rng);
      SoftExt c = SoftExt(std::cos(phi)) + SoftExt(std::sin(phi)) * 0x1p-58;
      SoftExt s = SoftExt(std::sin(phi)) - SoftExt(std::cos(phi)) * 0x1p-58;
      if (round % 7 == 0) s = s * std::ldexp(1.0, -static_cast<int>(rng() % 120));
      if (round % 11 == 0) c = 1, s = 0;
      // Products and sums within an ulp of a power of two, and their difference.
      if (round % 5 == 1)
        for (int r = 0; r < n; ++r) {
          zi[r] = 1.0 / static_cast<double>(c) * (1 + static_cast<int>(rng() % 17 - 8) * 0x1p-52);
          zj[r] = 1.0 / static_cast<double>(s) * (1 + static_cast<int>(rng() % 17 - 8) * 0x1p-52);
        }
      // c t within a few 64-bit ulps of the midpoint t + ulp(t)/2, s a from
      // beside it down to negligible: the 64-bit roundings decide the double.
      if (round % 5 == 3) {
        c = SoftExt(1) + SoftExt(0x1p-53) + SoftExt(static_cast<double>(static_cast<int>(rng() % 5) - 2)) * 0x1p-63;
        s = SoftExt(std::ldexp(rng() % 2 != 0 ? 1.0 : -1.0, -50 - static_cast<int>(rng() % 20)));
        for (int r = 0; r < n; ++r) {
          zj[r] = 1 + static_cast<double>(rng() % 16) * 0x1p-52;
          zi[r] = std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(rng), -static_cast<int>(rng() % 70));
        }
      }
      std::vector<double> wi = zi, wj = zj;
      for (int r = 0; r < n; ++r) {
        const SoftExt a = zi[r], t = zj[r];
        wj[r] = static_cast<double>(s * a + c * t);
        wi[r] = static_cast<double>(c * a - s * t);
      }
      k->rotate(zi.data(), zj.data(), n, c, s);
      for (int r = 0; r < n; ++r) {
        ASSERT_EQ(bits(zi[r]), bits(wi[r])) << "round " << round << " row " << r;
        ASSERT_EQ(bits(zj[r]), bits(wj[r])) << "round " << round << " row " << r;
      }
    }
  }
}

}  // namespace
}  // namespace blockeig::lanes
