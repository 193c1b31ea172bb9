#pragma once
// A bounded log of the QL iteration's plane rotations, applied to the rows of
// the eigenvector matrix in cache-sized panels.
//
// The rotations of a sweep depend on the tridiagonal data alone, and each row
// of the matrix is transformed independently of the others. So the sweeps can
// be recorded first and applied later, panel by panel and in parallel across
// panels: every row still receives every rotation in the order of the
// sequential code, with c and s in extended precision and each element
// rounded once when stored, so no bit of the result changes.
#include <cstddef>
#include <memory>

#include "arithmetic/extended.hpp"
#include "arithmetic/extended_kernels.hpp"
#include "runtime/index.hpp"

namespace blockeig {

using kernels::Rotation;

// Default bound of the log: 64 MiB of rotations.
inline constexpr std::size_t default_rotation_capacity = (std::size_t{64} << 20) / sizeof(Rotation);

class RotationLog {
 public:
  // A log for an order-n matrix holding at most `capacity` rotations (fewer
  // when the n-th order problem cannot need them, or when memory is short;
  // possibly none, and then every sweep is applied at once).
  RotationLog(int n, std::size_t capacity);
  RotationLog(const RotationLog&) = delete;
  RotationLog& operator=(const RotationLog&) = delete;
  ~RotationLog();

  // Room for the m - l rotations of one sweep over columns l..m, to be
  // filled in the order the sweep forms them (i = m-1 down to l). Applies
  // the recorded sweeps to z first when the log is full. Returns nullptr
  // when the log cannot hold a sweep this long: the caller then rotates z
  // itself (after this call has flushed everything recorded before).
  Rotation* record_sweep(MatrixView<double> z, int l, int m);

  // Applies every recorded rotation to z, in recording order per row, and
  // empties the log.
  void flush(MatrixView<double> z);

 private:
  struct Sweep {
    int l;
    int m;
    std::size_t first;  // index of its first rotation
  };
  void apply_to_rows(MatrixView<double> z, int first_row, int rows) const;

  int n_;
  std::unique_ptr<Rotation[]> rotations_;
  std::unique_ptr<Sweep[]> sweeps_;
  std::size_t rotation_capacity_ = 0;
  std::size_t sweep_capacity_ = 0;
  std::size_t rotation_count_ = 0;
  std::size_t sweep_count_ = 0;
};

namespace detail {
// tql12 with the rotation log bounded by `max_rotations` (tests exercise the
// flushes with small bounds; tql12 itself uses default_rotation_capacity).
void tql12_bounded(int n, double* vec, double* val, int& ierr, int mode, double* offdiag,
                   std::size_t max_rotations);
}  // namespace detail

}  // namespace blockeig
