#pragma once
// The libraries blockeig is measured against: OpenBLAS (dgemm, and LAPACK's
// dsyev and dsyevd through LAPACKE, resolved to OpenBLAS's own LAPACK because
// the benchmark links libopenblas before liblapacke) and Eigen.
#include <lapacke.h>

#include <Eigen/Eigenvalues>
#include <vector>

extern "C" {
// OpenBLAS's own entry points, declared here rather than taken from a cblas.h
// whose flavour depends on the system's alternatives.
void openblas_set_num_threads(int count);
int openblas_get_num_threads(void);
char* openblas_get_corename(void);
char* openblas_get_config(void);
void cblas_dgemm(int order, int trans_a, int trans_b, int m, int n, int k, double alpha, const double* a, int lda,
                 const double* b, int ldb, double beta, double* c, int ldc);
}

namespace blockeig::bench {

inline constexpr int cblas_col_major = 102;
inline constexpr int cblas_no_trans = 111;
inline constexpr int cblas_trans = 112;

// C = op(A) * B for column-major matrices with tight leading dimensions.
inline void dgemm(bool transpose_a, int m, int n, int k, const double* a, const double* b, double* c) {
  cblas_dgemm(cblas_col_major, transpose_a ? cblas_trans : cblas_no_trans, cblas_no_trans, m, n, k, 1.0, a,
              transpose_a ? k : m, b, k, 0.0, c, m);
}

// Eigenvalues (ascending) of the symmetric n x n matrix a (lower triangle)
// by LAPACK's dsyev with jobz = 'N': the peer of blockeig's direct phase.
// Returns LAPACK's info.
inline int lapack_dsyev_values(int n, const std::vector<double>& a, std::vector<double>& val) {
  std::vector<double> work = a;
  return LAPACKE_dsyev(LAPACK_COL_MAJOR, 'N', 'L', n, work.data(), n, val.data());
}

// Eigenvalues (ascending) and eigenvectors of the symmetric n x n matrix a
// (lower triangle), by LAPACK's QL/QR (dsyev) or divide and conquer (dsyevd).
// Return LAPACK's info.
inline int lapack_dsyev(int n, const std::vector<double>& a, std::vector<double>& vec, std::vector<double>& val) {
  vec = a;
  return LAPACKE_dsyev(LAPACK_COL_MAJOR, 'V', 'L', n, vec.data(), n, val.data());
}

inline int lapack_dsyevd(int n, const std::vector<double>& a, std::vector<double>& vec, std::vector<double>& val) {
  vec = a;
  return LAPACKE_dsyevd(LAPACK_COL_MAJOR, 'V', 'L', n, vec.data(), n, val.data());
}

// Eigen's SelfAdjointEigenSolver (tridiagonalization and implicit symmetric
// QR, one thread). Returns 0 on success.
inline int eigen_solve(int n, const std::vector<double>& a, std::vector<double>& vec, std::vector<double>& val) {
  const Eigen::Map<const Eigen::MatrixXd> m(a.data(), n, n);
  Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(m, Eigen::ComputeEigenvectors);
  if (solver.info() != Eigen::Success) return 1;
  Eigen::Map<Eigen::VectorXd>(val.data(), n) = solver.eigenvalues();
  Eigen::Map<Eigen::MatrixXd>(vec.data(), n, n) = solver.eigenvectors();
  return 0;
}

}  // namespace blockeig::bench
