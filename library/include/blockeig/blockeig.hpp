#pragma once
// blockeig as a library: the eigenvalues of a real symmetric matrix exactly
// as the blockeig program computes them (Householder reduction and the QL
// algorithm with implicit shifts in extended precision, and the block
// Rayleigh-Ritz sweeps), the same bits on every run and every thread count,
// and the program's matrix files.
//
// Errors. Every failure is thrown as blockeig::Error, whose code() tells its
// kind (Errc below) and what() says what went wrong; nothing is half done
// when it is thrown (a file being written keeps its old content). The
// library never ends the process, writes nothing on standard output or
// standard error, and installs no signal handler. An exception thrown by an
// observer ends the sweeps and reaches the caller unchanged.
//
// Calls. Each call computes under the floating-point environment its
// arithmetic needs (round to nearest, every exception masked, on x86 the
// x87 unit at extended precision) and gives the caller's environment back
// when it returns and while an observer runs. The threads of a call are a
// process-wide pool: calls run one at a time, and a call made from another
// thread while one runs waits for it to end. A call made from inside an
// observer runs at once, inside the call that runs the observer. A child
// process forked while other threads are inside calls (computing, or in an
// observer) uses the library as a fresh process does: what those threads
// held is let go in the child, which has none of them, and the parent's
// calls go on undisturbed. The library's work fits any caller's stack: a
// caller with less stack than a task needs (threads of 32 or 64 KiB) has the
// tasks run on a thread of the library's, and waits. A pool of far more
// threads than the default (one per core) shrinks back to it after its call;
// between calls every thread sleeps.
#if __cplusplus < 202002L
#error "blockeig/blockeig.hpp needs C++20 (-std=c++20)"
#endif

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#define BLOCKEIG_API __attribute__((visibility("default")))

namespace blockeig {

// The library's version ("0.1.0") and the arithmetic behind its extended
// precision ("x87", or "software" for the software arithmetic it was built
// with).
BLOCKEIG_API std::string_view version() noexcept;
BLOCKEIG_API std::string_view arithmetic() noexcept;
// The kernels its calls run, chosen for this processor when the library is
// loaded: "x87 tiles of 4 sums", or the software arithmetic's vector lanes
// "AVX-512", "AVX2 + FMA", "NEON", or "scalar" where the processor has none.
// The library reads no environment: BLOCKEIG_KERNELS is the program's
// setting. Every choice gives the same bits.
BLOCKEIG_API std::string_view kernels_in_use() noexcept;

// The limits of the calls below, for callers that state them (the Python
// module takes its own from here); a call outside them throws Error.
struct Limits {
  std::int64_t min_order = 0;       // a matrix's order is from min_order (2) ...
  std::int64_t max_order = 0;       // ... to max_order (2147483647), a matrix file's
  std::int64_t max_file_order = 0;  // to max_file_order (11180: its matrix fits one record)
  int max_threads = 0;              // Options::threads: 0 (one per core) or 1 to max_threads
};
BLOCKEIG_API Limits limits() noexcept;

enum class Errc {
  bad_order = 1,     // an order below 2, or one that does not fit (a matrix file's record, int32)
  bad_matrix,        // a null pointer, or a leading dimension from 1 to n - 1 with row_stride 1
  bad_block_count,   // a block count outside 1 to n/2 (every block needs 2 positions)
  bad_thread_count,  // a thread count outside 0 to 1024
  out_of_memory,     // memory refused
  file_error,        // a file could not be opened, read or written: system_error() is the errno
                     // (EINVAL: a name holding a NUL, or a file that is not a regular one)
  damaged_file,      // a matrix file that the program would refuse to read
  bad_sweep_rule,    // a tol that is not a positive number, a max_sweeps outside 1 to 99999
  bad_partition,     // block sizes below 2, not summing to the order, or not nblocks of them
  bad_start,         // a start basis of another order, or whose columns are not orthonormal
};

class BLOCKEIG_API Error : public std::exception {
 public:
  Error(Errc code, std::string_view message, int system_error = 0) noexcept;
  Errc code() const noexcept { return code_; }
  int system_error() const noexcept { return system_error_; }
  const char* what() const noexcept override;

 private:
  Errc code_;
  int system_error_;
  std::shared_ptr<const std::string> message_;  // null when there was no memory for it
};

// A symmetric matrix of order n where the caller holds it, read in place
// (never copied as a whole, never written): element (i, j), counted from 0,
// at data[i * row_stride + j * ld]. Stored column by column with leading
// dimension ld >= n it is {data, n, ld}; stored row by row, {data, n, 1, ld}.
// Strides may be negative (rows or columns from the last: data is then the
// address of element (0, 0)) or 0 (every row, or column, the same); only a
// leading dimension from 1 to n - 1 with row_stride 1 (columns that overlap)
// is refused.
struct MatrixRef {
  const double* data = nullptr;
  std::int64_t n = 0;
  std::int64_t ld = 0;
  std::int64_t row_stride = 1;
};

struct Options {
  // Threads for the large loops, the caller's included; 0 takes one per
  // core. The results are the same bits for every count.
  int threads = 0;

  // block_sweeps() only; the defaults are the program's, and give its bits.
  // The sweeps end after the sweep whose DELTA is no more than tol (a
  // positive number), or after max_sweeps sweeps (1 to 99999).
  double tol = 1.0e-6;
  std::int32_t max_sweeps = 101;
  // The block sizes in order, each at least 2, summing to n, in place of the
  // program's cut (n / nblocks positions per block, the last taking the
  // rest); empty for the program's. There must be nblocks of them.
  std::vector<std::int32_t> partition = {};
  // The basis the sweeps start from: an n x n matrix whose columns are
  // orthonormal (C^T C within 1e-12 of the identity, element by element),
  // read once and copied; data null (the default) for the identity.
  MatrixRef start = {};
};

// The direct solve of the program: only the lower triangle with the diagonal
// is read.
struct DirectSolution {
  std::vector<double> values;   // n eigenvalues, ascending when IERR is 0
  std::vector<double> vectors;  // eigensystem(): n x n column by column, column j
                                // the unit eigenvector of values[j]; eigenvalues(): empty
  std::int32_t IERR = 0;        // 0, or the position at which the QL iteration gave
                                // up after 30 iterations (the values are then as it
                                // left them, unsorted: what the program shows)
};
BLOCKEIG_API DirectSolution eigenvalues(MatrixRef a, const Options& options = {});
BLOCKEIG_API DirectSolution eigensystem(MatrixRef a, const Options& options = {});

// What an observer of the block sweeps sees after every sweep. The spans
// are valid during the call only.
struct Sweep {
  std::int32_t ITER = 0;               // 1 for the first sweep
  std::span<const std::int32_t> BDIM;  // the layout: block IB holds BDIM[IB-1] positions
  std::span<const std::int32_t> BSTART;  // from BSTART[IB-1] on
  std::span<const double> W;           // every block's eigenvalues in ascending order, block
                                       // after block: n values, block IB's from W[BSTART[IB-1]-1]
  std::span<const double> E;           // E(1) .. E(n) after the sweep's reordering
  double DELTA = 0;                    // |E(1) - E(1) of the sweep before| (1.0e12 before the first)

  std::span<const double> block_W(std::int32_t IB) const {
    return W.subspan(static_cast<std::size_t>(BSTART[IB - 1] - 1), static_cast<std::size_t>(BDIM[IB - 1]));
  }
};
enum class Decision { go_on, stop };
using Observer = std::function<Decision(const Sweep&)>;

struct BlockResult {
  std::vector<std::int32_t> BDIM, BSTART;  // the layout
  std::vector<double> E;                   // the final E(1) .. E(n), by position
  std::int32_t sweeps = 0;                 // the last sweep's ITER
  double DELTA = 0;                        // the last sweep's
  bool converged = false;                  // DELTA <= tol
  bool stopped = false;                    // the observer stopped the sweeps
};
// The most blocks an order n takes: every block needs at least 2
// positions, so block_sweeps takes 1 to n / 2 blocks (0 for n below 2).
BLOCKEIG_API std::int32_t max_block_count(std::int32_t n) noexcept;
// The program's block phase on `a` in `nblocks` blocks, 1 to
// max_block_count(n) (all of a is read):
// sweeps until E(1) moves by no more than 1.0e-6, after 101 sweeps, or when
// the observer says stop; the observer, if any, runs after every sweep.
// options.tol, max_sweeps, partition and start give the sweeps another
// rule, layout and start.
BLOCKEIG_API BlockResult block_sweeps(MatrixRef a, std::int32_t nblocks, const Observer& observer = {},
                                      const Options& options = {});

// The solver's two routines on eigenpairs and bases, which the program
// itself does not call. Each runs on the calling thread.
//
// Sorts eigenpairs into ascending order of their values, in place, as the
// direct solve sorts its own: values[j] is paired with column j of vectors
// (n x n, column by column, n = values.size()), and the columns move with
// their values. Selection and exchange: of equal values the first one is
// chosen, and equal values may change their relative order (their columns
// with them); a comparison with a NaN is false, so a NaN is never chosen,
// and one that heads the values still unsorted keeps its place. Moves copy
// bits. Throws Error
// (bad_matrix) when vectors does not hold n * n doubles.
BLOCKEIG_API void sort_eigenpairs(std::span<double> values, std::span<double> vectors);
// Makes the n columns of `a` (n x n, column by column) orthonormal, in
// place, by modified Gram-Schmidt from left to right in extended precision:
// column j loses its projections on columns 1 .. j-1 as they now are, one
// after the other, and is then scaled to unit length. A column that is zero
// after its projections becomes all NaN, and so does every column after
// it. Throws Error: bad_order for n outside 0 to 2147483647, bad_matrix
// when `a` does not hold n * n doubles.
BLOCKEIG_API void orthonormalize(std::span<double> a, std::int64_t n);

// Matrix files (A.SCR): record 1 holds the order n, record 2 the n x n
// matrix column by column, each framed by its byte length before and after,
// numbers and markers in the byte order given.
enum class ByteOrder { little, big };
struct Matrix {
  std::int32_t n = 0;
  std::vector<double> elements;  // n * n, column by column
  MatrixRef ref() const noexcept { return {elements.data(), n, n}; }
};
// Reads exactly what the program reads (longer records and records after
// the matrix included) and refuses what it refuses.
BLOCKEIG_API Matrix read_scr(const std::string& path, ByteOrder order = ByteOrder::little);
// Writes all n * n elements; an existing file is replaced only once the new
// one is complete on the disk.
BLOCKEIG_API void write_scr(const std::string& path, MatrixRef a, ByteOrder order = ByteOrder::little);

}  // namespace blockeig
