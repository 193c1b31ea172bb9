#pragma once
// The hot loops of the solver and the block products, written once per
// arithmetic behind ext: for the x87 unit (extended_kernels_x87.cpp, tiles
// sized to its eight registers) and for the software type
// (extended_kernels_soft.cpp, independent sums side by side in vector
// registers). Callers split the work; a kernel computes its share of sums and
// elements, each exactly as the plain loop written beside it would: a sum
// starts from +0 and adds its terms in ascending order, every product and
// partial sum in ext, every stored element rounded to double once.
#include <cstddef>
#include <string_view>

#include "arithmetic/extended.hpp"
#include "runtime/index.hpp"

namespace blockeig::kernels {

// ---- Which kernels run -------------------------------------------------------
//
// The kernels are chosen for the processor when they are first used: on the
// x87 unit its tiles, in the software arithmetic the widest vector lanes the
// processor has. `scalar` runs the plain loops instead, one sum at a time,
// for comparison. Every choice gives the same bits, so the choice may change
// at any time; the program makes it once at start-up (BLOCKEIG_KERNELS).
enum class Choice { processor, scalar };
void choose(Choice choice);
Choice choice();

// The kernels in use, as --version, the results file and the library name
// them: "x87 tiles of 4 sums", "AVX-512", "AVX2 + FMA", "NEON" or "scalar".
std::string_view in_use();

// ---- Block products: out(i,j) = sum over k of X(i,k) * Y(k,j) -------------

// The left factor: X(i,k) = data[i + k*ld], or data[k + i*ld] when transposed.
struct Left {
  const double* data;
  std::size_t ld;
  bool transposed;
};

struct Product {
  std::size_t rows, cols, depth;
  Left x;
  const double* y;  // Y(k,j) = y[k + j*ldy]
  std::size_t ldy;
  double* out;  // out(i,j) = out[i + j*ldo]
  std::size_t ldo;
  bool lower_only = false;  // form only out(i,j) with i >= j, store +0 above
};

// The output block a task of the product should own at most: rows and
// columns.
struct ProductBlock {
  std::size_t rows, cols;
};
ProductBlock product_block();

// Forms and stores out(i,j) for rows i0..i1-1 and columns j0..j1-1 (at most
// product_block() of them); with lower_only, +0 where i < j.
void multiply_block(const Product& p, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1);

// ---- Plane rotations of the QL iteration ----------------------------------

// One rotation of columns i and i+1: for each row k, with t = z(k, i+1),
// z(k, i+1) = s z(k, i) + c t and z(k, i) = c z(k, i) - s t.
struct Rotation {
  ext c;
  ext s;
};

// For k < rows, with a = zi[k] and t = zj[k]: zj[k] = s a + c t and
// zi[k] = c a - s t, each an ext expression rounded once when stored.
void rotate_rows(double* zi, double* zj, int rows, ext c, ext s);

// The rotations of one sweep over columns l..m, rot[0] of columns m-1 and m
// down to rot[m-l-1] of columns l and l+1, applied in that order to rows
// first..first+rows-1 of z.
void rotate_sweep(MatrixView<double> z, int first, int rows, int l, int m, const Rotation* rot);

// ---- The Householder reduction and accumulation (notation of tred12) -------

// g(j) for j = first..last: z(j,1)u(1) + ... + z(j,j)u(j) (row j of the
// lower triangle), then + z(j+1,j)u(j+1) + ... + z(l,j)u(l) (column j).
void product_sums(MatrixView<const double> z, int l, const double* u, int first, int last, ext* g);

// z(j,k) = z(j,k) - u(j) e(k) - g(j) u(k), left to right, for columns
// k = first..last and rows j = k..l.
void update_columns(MatrixView<double> z, int l, const double* u, const double* e, const ext* g, int first,
                    int last);

// The same update for rows r0..r1 of columns k0..k1 (elements on or below the
// diagonal only).
void update_chunk(MatrixView<double> z, int k0, int k1, int r0, int r1, const double* u, const double* e,
                  const ext* g);

// Adds rows r0..r1 (r0 >= k0) of columns k0..k1 into the next step's sums: for
// every element z(j,k) with j >= k, the term z(j,k)v(k) to the row part of
// g2(j) (held in g2[j-1] until row j reaches its diagonal, where it passes to
// acc[j-k0]) and, below the diagonal, z(j,k)v(j) to the column part of g2(k),
// held in acc[k-k0]. Terms arrive in ascending order of k for the row parts
// and of j for the column parts.
void reflect_chunk(MatrixView<const double> z, int k0, int k1, int r0, int r1, const double* v, ext* g2, ext* acc);

// One step of the accumulation for columns j = first..last: g = r(1)z(1,j) +
// ... + r(l)z(l,j), then z(k,j) = z(k,j) - g v(k) for k = 1..l.
void reflect_columns(MatrixView<double> z, int l, const double* v, const double* r, int first, int last);

}  // namespace blockeig::kernels
