#pragma once
// The software extended arithmetic in vector lanes: the kernels of
// arithmetic/extended_kernels_soft.cpp for one instruction set each
// (extended_lanes_avx512.cpp, extended_lanes_avx2.cpp,
// extended_lanes_neon.cpp), chosen when the program starts.
//
// A lane holds an extended value as a pair of doubles hi + lo, exactly: hi is
// the value rounded to double (or, for a value halfway between two doubles,
// possibly the other of the two) and lo the rest, at most half of hi's ulp
// and a multiple of the value's 64-bit ulp (-0 when the rest is zero); hi +
// lo rounded once is the value rounded to double either way. Products of
// doubles are split exactly with a fused multiply-add; a sum of two such
// pairs is formed with error-free transformations; every result is rounded
// to 64 bits by rounding its tail to a multiple of that ulp, ties to even,
// which is the x87 unit's rounding. A lane whose operands leave the range
// where this is provably exact (operands far from 1, an exponent gap the pair
// cannot span, a result too close to a rounding boundary to certify) is done
// again by SoftExt: the kernels return the same bits as the plain loops in
// every case. Why that holds, and what each range bound below is for:
// docs/extended.md.
#include <cstddef>

#include "arithmetic/extended_software.hpp"
#include "runtime/index.hpp"

namespace blockeig::lanes {

// The rows a product tile holds side by side.
inline constexpr int tile_rows = 16;

struct Kernels {
  const char* name;
  // The running sums of a tile of tile_rows rows and two columns, over `len`
  // terms: sum(r, c) += panel[k*tile_rows + r] * y[c][k], for k ascending,
  // each sum held as hi[c*tile_rows + r] + lo[...]. The caller guarantees
  // that every operand is zero or within 2^-400..2^400 in magnitude and that
  // every sum is zero or within 2^-900..2^900.
  void (*product_tile)(std::size_t len, const double* panel, const double* y0, const double* y1, double* hi,
                       double* lo);
  // Whether v[0..count) are all zero or within the operand range.
  bool (*operands_in_range)(const double* v, std::size_t count);
  // For k < rows: zj[k] = s zi[k] + c zj[k], zi[k] = c zi[k] - s zj[k] (the
  // old values on the right), each rounded to double once.
  void (*rotate)(double* zi, double* zj, int rows, SoftExt c, SoftExt s);
  // The Householder kernels of arithmetic/extended_kernels.hpp, same arguments.
  // Those that return bool return false when an operand or a sum is outside
  // the lanes' range, having changed nothing the plain loops, which the
  // caller then runs, do not form again.
  bool (*product_sums)(MatrixView<const double> z, int l, const double* u, int first, int last, SoftExt* g);
  void (*update_chunk)(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                       const SoftExt* g);
  bool (*reflect_chunk)(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, SoftExt* g2,
                        SoftExt* acc);
  bool (*reflect_columns)(MatrixView<double> z, int l, const double* v, const double* r, int first, int last);
};

// The Kernels of one instruction set's LaneAlgorithms
// (arithmetic/extended_lanes_algorithms.hpp).
template <class Algorithms>
Kernels kernels_of(const char* name) {
  using A = Algorithms;
  return {name, A::product_tile, A::operands_in_range, A::rotate, A::product_sums, A::update_chunk, A::reflect_chunk,
          A::reflect_columns};
}

const Kernels* avx512_kernels();
const Kernels* avx2_kernels();
const Kernels* neon_kernels();

// Magnitudes the vector paths take without a check of their own.
inline constexpr double smallest_operand = 0x1p-400;
inline constexpr double largest_operand = 0x1p+400;
inline constexpr double smallest_sum = 0x1p-900;
inline constexpr double largest_sum = 0x1p+900;

}  // namespace blockeig::lanes

