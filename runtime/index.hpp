#pragma once
// One-based views of the solver's column-major arrays, so that the loops read
// like the algorithms: z(r, c) is row r, column c of an order-n matrix, d(i)
// is element i of a vector. They hold no data and check nothing.
#include <cstddef>

namespace blockeig {

// An order-n square matrix stored column by column, leading dimension n.
template <class T>
struct MatrixView {
  T* base;
  int n;
  T& operator()(int r, int c) const {
    return base[static_cast<std::size_t>(c - 1) * static_cast<std::size_t>(n) +
                static_cast<std::size_t>(r - 1)];
  }
  // First element of column c (its n rows are contiguous).
  T* column(int c) const { return &(*this)(1, c); }
};

// A vector indexed from 1.
template <class T>
struct VectorView {
  T* base;
  T& operator()(int i) const { return base[static_cast<std::size_t>(i - 1)]; }
};

}  // namespace blockeig
