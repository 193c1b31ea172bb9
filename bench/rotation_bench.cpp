// How fast can a logged QL rotation be applied to the rows of the eigenvector
// matrix, to the same bits as the x87 unit gives?
//
//   rotation_bench [--columns N] [--rows P] [--sweeps S]
//
// Applies S sweeps of N-1 rotations to a panel of P rows of an order-N matrix
// (the shape tql12's rotation log works on) in three ways and prints the time
// per row and rotation:
//   x87        the program's kernel: each element s*a + c*t (or c*a - s*t)
//              with c and s in extended precision, rounded once when stored;
//   emulated   the same results from AVX2 and FMA: c and s split into two
//              doubles each, the four products as exact double-double pairs,
//              the two sums as double-doubles, and a certificate that the
//              x87's three roundings (two products, one sum) cannot move the
//              value across a rounding boundary of the double; the lanes
//              without a certificate are redone on the x87 unit;
//   ceiling    the emulation without that redoing: its speed limit.
// It checks that "emulated" gives the x87's bits, on the panel and on a set of
// rows built to cancel, and reports how often a lane had to be redone.
//
// This is not the program's code: it measures the one alternative to the x87
// unit for the direct solve's dominant cost, and is why the program keeps the
// x87 kernel (see docs/performance.md).
#include <immintrin.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "arithmetic/extended.hpp"

namespace {

using blockeig::ext;

double thread_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

__attribute__((noinline)) void rotate_x87(double* zi, double* zj, int rows, ext c, ext s) {
  for (int k = 0; k < rows; ++k) {
    const double a = zi[k];
    const double t = zj[k];
    zj[k] = s * a + c * t;
    zi[k] = c * a - s * t;
  }
}

// The certificate, per lane and result: with X and Y the two exact products,
// the x87 rounds each to 64 bits and their sum to 64 bits, moving the value by
// at most 2^-63 (|X| + |Y|) (1 + 2^-63). The double-double sum zh + zl is
// within about 2^-103 (|X| + |Y|) of X + Y, plus a few 2^-1074 when a
// product underflows. So if |zl| + m < half an ulp of zh (half the ulp below
// when zh is a power of two), with m = 2^-63 (1 + 2^-12) (|xh| + |yh|) +
// 2^-900, the x87's value rounds to zh as well. Everything is scaled by 2^53
// so that half an ulp of zh is zh's exponent bits. NaN, infinity, zero and
// results below 2^-847 fail the test and go to the x87.
struct Stats {
  long redone = 0;
};

#define BENCH_AVX __attribute__((target("avx2,fma"), always_inline)) inline

// The exact product h*x + l*x as p = fl(h*x) and e = (h*x - p) + l*x, the
// latter with one rounding.
BENCH_AVX void split_product(__m256d h, __m256d l, __m256d x, __m256d& p, __m256d& e) {
  p = _mm256_mul_pd(h, x);
  e = _mm256_fmadd_pd(l, x, _mm256_fmsub_pd(h, x, p));
}

// The double-double sum (xh + xl) + (yh + yl): an exact two-sum of the heads,
// the tails added, renormalized to zh + zl. Returns zh and clears the lanes of
// ok whose certificate fails.
BENCH_AVX __m256d certified_sum(__m256d xh, __m256d xl, __m256d yh, __m256d yl, __m256d& ok) {
  const __m256d margin = _mm256_set1_pd((0x1p-63 + 0x1p-75) * 0x1p53);
  const __m256d smallest = _mm256_set1_pd(0x1p-847);
  const __m256d two53 = _mm256_set1_pd(0x1p53);
  const __m256d below = _mm256_set1_pd(1.0 - 0x1p-53);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m256d exponent = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FF0000000000000));
  const __m256d h = _mm256_add_pd(xh, yh), b = _mm256_sub_pd(h, xh);
  const __m256d r = _mm256_add_pd(_mm256_sub_pd(xh, _mm256_sub_pd(h, b)), _mm256_sub_pd(yh, b));
  const __m256d l = _mm256_add_pd(_mm256_add_pd(xl, yl), r);
  const __m256d zh = _mm256_add_pd(h, l), zl = _mm256_sub_pd(l, _mm256_sub_pd(zh, h));
  const __m256d m = _mm256_fmadd_pd(
      _mm256_add_pd(_mm256_and_pd(xh, magnitude), _mm256_and_pd(yh, magnitude)), margin, smallest);
  const __m256d u = _mm256_fmadd_pd(_mm256_and_pd(zl, magnitude), two53, m);
  const __m256d half_ulp = _mm256_and_pd(_mm256_mul_pd(zh, below), exponent);
  ok = _mm256_and_pd(ok, _mm256_cmp_pd(u, half_ulp, _CMP_LT_OQ));
  return zh;
}

template <bool redo>
__attribute__((target("avx2,fma"), noinline)) void rotate_emulated(double* zi, double* zj, int rows,
                                                                    ext c, ext s, Stats& stats) {
  const double ch = static_cast<double>(c), sh = static_cast<double>(s);
  const double cl = static_cast<double>(c - ch), sl = static_cast<double>(s - sh);
  if (static_cast<ext>(ch) + cl != c || static_cast<ext>(sh) + sl != s || !(std::fabs(ch) <= 2) ||
      !(std::fabs(sh) <= 2)) {
    rotate_x87(zi, zj, rows, c, s);
    return;
  }
  const __m256d vch = _mm256_set1_pd(ch), vcl = _mm256_set1_pd(cl);
  const __m256d vsh = _mm256_set1_pd(sh), vsl = _mm256_set1_pd(sl);
  constexpr int max_vectors = 1024;
  alignas(32) double original[2 * 4 * max_vectors];
  unsigned char certified[max_vectors];
  int uncertain = 0;
  const int vectors = std::min(rows / 4, max_vectors);
  for (int v = 0; v < vectors; ++v) {
    const __m256d a = _mm256_loadu_pd(zi + 4 * v), t = _mm256_loadu_pd(zj + 4 * v);
    __m256d p_sa, e_sa, p_ct, e_ct, p_ca, e_ca, p_st, e_st;
    split_product(vsh, vsl, a, p_sa, e_sa);
    split_product(vch, vcl, t, p_ct, e_ct);
    split_product(vch, vcl, a, p_ca, e_ca);
    split_product(vsh, vsl, t, p_st, e_st);
    __m256d ok = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d new_j = certified_sum(p_sa, e_sa, p_ct, e_ct, ok);
    const __m256d minus_p_st = _mm256_xor_pd(p_st, _mm256_set1_pd(-0.0));
    const __m256d minus_e_st = _mm256_xor_pd(e_st, _mm256_set1_pd(-0.0));
    const __m256d new_i = certified_sum(p_ca, e_ca, minus_p_st, minus_e_st, ok);
    _mm256_store_pd(original + 8 * v, a);
    _mm256_store_pd(original + 8 * v + 4, t);
    const int mask = _mm256_movemask_pd(ok);
    certified[v] = static_cast<unsigned char>(mask);
    uncertain |= mask ^ 0xF;
    _mm256_storeu_pd(zj + 4 * v, new_j);
    _mm256_storeu_pd(zi + 4 * v, new_i);
  }
  if (redo && uncertain) {
    for (int v = 0; v < vectors; ++v) {
      if (certified[v] == 0xF) continue;
      for (int q = 0; q < 4; ++q) {
        if (certified[v] >> q & 1) continue;
        double a = original[8 * v + q], t = original[8 * v + 4 + q];
        rotate_x87(&a, &t, 1, c, s);
        zi[4 * v + q] = a;
        zj[4 * v + q] = t;
        ++stats.redone;
      }
    }
  }
  if (4 * vectors < rows) rotate_x87(zi + 4 * vectors, zj + 4 * vectors, rows - 4 * vectors, c, s);
}

struct Rotations {
  std::vector<ext> c, s;
};

Rotations random_rotations(int count, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> angle(-3.2, 3.2);
  Rotations r;
  for (int i = 0; i < count; ++i) {
    const ext th = angle(rng);
    r.c.push_back(cosl(th));
    r.s.push_back(sinl(th));
  }
  return r;
}

// Rotations with the x87's and the emulation's results compared bit for bit,
// on rows made to cancel (t close to a multiple of a) and with small angles.
long adversarial_mismatches(std::mt19937_64& rng, long& lanes, long& redone) {
  std::uniform_real_distribution<double> unit(-1, 1);
  long mismatches = 0;
  Stats stats;
  for (int trial = 0; trial < 100000; ++trial) {
    ext c = cosl(3.2L * unit(rng)), s = sinl(3.2L * unit(rng));
    if (trial % 3 == 1) {
      s = ldexpl(s, -static_cast<int>(rng() % 40));
      c = sqrtl(1 - s * s);
    }
    double a[64], t[64], a2[64], t2[64];
    for (int k = 0; k < 64; ++k) {
      a[k] = std::ldexp(unit(rng), -static_cast<int>(rng() % 8));
      t[k] = std::ldexp(unit(rng), -static_cast<int>(rng() % 8));
      if (rng() % 8 == 0) t[k] = static_cast<double>(a[k] * (c / s));
      if (rng() % 8 == 0) t[k] = static_cast<double>(-a[k] * (s / c));
    }
    std::memcpy(a2, a, sizeof a);
    std::memcpy(t2, t, sizeof t);
    rotate_x87(a, t, 64, c, s);
    rotate_emulated<true>(a2, t2, 64, c, s, stats);
    mismatches += std::memcmp(a, a2, sizeof a) != 0 || std::memcmp(t, t2, sizeof t) != 0;
    lanes += 64;
  }
  redone = stats.redone;
  return mismatches;
}

template <class Kernel>
double ns_per_row_rotation(std::vector<double>& z, int n, int rows, int sweeps, const Rotations& r,
                           Kernel kernel) {
  const double t0 = thread_seconds();
  for (int w = 0; w < sweeps; ++w)
    for (int i = n - 2; i >= 0; --i)
      kernel(&z[static_cast<size_t>(i) * rows], &z[static_cast<size_t>(i + 1) * rows], rows,
             r.c[i], r.s[i]);
  return (thread_seconds() - t0) * 1e9 / (double(sweeps) * (n - 1) * rows);
}

}  // namespace

int main(int argc, char** argv) {
  int n = 2000, rows = 64, sweeps = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--columns") n = std::atoi(argv[i + 1]);
    else if (arg == "--rows") rows = std::atoi(argv[i + 1]);
    else if (arg == "--sweeps") sweeps = std::atoi(argv[i + 1]);
  }
  if (n < 2 || rows < 4 || rows > 4096 || sweeps < 1 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: rotation_bench [--columns N>=2] [--rows 4..4096] [--sweeps S>=1]\n");
    return 2;
  }
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) {
    std::printf("rotation_bench: this processor has no AVX2 and FMA; only the x87 kernel exists here\n");
    return 0;
  }
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> unit(-1, 1);
  const Rotations r = random_rotations(n, rng);
  std::vector<double> start(static_cast<size_t>(n) * rows);
  for (double& x : start) x = unit(rng) / std::sqrt(double(n));

  std::vector<double> z_x87 = start, z_emulated = start, z_ceiling = start;
  Stats stats, ignored;
  const double x87 = ns_per_row_rotation(z_x87, n, rows, sweeps, r, rotate_x87);
  const double emulated = ns_per_row_rotation(
      z_emulated, n, rows, sweeps, r,
      [&](double* zi, double* zj, int k, ext c, ext s) { rotate_emulated<true>(zi, zj, k, c, s, stats); });
  const double ceiling = ns_per_row_rotation(
      z_ceiling, n, rows, sweeps, r,
      [&](double* zi, double* zj, int k, ext c, ext s) { rotate_emulated<false>(zi, zj, k, c, s, ignored); });
  const bool same = std::memcmp(z_x87.data(), z_emulated.data(), z_x87.size() * sizeof(double)) == 0;
  const double row_rotations = double(sweeps) * (n - 1) * rows;

  long lanes = 0, redone = 0;
  const long mismatches = adversarial_mismatches(rng, lanes, redone);

  std::printf("Panel of %d rows x %d columns, %d sweeps; processor time of this thread.\n\n", rows, n, sweeps);
  std::printf("| kernel | ns per row and rotation | vs x87 |\n|:---|---:|---:|\n");
  std::printf("| x87 (the program's) | %.3f | 1.00 |\n", x87);
  std::printf("| emulated, AVX2 + FMA, uncertain lanes redone on the x87 | %.3f | %.2f |\n", emulated, x87 / emulated);
  std::printf("| emulated, not redone (speed limit; wrong bits possible) | %.3f | %.2f |\n", ceiling, x87 / ceiling);
  std::printf("\nLanes redone on the panel: %.3f%% of row-rotations. Emulated panel = x87 panel, bit for bit: %s.\n",
              100.0 * double(stats.redone) / row_rotations, same ? "yes" : "NO");
  std::printf("Rows built to cancel: %ld lanes, %.2f%% redone, %ld mismatching rotations.\n", lanes,
              100.0 * double(redone) / double(lanes), mismatches);
  return same && mismatches == 0 ? 0 : 1;
}
