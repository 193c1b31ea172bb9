#pragma once
// The checkpoint file: the state of the block phase at the end of a sweep,
// from which a stopped run resumes and prints the very bytes it would have
// printed. Layout of format version 1 (numbers in the writer's byte order,
// which the mark shows; doubles as their 8 bytes):
//
//   offset        bytes  content
//   0             16     magic "blockeig chkpnt\n"
//   16            4      byte-order mark 0x01020304
//   20            4      format version
//   24            8      size of the whole file in bytes
//   32            32     SHA-256 of the input matrix (its identity, as the
//                        results file's matrix_sha256)
//   64            4      N
//   68            4      NBLOCKS
//   72            4      ITER, the last sweep done
//   76            4      IERR
//   80            8      EPREV
//   88            4      BLOCKEIG_CONVERT under which A.SCR was read
//   92            4      0
//   96            8      L, bytes of console lines
//   104           8      R, bytes of the results file's state (0: none)
//   112           8N^2   C, column by column
//                 8N     E
//                 L      the console lines of sweeps 1 to ITER
//                 R      the results file's state
//   size - 32     32     SHA-256 of every byte before it
//
// Version 2 is version 1 with the sweeps' rule after the header, which C
// and the rest then follow at offset 128:
//
//   112           8      TOL
//   120           4      the sweep limit (max_sweeps)
//   124           4      0
//
// A run of the program's rule (TOL 1.0e-6, 101 sweeps) writes version 1,
// which every blockeig reads; one given --tol or --max-sweeps writes
// version 2, which a blockeig that knows only version 1 refuses as newer.
//
// The first 32 bytes and the last 32 keep their meaning in every version,
// so that a reader tells a damaged or cut file from a newer one.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "records/text_store.hpp"
#include "runtime/replace_file.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

// The newest version this reads and writes.
inline constexpr int checkpoint_format_version = 2;
// The header of version 1, and what version 2 adds to it.
inline constexpr std::size_t checkpoint_header_size = 112;
inline constexpr std::size_t checkpoint_rule_size = 16;
inline constexpr std::size_t checkpoint_digest_size = 32;

// The fixed part of a checkpoint.
struct CheckpointFields {
  std::array<std::uint8_t, 32> matrix_sha256{};
  std::int32_t N = 0;
  std::int32_t NBLOCKS = 0;
  std::int32_t ITER = 0;
  std::int32_t IERR = 0;
  double EPREV = 0;
  runtime::Convert convert = runtime::Convert::native;
  run::SweepRule rule;              // version 1: the program's
  std::uint64_t output_bytes = 0;   // set by CheckpointImage
  std::uint64_t results_bytes = 0;  // set by CheckpointImage
  std::array<std::uint8_t, 32> digest{};  // the file's own, set by check_checkpoint
};

// A checkpoint's bytes, as the pieces of a file replacement. The image views
// C, E, the output and the state's pieces (which may lie in files); they
// must not change while it is in use.
class CheckpointImage {
 public:
  // C: N x N doubles, E: N doubles; at most three pieces of state.
  CheckpointImage(CheckpointFields fields, const double* C, const double* E, runtime::Piece output,
                  std::span<const runtime::Piece> results_state);
  CheckpointImage(const CheckpointImage&) = delete;
  CheckpointImage& operator=(const CheckpointImage&) = delete;
  std::span<const runtime::Piece> pieces() const { return {pieces_, count_}; }
  // 0, or the errno of a piece that could not be read for the digest.
  int error() const { return error_; }

 private:
  char header_[checkpoint_header_size + checkpoint_rule_size];
  std::array<std::uint8_t, checkpoint_digest_size> digest_;
  runtime::Piece pieces_[8];
  std::size_t count_ = 0;
  int error_ = 0;
};

// Checks the whole checkpoint open on `fd`: its magic, byte order, size,
// version, fields (against the limits of a run and the sizes such a run
// writes) and digest, and, when given, fits_run(fields) for what the run
// knows at start-up ("" when they fit), all before the digest, which costs
// a read of the whole file. Returns "" and sets `fields`, or says what is
// wrong, as the end of a sentence that begins with the file's name: "is
// truncated: ...", "is damaged: ...", "has format version 3, ...".
std::string check_checkpoint(int fd, CheckpointFields& fields,
                             const std::function<std::string(const CheckpointFields&)>& fits_run = {});

// Checks that the content of the checkpoint open on `fd`, found sound with
// `fields` before, is what a run leaves at the end of sweep ITER: the
// console lines of sweeps 1 to ITER, each as the program prints it, the last
// one showing the saved E; and EPREV that E(1). Returns "" or what is wrong,
// as above.
std::string check_checkpoint_content(int fd, const CheckpointFields& fields);

// The format version of a checkpoint with these fields (1 for the
// program's rule, else 2), and the size of its header.
int checkpoint_version(const CheckpointFields& fields);
std::size_t checkpoint_header_bytes(const CheckpointFields& fields);

// Where the results file's state lies in a checkpoint with these fields.
std::uint64_t results_state_offset(const CheckpointFields& fields);

// Hands `length` bytes of the file open on `fd`, from `offset`, to `take` a
// piece at a time. Returns "" or what is wrong, as above.
std::string read_piecewise(int fd, std::uint64_t offset, std::uint64_t length,
                           const std::function<void(std::string_view)>& take);

// Reads the checkpoint open on `fd`, found sound with `fields` before, into
// C (N x N), E (N), and the console lines and the results file's state
// appended to the two stores (and committed), and checks its digest again.
// Returns "", or what is wrong, as above: a file that is no longer the one
// checked "has changed since the run began".
std::string load_checkpoint(int fd, const CheckpointFields& fields, double* C, double* E, TextStore& output,
                            TextStore& results_state);

}  // namespace blockeig
