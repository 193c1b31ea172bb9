// The lane kernels with AVX-512 (eight lanes), for x86-64 processors that
// have it; chosen at run time, the build itself assumes none.
#include "arithmetic/extended_lanes.hpp"

#if defined(BLOCKEIG_EXTENDED_SOFTWARE) && defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Everything defined from here to the pop, the lane algorithms included,
// is compiled for AVX-512 (their header names what must be included
// before).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,fma")
#endif

#include "arithmetic/extended_lanes_algorithms.hpp"

namespace {

struct Avx512 {
  static constexpr int width = 8;
  static constexpr int registers = 32;
  typedef double d __attribute__((vector_size(64)));
  typedef std::int64_t i __attribute__((vector_size(64)));
  typedef std::uint64_t u __attribute__((vector_size(64)));
  static d fms(d a, d b, d c) { return _mm512_fmsub_pd(a, b, c); }
  static bool any(i m) { return _mm512_movepi64_mask((__m512i)m) != 0; }
  // The sum rounded toward zero never crosses a power of two upward.
  static u binade(d hi, d lo) {
    return (u)_mm512_maskz_add_round_pd(0xff, hi, lo, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC) & 0x7ff0'0000'0000'0000;
  }
  static u magnitude(u x) { return (u)_mm512_maskz_abs_epi64(0xff, (__m512i)x); }
  // p[0], p[stride], ..., p[7 * stride].
  static d gather(const double* p, long stride) {
    const __m512i index = _mm512_mullo_epi64(_mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0), _mm512_set1_epi64(stride));
    return (d)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, index, p, 8);
  }
};

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace blockeig::lanes {

const Kernels* avx512_kernels() {
  static const Kernels kernels = kernels_of<LaneAlgorithms<Avx512>>("AVX-512");
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") ? &kernels : nullptr;
}

}  // namespace blockeig::lanes

#else

namespace blockeig::lanes {
const Kernels* avx512_kernels() { return nullptr; }
}  // namespace blockeig::lanes

#endif
