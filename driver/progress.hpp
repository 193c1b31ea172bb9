#pragma once
// A progress line on standard error while a long computation runs: only when
// standard error is a terminal and BLOCKEIG_PROGRESS is not 0, only once a
// stretch has lasted half a second, and erased before the program writes
// anything else. A redirected standard error never receives a byte.
//
// Nothing here allocates after the ticker thread has started: a run short of
// memory must end with its allocation report, never by a failure of the
// courtesy line.
#include <string_view>

namespace blockeig {

// Starts (or relabels) a stretch of computation. The label is copied, cut at
// 95 characters.
void progress_show(std::string_view label);
// Ends the stretch and erases the line if it was drawn.
void progress_hide();

}  // namespace blockeig
