#pragma once

namespace blockeig {

// The program from its first statement to its last: load A.SCR, solve
// directly, write C.SCR.TXT and the summary, run the block phase, release
// every array.
void run_sequence();

}  // namespace blockeig
