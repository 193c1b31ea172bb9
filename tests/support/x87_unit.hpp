#pragma once
// The judges of the extended arithmetic on the tests' side (tests, fuzzing):
// the x87 unit itself, whatever ext is, and a widening that is exactly the
// language's.
#include "arithmetic/extended.hpp"

namespace blockeig {

#if defined(__x86_64__) || defined(__i386__)
// The x87 unit, which the software type is checked against on x86.
using x87_unit = long double;
// The unit's square root, out of the library's and the compiler's reach.
inline x87_unit x87_unit_sqrt(x87_unit a) {
  __asm__("fsqrt" : "+t"(a));
  return a;
}
#endif

// v converted to ext through memory, so that the conversion itself happens as
// the language defines it (a signalling NaN becomes quiet) before the value
// meets another operand: otherwise the x87 may multiply by the double in
// memory directly and let a quiet NaN win whatever the payloads.
inline ext widened_in_memory(double v) {
  ext x = v;
  __asm__ volatile("" : "+m"(x));
  return x;
}

}  // namespace blockeig
