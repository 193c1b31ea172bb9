#pragma once
// A progress line on standard error while a long computation runs: only when
// standard error is a terminal and BLOCKEIG_PROGRESS is not 0, only once a
// stretch has lasted half a second, and erased before the program writes
// anything else. A redirected standard error never receives a byte.
#include <string>

namespace blockeig {

// Starts (or relabels) a stretch of computation.
void progress_show(std::string label);
// Ends the stretch and erases the line if it was drawn.
void progress_hide();

}  // namespace blockeig
