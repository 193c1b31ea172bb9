// The floating-point environment of the two arithmetics behind ext.
#include <cfenv>

#include "arithmetic/extended.hpp"

namespace blockeig {

#if defined(BLOCKEIG_EXTENDED_SOFTWARE)

// The software type works on IEEE doubles: it needs round to nearest even
// and subnormals that are not flushed to zero, which is the default
// environment on every platform it supports.
void set_extended_environment() { std::fesetenv(FE_DFL_ENV); }

#else

void set_extended_environment() {
  // x87 control word 0x037F: exceptions masked (bits 0-5), precision control
  // 64-bit significand (bits 8-9 = 11), rounding to nearest even (bits
  // 10-11 = 00).
  const unsigned short x87_control = 0x037F;
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87_control));
  // MXCSR 0x1F80: exceptions masked (bits 7-12), flags clear, rounding to
  // nearest, flush-to-zero (bit 15) and denormals-are-zero (bit 6) off.
  const unsigned int sse_control = 0x1F80;
  __asm__ volatile("ldmxcsr %0" : : "m"(sse_control));
}

#endif

}  // namespace blockeig
