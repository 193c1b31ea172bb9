#include "tools/symmetry.hpp"

#include <bit>
#include <cmath>
#include <limits>

#include "arithmetic/extended.hpp"

namespace scrtool {

namespace {

using blockeig::ext;

bool same_bits(double x, double y) { return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y); }

// Orders differences so that a NaN (a pair with no meaningful difference)
// counts as the largest.
bool ranks_above(double d, double than) {
  if (std::isnan(than)) return false;
  return std::isnan(d) || d > than;
}

}  // namespace

Asymmetry find_asymmetry(const Matrix& m) {
  Asymmetry a;
  a.pairs = std::int64_t{m.n} * (m.n - 1) / 2;
  for (std::int32_t j = 1; j <= m.n; ++j) {
    for (std::int32_t i = j + 1; i <= m.n; ++i) {
      const double x = m(i, j), y = m(j, i);
      if (same_bits(x, y)) continue;
      // The difference of two doubles is exact in the extended type.
      const double d = static_cast<double>(blockeig::fabs(ext{x} - ext{y}));
      if (a.differing++ == 0 || ranks_above(d, a.largest)) a = {a.differing, a.pairs, d, i, j, x, y};
    }
  }
  return a;
}

void symmetrize(Matrix& m, Symmetrize rule) {
  for (std::int32_t j = 1; j <= m.n; ++j) {
    for (std::int32_t i = j + 1; i <= m.n; ++i) {
      double& lower = m(i, j);
      double& upper = m(j, i);
      if (same_bits(lower, upper)) continue;
      switch (rule) {
        case Symmetrize::lower: upper = lower; break;
        case Symmetrize::upper: lower = upper; break;
        case Symmetrize::average: lower = upper = midpoint(lower, upper); break;
      }
    }
  }
}

double midpoint(double x, double y) {
  // The sum as s + e exactly (Knuth's two-sum; the extended exponent range
  // cannot overflow on two doubles), halved exactly for the same reason.
  const ext s = ext{x} + ext{y};
  const ext t = s - ext{x};
  const ext e = (ext{x} - (s - t)) + (ext{y} - t);
  const ext h = s / 2;
  const double d = static_cast<double>(h);
  // h is finite exactly when its rounding d is: |h| <= max(|x|, |y|).
  if (!std::isfinite(d) || e == 0 || ext{d} == h) return d;
  // Rounding h alone is right unless h lies exactly halfway between two
  // doubles; then the rest, e / 2, tells on which side the true value lies.
  const double other = std::nextafter(d, h > ext{d} ? std::numeric_limits<double>::infinity()
                                                    : -std::numeric_limits<double>::infinity());
  if (h - ext{d} != ext{other} - h) return d;
  return (e > 0) == (other > d) ? other : d;
}

}  // namespace scrtool
