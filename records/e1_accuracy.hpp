#pragma once
// How far the block phase's E(1) lies from the direct solve's lowest
// eigenvalue: the second half of describing a run's end, beside whether its
// sweeps settled (DELTA <= TOL). The results file writes it under "end",
// and scrtool computes it the same way from any results file, ended or not.
#include <cstdint>
#include <span>

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
};

// `direct` in any order: sorted when the direct solve's IERR is 0, left as
// the QL iteration gave up otherwise. Takes time in proportion to its size;
// allocates nothing.
E1Accuracy e1_accuracy(double E1, std::span<const double> direct);

}  // namespace blockeig
