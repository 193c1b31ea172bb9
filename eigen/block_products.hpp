#pragma once
// The three matrix products of one block of the block sweep.
//
// Every matrix is stored column by column with the leading dimension equal to
// its number of rows; c_b points at the first of the block's m columns of the
// n x n basis C (column s), so its leading dimension is n.
//
// Every output element is one sum that starts from +0 and adds its products in
// ascending order of k. Each product of two doubles and each partial sum is
// formed in extended precision (`ext`) and the running sum stays `ext` from
// term to term; only the finished sum is stored, rounded to double. The
// results are bit for bit those of the plain triple loop that does exactly
// that, for every thread count: the work is split across the pool's threads
// by output tiles, never inside a sum.
//
// n < 1 or m < 1: quick return, nothing is read or written.

namespace blockeig {

// T = A * C_b:  T(i,u) = sum over k = 1..n of A(i,k) * C_b(k,u).
// n   [in]  order of A and number of rows of C_b and T.
// a   [in]  n x n: the matrix A; every element is read.
// c_b [in]  n x m: the block's columns of C.
// m   [in]  number of block columns.
// t   [out] n x m: on exit the product. Must not overlap a or c_b.
void block_times(int n, const double* a, const double* c_b, int m, double* t);

// H = C_b^T * T, its lower triangle with the diagonal: H(l,j) = sum over
// k = 1..n of C_b(k,l) * T(k,j) for l >= j, the elements the block solve
// reads. The strict upper triangle is set to +0 (H is not assumed symmetric,
// and those sums are never formed).
// n   [in]  number of rows of C_b and T.
// m   [in]  number of block columns; order of H.
// c_b [in]  n x m: the block's columns of C.
// t   [in]  n x m: A * C_b from block_times.
// h   [out] m x m: on exit the projected block matrix's lower triangle with
//           the diagonal, +0 above. Must not overlap c_b or t.
void block_projection(int n, int m, const double* c_b, const double* t, double* h);

// CNEW = C_b * U:  CNEW(i,j) = sum over k = 1..m of C_b(i,k) * U(k,j).
// n    [in]  number of rows of C_b and CNEW.
// m    [in]  number of block columns; order of U.
// c_b  [in]  n x m: the block's columns of C (not changed).
// u    [in]  m x m: the block's eigenvectors.
// cnew [out] n x m: on exit the rotated columns. Must not overlap c_b or u.
void block_rotation(int n, int m, const double* c_b, const double* u, double* cnew);

}  // namespace blockeig
