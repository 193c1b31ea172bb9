#pragma once
// The working precision of every computation: the x87 double-extended
// format, a 64-bit significand with round to nearest even. A value is rounded
// to double only where it is assigned to a double variable or array element
// (always written static_cast<double>), every intermediate stays `ext`.
//
// The build chooses what ext is (BLOCKEIG_EXTENDED): the x87 unit's own
// long double, or SoftExt, the same arithmetic in software, which gives the
// same bits on any machine with IEEE doubles. This header and the files
// named extended_*, *_x87 and *_soft are the only ones that know which; the
// rest of the program uses ext, sqrt(ext), fabs(ext) and the kernels of
// arithmetic/extended_kernels.hpp.
#include <string_view>

#if defined(BLOCKEIG_EXTENDED_SOFTWARE)
#include "arithmetic/extended_software.hpp"
#else
#include <cmath>
#include <limits>
#endif

namespace blockeig {

#if defined(BLOCKEIG_EXTENDED_SOFTWARE)

using ext = SoftExt;
// The arithmetic behind ext, as --version, the results file and the library
// name it.
inline constexpr std::string_view extended_arithmetic = "software";

#else

using ext = long double;
inline constexpr std::string_view extended_arithmetic = "x87";
static_assert(std::numeric_limits<ext>::digits == 64,
              "the x87 build needs long double with a 64-bit significand; configure with -DBLOCKEIG_EXTENDED=software");
inline ext sqrt(ext x) { return std::sqrt(x); }
inline ext fabs(ext x) { return std::fabs(x); }

#endif

// Loads the floating-point environment ext relies on, for the calling thread
// and the threads it starts: exceptions masked, round to nearest even,
// subnormals kept (no flush to zero), and on the x87 unit precision control
// at 64 bits. Pending exception flags are cleared.
void set_extended_environment();

// Value-changing optimisation (-ffast-math, -Ofast) reorders sums and drops
// the rounding to double at every store: the results would no longer be the
// prescribed bits.
#ifdef __FAST_MATH__
#error "blockeig must not be built with -ffast-math or -Ofast"
#endif

}  // namespace blockeig
