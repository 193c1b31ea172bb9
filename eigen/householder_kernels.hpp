#pragma once
// The O(n^3) loops of tred12, split so that they can run in parallel and
// stream through memory, without changing a bit: every sum keeps its terms,
// their order and its extended-precision accumulator from zero, and every
// element is rounded once when stored. Work is split by whole sums and whole
// elements only.
//
// Notation as in tred12: z is the order-n working matrix (one-based), l the
// order of the leading block a step works on, u(1..l) the step's scaled
// Householder row as stored (doubles).
#include "arithmetic/extended.hpp"
#include "runtime/index.hpp"

namespace blockeig {

// g(j) for j = 1..l, the sums of one reduction step: z(j,1)u(1) + ... +
// z(j,j)u(j) (row j of the lower triangle), then + z(j+1,j)u(j+1) + ... +
// z(l,j)u(l) (column j), from 0 in this order.
//   z [in]  order-n matrix; its leading l x l lower triangle is read.
//   u [in]  l doubles, u[k-1] = u(k).
//   g [out] l sums, g[j-1] = g(j).
void reflect_products(MatrixView<const double> z, int l, const double* u, ext* g);

// The rank-two update of one reduction step: for 1 <= k <= j <= l,
// z(j,k) = z(j,k) - u(j) e(k) - g(j) u(k), left to right.
//   z [in,out] order-n matrix; exactly its leading l x l lower triangle is
//              written.
//   u [in]     l doubles; e [in] l doubles (the new e(k)); g [in] l sums,
//              unrounded (g(j) = e(j) before its rounding).
void rank_two_update(MatrixView<double> z, int l, const double* u, const double* e,
                     const ext* g);

// The rank-two update of one step fused with the sums of the next, in one
// pass over the leading l x l lower triangle: every element is updated as
// rank_two_update does it, and the sums g2(j), j = 1..l, are formed from the
// updated elements exactly as reflect_products(z, l, v, g2) would form them
// after the update (each one sum from 0, its terms in the same order).
//   z [in,out] order-n matrix; exactly its leading l x l lower triangle is
//              written.
//   u, e, g [in] as for rank_two_update (at least l of each).
//   v  [in]  l doubles: the next step's Householder row.
//   g2 [out] l sums.
//   progress [scratch] fused_progress_size(l) ints.
void update_and_reflect(MatrixView<double> z, int l, const double* u, const double* e, const ext* g,
                        const double* v, ext* g2, int* progress);
// Scratch ints that update_and_reflect needs for order l.
int fused_progress_size(int l);

// One step of the accumulation: for every column j = 1..l, g = r(1)z(1,j) +
// ... + r(l)z(l,j) (from 0, in this order), then z(k,j) = z(k,j) - g z(k,v)
// for k = 1..l, where column v of z holds the reflection.
//   z [in,out] order-n matrix; rows and columns 1..l written, column v
//              (v > l) read.
//   r [in]     l doubles: row v of z, r[k-1] = z(v, k).
void apply_reflection(MatrixView<double> z, int l, int v, const double* r);

}  // namespace blockeig
