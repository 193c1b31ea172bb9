#pragma once
// The QL iteration's relative precision constant.
#include "arithmetic/extended.hpp"

namespace blockeig {

// Halves eps until 1 + eps - eps stops giving 1, with x = 1 + eps held in
// extended precision and the loop capped at 51 halvings. With a 64-bit
// significand it never stops early: the cap is reached at eps = 2^-53, where
// x - eps = 1 still holds, and eps is doubled to 2^-52, the value every
// tolerance of tql12 is built on. (Holding x in a double would give 2^-53.)
inline double ql_precision() {
  constexpr int max_halvings = 51;
  double eps = 0.25;
  ext x = 1.25;
  int count = 0;
  for (;;) {
    const ext t = x - static_cast<ext>(eps);
    ++count;
    if (!(t == 1.0)) break;
    eps = static_cast<double>(static_cast<ext>(eps) * 0.5);
    x = 1.0 + static_cast<ext>(eps);
    if (count == max_halvings) {
      if (x - static_cast<ext>(eps) == 1.0) eps = static_cast<double>(static_cast<ext>(eps) * 2.0);
      break;
    }
  }
  return eps;
}

}  // namespace blockeig
