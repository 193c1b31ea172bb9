#pragma once
// Start-up before the main program and close-down after it.
#include <string_view>

namespace blockeig::io {

// Reads the run-time settings (a bad value ends the run with a report and
// exit status 2), connects units 5, 6 and 0, loads the floating-point
// control words and installs the processor-exception handler. Prints
// nothing. `source_file` names the program's main source file in reports.
void start_up(std::string_view source_file);
// x87: all six exceptions masked, 64-bit significand, round to nearest even;
// SSE: all exceptions masked, round to nearest, flush-to-zero and
// denormals-are-zero off. Pending exception flags are cleared first.
void set_floating_point_environment();
// The normal end: closes every unit (a refused flush of a file's remaining
// output is reported like a refused write) and exits with status 0.
[[noreturn]] void close_down();

}  // namespace blockeig::io
