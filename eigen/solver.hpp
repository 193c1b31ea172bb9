#pragma once
// The symmetric eigen-solver: Householder reduction to tridiagonal form
// (tred12), implicit QL iteration with an ascending sort (tql12), and three
// small routines on eigenpairs (reporder2, reporder, ortog).
//
// Matrices are column-major with leading dimension equal to the order n;
// element (r, c), one-based, sits at a[(c-1)*n + (r-1)]. Positions are
// one-based in meaning: "position p" is val[p-1] together with column p.
//
// Precision: every intermediate result is computed in blockeig::ext (the
// x87 double-extended format, 64-bit significand) and rounded to double only
// where it is stored in a double variable or array element, so the results
// are the same bits on every run and every machine.
//
// Orders below 1: every routine returns at once and touches nothing
// (tred12 and tql12 set ierr = 0; reporder2 still allocates and releases an
// empty buffer).
//
// NaN or infinity in the input: no routine reads or writes outside its
// arrays, loops forever or crashes. In tql12 the search for the end m of an
// unreduced block that finds no small sub-diagonal element ends at m = n, and
// an eigenvalue whose sub-diagonal element never passes the convergence test
// (a NaN never does) stops the call after 30 iterations with ierr = its
// position. The values left behind are then meaningless NaNs or infinities.
#include <memory>

#include "arithmetic/extended.hpp"

namespace blockeig {

// The work vectors of tred12 for one order, obtained by its caller ahead
// of the call: offdiag, two rows of n doubles, two sets of n extended sums
// and a few ints. The program takes them at the statement of tred12's
// allocation and the block sweeps before their solves run side by side on
// the pool's threads, where a refusal could not be reported in order. Not
// an array of the program: a refusal is no run-time failure.
class Tred12Work {
 public:
  // Room for orders up to n. Returns false, holding nothing, when memory is
  // short; never reports.
  bool obtain(int n) noexcept;

 private:
  friend void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr, Tred12Work& work);

// tred12's phases one at a time, for the benchmarks that time them apart:
// phase 1 reduces vec's lower triangle in place without vectors, phase 2
// with them (d(i) = h, the reflections in vec, offdiag the sub-diagonal),
// phase 3 accumulates the reflections that phase 2 left (val the diagonal).
// Phase 2, 3 and tql12 with mode 2 are the bits of tred12 with mode -2.
void detail_tred12_phases(int n, double* vec, double* val, double* offdiag, int phase, Tred12Work& work);
  friend void detail_tred12_phases(int n, double* vec, double* val, double* offdiag, int phase, Tred12Work& work);
  std::unique_ptr<double[]> offdiag_;
  std::unique_ptr<double[]> rows_;
  std::unique_ptr<ext[]> sums_;
  std::unique_ptr<int[]> progress_;
  int order_ = 0;
};

// Eigenvalues, and with |mode| = 2 eigenvectors, of the symmetric matrix a.
//   n    [in]     order; n < 1 returns at once with ierr = 0.
//   a    [in]     n x n; only the lower triangle with the diagonal is read,
//                 and only when mode >= 0. Never written.
//   vec  [in,out] n x n. With mode < 0, on entry its lower triangle with the
//                 diagonal holds the matrix (a is not read). On exit with
//                 |mode| = 2: column j is the unit eigenvector of val(j);
//                 otherwise scratch (the reduced lower triangle).
//   val  [out]    n; eigenvalues in ascending order when ierr = 0.
//   mode [in]     sign: >= 0 copies a's lower triangle into vec first;
//                 magnitude 2 computes eigenvectors, any other eigenvalues only.
//   ierr [out]    0, or the position at which the QL iteration gave up
//                 (val and vec then as tql12 leaves them, unsorted).
//   work [in]     obtained for an order of n or more (work.obtain(m), m >= n);
//                 its contents are not read.
// Allocates nothing but tql12's rotation log, whose refusal costs no result.
// The O(n^3) loops run on the thread pool; every result is the same to the
// bit for every thread count.
void tred12(int n, const double* a, double* vec, double* val, int mode, int& ierr, Tred12Work& work);

// Eigenvalues, and with mode = 2 eigenvectors, of a symmetric tridiagonal
// matrix, sorted ascending.
//   n       [in]     order; n < 1 returns at once with ierr = 0.
//   vec     [in,out] n x n, only with mode = 2: on entry the transformation
//                    matrix (the identity for the tridiagonal matrix's own
//                    eigenvectors); on exit column j is the eigenvector of
//                    val(j). With any other mode neither read nor written.
//   val     [in,out] n; on entry the diagonal; on exit the eigenvalues
//                    ascending (ierr = 0).
//   ierr    [out]    0, or the position l whose eigenvalue did not converge in
//                    30 iterations: val(1..l-1) final but unsorted, val(l..n)
//                    intermediate, vec column j still paired with val(j).
//   mode    [in]     2: eigenvectors as well; any other value: values only.
//   offdiag [in]     n; offdiag(i), i = 2..n, is element (i, i-1);
//                    offdiag(1) is ignored. Destroyed on exit.
// With mode = 2 and more than one thread at hand the rotations are recorded
// in a log of at most 64 MiB and applied to row panels of vec on the thread
// pool (bit-identical to applying each to two whole columns at once, as one
// thread does, for every thread count). When memory is
// short the log is smaller, or absent and each rotation applied at once: a
// lack of memory never fails the call.
void tql12(int n, double* vec, double* val, int& ierr, int mode, double* offdiag);

// Moves the first eigenpair of every block to the front, in block order.
//   n       [in]     number of eigenpairs.
//   val     [in,out] n; eigenvalues, val(j) paired with column j of vec.
//   vec     [in,out] n x n; on exit positions 2..nblocks hold the pairs that
//                    stood at bstart(2..nblocks), the rest follow in their
//                    previous order. Position 1 is never touched.
//   nblocks [in]     number of blocks; <= 1 moves nothing.
//   bstart  [in]     nblocks; one-based first position of each block,
//                    2 <= b < b' implies b <= bstart(b) < bstart(b') <= n.
//                    bstart(1) is not read. A block b > n or with bstart(b)
//                    outside 1..n is skipped rather than reaching outside the
//                    arrays; bstart(b) < b copies that pair over position b.
// Allocates a column buffer of n doubles per call; a refusal is reported
// under the statement the caller set as the locus.
void reporder2(int n, double* val, double* vec, int nblocks, const int* bstart);
// reporder2 with its column buffer given (n doubles, contents not read):
// the same moves, and nothing allocated.
void reporder2(int n, double* val, double* vec, int nblocks, const int* bstart, double* buffer);

// Sorts the eigenpairs ascending by selection and exchange (the first of
// equal minima is chosen; equal values may change their relative order).
//   n   [in]     number of eigenpairs.
//   val [in,out] n; on exit ascending.
//   vec [in,out] n x n; columns exchanged together with val.
void reporder(int n, double* val, double* vec);

// Orthonormalizes the columns of vec, left to right, by modified Gram-Schmidt.
//   n   [in]     order.
//   vec [in,out] n x n; on exit orthonormal columns. A column that is zero
//                after its projections becomes all NaN, and so does every
//                column after it.
void ortog(int n, double* vec);

}  // namespace blockeig
