#pragma once
// SIGN(a, b): the magnitude of the double a with the sign bit of the double b.
// The sign bit decides, so b = -0.0 gives -|a| and b = +0.0 gives +|a|; a NaN
// b passes its sign bit on as well.
#include <cmath>

namespace blockeig {

inline double sign(double a, double b) { return std::copysign(a, b); }

}  // namespace blockeig
