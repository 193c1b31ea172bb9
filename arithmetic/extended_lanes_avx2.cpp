// The lane kernels with AVX2 and FMA (four lanes), for x86-64 processors
// that have them; chosen at run time, the build itself assumes neither.
#include "arithmetic/extended_lanes.hpp"

#if defined(BLOCKEIG_EXTENDED_SOFTWARE) && defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Everything defined from here to the pop, the lane algorithms included,
// is compiled for AVX2 and FMA (their header names what must be included
// before).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

#include "arithmetic/extended_lanes_algorithms.hpp"

namespace {

struct Avx2 {
  static constexpr int width = 4;
  static constexpr int registers = 16;
  typedef double d __attribute__((vector_size(32)));
  typedef std::int64_t i __attribute__((vector_size(32)));
  typedef std::uint64_t u __attribute__((vector_size(32)));
  static d fms(d a, d b, d c) { return _mm256_fmsub_pd(a, b, c); }
  static bool any(i m) { return _mm256_movemask_pd((__m256d)m) != 0; }
  // Decrementing hi's bits changes its exponent field only when hi is a
  // power of two, and that is when lo of the other sign takes the value
  // below it.
  static u binade(d hi, d lo) {
    const u h = (u)hi;
    return (h - ((h ^ (u)lo) >> 63)) & 0x7ff0'0000'0000'0000;
  }
  // The exponent gap of the lane algorithms from the lanes' high halves,
  // where AVX2 has an absolute value (it has none of 64 bits): |x| - |y| of
  // the high 32 bits is the difference of the exponent fields, in units of
  // 2^20, within one.
  static i exponents_between(d x, d y) {
    typedef std::int32_t w __attribute__((vector_size(32)));
    const w sign = (w)_mm256_set1_epi64x(0x7fff'ffff'ffff'ffff);
    const w distance = (w)_mm256_abs_epi32((__m256i)(((w)x & sign) - ((w)y & sign)));
    return (i)(~(distance - (40 << 20)) & (distance - (69 << 20)));
  }
  // p[0], p[stride], p[2 * stride], p[3 * stride].
  static d gather(const double* p, long stride) {
    return (d)_mm256_set_pd(p[3 * stride], p[2 * stride], p[stride], p[0]);
  }
};

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace blockeig::lanes {

const Kernels* avx2_kernels() {
  static const Kernels kernels = kernels_of<LaneAlgorithms<Avx2>>("AVX2 + FMA");
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? &kernels : nullptr;
}

}  // namespace blockeig::lanes

#else

namespace blockeig::lanes {
const Kernels* avx2_kernels() { return nullptr; }
}  // namespace blockeig::lanes

#endif
