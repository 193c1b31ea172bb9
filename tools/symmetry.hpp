#pragma once
// Whether a matrix equals its transpose, and making it do so. blockeig's
// direct solve reads the lower triangle with the diagonal and its block
// sweeps read all of A, so a matrix that is not symmetric is, to blockeig,
// two different matrices.
#include <cstdint>

#include "tools/matrix.hpp"

namespace scrtool {

// Two elements A(i,j) and A(j,i) differ unless they are the same bits, the
// test that decides whether both phases of blockeig see the same matrix.
struct Asymmetry {
  std::int64_t differing = 0;  // pairs i > j whose two elements differ
  std::int64_t pairs = 0;      // all pairs i > j: n(n-1)/2
  // The largest |A(i,j) - A(j,i)|, rounded to double (inf when it exceeds
  // the double range, NaN where a NaN faces another value; NaN ranks above
  // every number), and its place i > j; the first such pair in column order.
  double largest = 0;
  std::int32_t i = 0, j = 0;
  double lower = 0, upper = 0;  // A(i,j) and A(j,i) there
  bool symmetric() const { return differing == 0; }
};
Asymmetry find_asymmetry(const Matrix& m);

// Which elements a symmetrized matrix keeps: the lower triangle (what
// blockeig's direct solve reads), the upper one, or the average of each
// pair. A pair that is already the same bits stays as it is.
enum class Symmetrize { lower, upper, average };
void symmetrize(Matrix& m, Symmetrize rule);

// (x + y) / 2 rounded once to the nearest double, ties to even.
double midpoint(double x, double y);

}  // namespace scrtool
