#pragma once
// How far the block phase's E(1) lies from the direct solve's lowest
// eigenvalue: the second half of describing a run's end, beside whether its
// sweeps settled (DELTA <= TOL). The results file writes it under "end",
// and scrtool computes it the same way from any results file, ended or not.
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "arithmetic/extended.hpp"

namespace blockeig {

struct E1Accuracy {
  // The smallest direct eigenvalue that is a number; NaN when there is none.
  double lambda_1 = 0;
  // E(1) - lambda_1, worked in the extended type and rounded to a double.
  double difference = 0;
  // ||A||_2 of the symmetric matrix: the largest |direct eigenvalue| (NaN
  // when there is none).
  double norm_2 = 0;
  // (E(1) - lambda_1) / ||A||_2, worked in the extended type and rounded
  // once; NaN for the zero matrix.
  double relative = 0;
  // The rank, counted upwards from 1 over the direct eigenvalues that are
  // numbers, of the direct eigenvalue nearest E(1) (of equally near ones,
  // the lowest; of equal ones, the first); 0 when E(1) is NaN or no direct
  // eigenvalue is a number.
  std::int64_t nearest_rank = 0;
  // (E(1) - lambda_1) / |lambda_1|, worked in the extended type and rounded
  // once: the figure that cannot be misread when ||A||_2 is much larger than
  // |lambda_1|. NaN when lambda_1 is 0 (the file writes null).
  double relative_lambda_1 = 0;
  // lambda_2 - lambda_1, lambda_2 the second smallest direct eigenvalue that
  // is a number (lambda_1 itself when it is repeated), worked in the
  // extended type and rounded once; NaN when fewer than two are numbers.
  double gap = 0;
  // (E(1) - lambda_1) / (lambda_2 - lambda_1), worked in the extended type
  // and rounded once: below 1/2 E(1) is nearer lambda_1 than lambda_2. NaN
  // when the gap is 0 (the file writes null) or NaN.
  double relative_gap = 0;
};

namespace accuracy_detail {

// |v| with comparisons and a difference only; +0 for either zero.
inline ext magnitude(ext v) { return v <= ext(0.0) ? ext(0.0) - v : v; }

}  // namespace accuracy_detail

// The direct eigenvalues in any order: sorted when the direct solve's IERR
// is 0, left as the QL iteration gave up otherwise. They come from
// `for_each_direct(visit)`, which calls visit(lambda) for each of them, in
// the same order every time it is called (three times), so that a caller
// may read them a piece at a time from wherever it keeps them. Takes time in
// proportion to their number; allocates nothing.
template <typename ForEachDirect>
E1Accuracy e1_accuracy_of(double E1, ForEachDirect&& for_each_direct) {
  using accuracy_detail::magnitude;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  E1Accuracy a{nan, nan, nan, nan, 0, nan, nan, nan};
  double lambda_2 = nan;
  for_each_direct([&](double lambda) {
    if (std::isnan(lambda)) return;
    if (std::isnan(a.lambda_1) || lambda < a.lambda_1) {
      lambda_2 = a.lambda_1;
      a.lambda_1 = lambda;
    } else if (std::isnan(lambda_2) || lambda < lambda_2) {
      lambda_2 = lambda;
    }
    if (std::isnan(a.norm_2) || magnitude(ext(lambda)) > ext(a.norm_2))
      a.norm_2 = static_cast<double>(magnitude(ext(lambda)));
  });
  if (std::isnan(a.lambda_1)) return a;
  const ext difference = ext(E1) - ext(a.lambda_1);
  a.difference = static_cast<double>(difference);
  a.relative = static_cast<double>(difference / ext(a.norm_2));
  if (a.lambda_1 != 0) a.relative_lambda_1 = static_cast<double>(difference / magnitude(ext(a.lambda_1)));
  if (!std::isnan(lambda_2)) {
    const ext gap = ext(lambda_2) - ext(a.lambda_1);
    a.gap = static_cast<double>(gap);
    if (gap != ext(0.0)) a.relative_gap = static_cast<double>(difference / gap);
  }
  if (std::isnan(E1)) return a;
  // The direct eigenvalue nearest E1: strictly nearer, or as near and lower
  // (the lowest rank wins a tie). Equal infinities are no distance apart
  // (their difference is NaN).
  double nearest = nan;
  ext distance = ext(0.0);
  for_each_direct([&](double lambda) {
    if (std::isnan(lambda)) return;
    const ext d = E1 == lambda ? ext(0.0) : magnitude(ext(E1) - ext(lambda));
    if (std::isnan(nearest) || d < distance || (d == distance && lambda < nearest)) {
      nearest = lambda;
      distance = d;
    }
  });
  a.nearest_rank = 1;
  for_each_direct([&](double lambda) {
    if (!std::isnan(lambda) && lambda < nearest) ++a.nearest_rank;
  });
  return a;
}

inline E1Accuracy e1_accuracy(double E1, std::span<const double> direct) {
  return e1_accuracy_of(E1, [direct](auto&& visit) {
    for (const double lambda : direct) visit(lambda);
  });
}

}  // namespace blockeig
