#pragma once
// What blockeig does with a given A.SCR: accept it, or stop at which
// statement line with which report. The verdict is not a model of the
// program: a child process runs blockeig's own reading of the file (its
// statements, records, checks and reports) on it, and the report it writes
// is the one blockeig would write.
#include <cstdint>
#include <string>

#include "tools/record_codec.hpp"

namespace scrtool {

struct Verdict {
  bool accepted = false;
  int line = 0;         // statement line of the report; 0 when accepted or when the report has no locus
  int exit_status = 0;  // 0 when accepted; 2 after a run-time error, 1 after the allocation failure
  std::string report;   // blockeig's report on standard error, every line; empty when accepted
  std::string message;  // its last line without "Fortran runtime error: ", e.g. "End of file"
  std::string reason;   // what in the file leads there
  std::int32_t n = 0;   // the order, once record 1 has given one
};

// Predicts blockeig's handling of `file` read in `order` (blockeig reads
// little-endian unless byte reversal is switched on). The child reads and
// allocates as blockeig does: for an accepted file, the whole matrix. Throws
// ToolError when the child process cannot be started.
Verdict predict_blockeig(const ByteSource& file, ByteOrder order);

// What blockeig does: "accepts it", "stops at line 15 with \"...\"".
std::string verdict_outcome(const Verdict& verdict);
// The reason and the outcome in one line: "record 2 holds 24 data bytes;
// N = 2 needs 32; blockeig stops at line 15 with \"...\"".
std::string verdict_text(const Verdict& verdict);

}  // namespace scrtool
