#pragma once
// A slow, independent reference for the I, F and G fields: the double is
// taken apart into its integer significand and power of two, scaled by
// powers of ten in big-integer arithmetic, divided exactly and rounded half
// to even by comparing twice the remainder with the divisor. Nothing here
// uses floating-point arithmetic or the library's conversions.
#include <cstdint>
#include <string>

namespace blockeig::fuzz {

// Fw.d of x.
std::string reference_fixed(double x, int w, int d);
// Gw.d (e < 0) or Gw.dEe of x.
std::string reference_general(double x, int w, int d, int e);
// Iw (m < 0) or Iw.m of v; w = 0 is the minimal width (at least one
// character).
std::string reference_integer(std::int32_t v, int w, int m);

}  // namespace blockeig::fuzz
