#pragma once
// The block phase's products. Every element is one sum from zero over k in
// ascending order, each product and partial sum in extended precision, the
// finished sum rounded once to double. Matrices are column-major with the
// leading dimension equal to their row count.
namespace blockeig {

// t [out] n x m: t(i, u) = sum_k a(i, k) * c_b(k, u); a is n x n, c_b n x m.
void block_times(int n, const double* a, const double* c_b, int m, double* t);
// h [out] m x m: h(l, j) = sum_k c_b(k, l) * t(k, j); c_b and t are n x m.
void block_projection(int n, int m, const double* c_b, const double* t, double* h);
// cnew [out] n x m: cnew(i, j) = sum_k c_b(i, k) * u(k, j); u is m x m.
void block_rotation(int n, int m, const double* c_b, const double* u, double* cnew);

}  // namespace blockeig
