#pragma once
// Start-up before the main program and close-down after it.
#include <span>
#include <string_view>

#include "runtime/settings.hpp"

namespace blockeig::runtime {

// Reads the run-time settings (a bad value ends the run with a report and
// exit status 2), keeps the three standard descriptors open and released
// memory in the heap, loads the floating-point control words and installs
// the processor-exception handler. Prints nothing. `source_file` names the
// program's main source file in reports. The standard units are connected by io afterwards.
// `set_floating_point_environment` loads the environment the arithmetic needs
// (set_extended_environment: exceptions masked, round to nearest even, no
// flush to zero, on the x87 unit a 64-bit significand); the arithmetic lies
// above the run-time, so its caller names it.
// `from_command_line` holds the settings given as options; they win over the
// environment.
void start_up(std::string_view source_file, void (*set_floating_point_environment)(),
              std::span<const CommandLineSetting> from_command_line = {});
// A write beyond the file-size limit becomes a refused write like any other
// (EFBIG, reported) instead of ending the process by signal with no report.
// Part of start_up; the options that answer before it call it themselves.
void report_file_size_refusals();
// Arrays released by one block are kept by the heap for the next instead of
// being given back to the system (unless GLIBC_TUNABLES tunes the allocator).
void keep_released_memory();

}  // namespace blockeig::runtime
