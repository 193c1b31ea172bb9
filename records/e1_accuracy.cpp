#include "records/e1_accuracy.hpp"

#include <cmath>
#include <limits>

#include "eigen/extended.hpp"

namespace blockeig {

namespace {

// |v| with comparisons and a difference only; +0 for either zero.
ext magnitude(ext v) { return v <= ext(0.0) ? ext(0.0) - v : v; }

// The direct eigenvalue nearest E1, or NaN when none is a number.
double nearest_to(double E1, std::span<const double> direct) {
  double nearest = std::numeric_limits<double>::quiet_NaN();
  ext distance = ext(0.0);
  for (const double lambda : direct) {
    if (std::isnan(lambda)) continue;
    // Equal infinities are no distance apart (their difference is NaN).
    const ext d = E1 == lambda ? ext(0.0) : magnitude(ext(E1) - ext(lambda));
    // Strictly nearer, or as near and lower: the lowest rank wins a tie.
    if (std::isnan(nearest) || d < distance || (d == distance && lambda < nearest)) {
      nearest = lambda;
      distance = d;
    }
  }
  return nearest;
}

}  // namespace

E1Accuracy e1_accuracy(double E1, std::span<const double> direct) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  E1Accuracy a{nan, nan, nan, nan, 0};
  for (const double lambda : direct) {
    if (std::isnan(lambda)) continue;
    if (std::isnan(a.lambda_1) || lambda < a.lambda_1) a.lambda_1 = lambda;
    if (std::isnan(a.norm_2) || magnitude(ext(lambda)) > ext(a.norm_2))
      a.norm_2 = static_cast<double>(magnitude(ext(lambda)));
  }
  if (std::isnan(a.lambda_1)) return a;
  const ext difference = ext(E1) - ext(a.lambda_1);
  a.difference = static_cast<double>(difference);
  a.relative = static_cast<double>(difference / ext(a.norm_2));
  if (std::isnan(E1)) return a;
  const double nearest = nearest_to(E1, direct);
  a.nearest_rank = 1;
  for (const double lambda : direct)
    if (!std::isnan(lambda) && lambda < nearest) ++a.nearest_rank;
  return a;
}

}  // namespace blockeig
