// The lane kernels with NEON (two lanes), on every 64-bit ARM processor.
#include "arithmetic/extended_lanes.hpp"

#if defined(BLOCKEIG_EXTENDED_SOFTWARE) && defined(__aarch64__)

#include <arm_neon.h>

#include <bit>
#include <cstdint>
#include <type_traits>

// NEON is in the build's own instruction set: no target of its own.
#include "arithmetic/extended_lanes_algorithms.hpp"

namespace {

struct Neon {
  static constexpr int width = 2;
  static constexpr int registers = 32;
  typedef double d __attribute__((vector_size(16)));
  typedef std::int64_t i __attribute__((vector_size(16)));
  typedef std::uint64_t u __attribute__((vector_size(16)));
  static d fms(d a, d b, d c) { return (d)vfmaq_f64((float64x2_t)(-c), (float64x2_t)a, (float64x2_t)b); }
  static bool any(i m) { return (m[0] | m[1]) < 0; }
  // Decrementing hi's bits changes its exponent field only when hi is a
  // power of two, and that is when lo of the other sign takes the value
  // below it.
  static u binade(d hi, d lo) {
    const u h = (u)hi;
    return (h - ((h ^ (u)lo) >> 63)) & 0x7ff0'0000'0000'0000;
  }
  static u magnitude(u x) { return (u)vabsq_s64((int64x2_t)x); }
  static d gather(const double* p, long stride) { return d{p[0], p[stride]}; }
};

}  // namespace

namespace blockeig::lanes {

const Kernels* neon_kernels() {
  static const Kernels kernels = kernels_of<LaneAlgorithms<Neon>>("NEON");
  return &kernels;
}

}  // namespace blockeig::lanes

#else

namespace blockeig::lanes {
const Kernels* neon_kernels() { return nullptr; }
}  // namespace blockeig::lanes

#endif
