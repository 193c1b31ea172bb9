#pragma once
// What blockeig does with a given A.SCR: accept it, or stop at which
// statement line with which run-time message. The prediction follows
// blockeig's reading of records 1 and 2 step by step.
#include <cstdint>
#include <string>

#include "tools/record_codec.hpp"

namespace scrtool {

// blockeig's statement lines that can fail on A.SCR.
inline constexpr int line_read_order = 11;
inline constexpr int line_allocate = 13;
inline constexpr int line_read_matrix = 15;
// The allocation of the N*N matrix fails above this many bytes.
inline constexpr std::uint64_t max_allocation_bytes = 4'294'967'295u;

struct Verdict {
  bool accepted = false;
  int line = 0;         // statement line of the failure; 0 for the order check or acceptance
  int code = 0;         // run-time error code: -1, 214 or 215; 0 otherwise
  int exit_status = 0;  // 2 after a run-time error, 1 after the allocation failure
  std::string message;  // blockeig's message, e.g. "End of file"
  std::string reason;   // what in the file leads there
  std::int32_t n = 0;   // the order, once record 1 has been read
};

// Predicts blockeig's handling of `file` read in `order` (blockeig reads
// little-endian unless byte reversal is switched on).
Verdict predict_blockeig(const ByteSource& file, ByteOrder order);

// What blockeig does: "accepts it", "stops at line 15 with \"...\"",
// "refuses it: the order is below 2".
std::string verdict_outcome(const Verdict& verdict);
// The reason and the outcome in one line: "record 2 holds 24 data bytes;
// N = 2 needs 32; blockeig stops at line 15 with \"...\"".
std::string verdict_text(const Verdict& verdict);

}  // namespace scrtool
