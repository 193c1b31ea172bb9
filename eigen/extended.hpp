#pragma once
// The working precision of every computation: the x87 extended type with a
// 64-bit significand. A value is rounded to double only where it is assigned
// to a double variable or array element; every intermediate stays `ext`.
#include <limits>
#include <string_view>

namespace blockeig {

using ext = long double;
// The arithmetic behind ext, as --version, the results file and the library
// name it.
inline constexpr std::string_view extended_arithmetic = "x87";
static_assert(std::numeric_limits<ext>::digits == 64,
              "blockeig needs long double with a 64-bit significand (x87 extended)");
// Value-changing optimisation (-ffast-math, -Ofast) reorders sums and drops
// the rounding to double at every store: the results would no longer be the
// prescribed bits.
#ifdef __FAST_MATH__
#error "blockeig must not be built with -ffast-math or -Ofast"
#endif

}  // namespace blockeig
