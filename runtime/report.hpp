#pragma once
// The one way a run-time failure ends the run: a report on standard error
// and a fixed exit status. None of these functions returns.
//
//   [locus line]                          when a locus is set
//   Traceback: not available, ...         always
//   (every connected unit is closed: pending output reaches its file)
//   Fortran runtime error: MESSAGE        exit status 2
//
// A second failure while a report is being written ends the process at once
// with exit status 4; a failure of another thread meanwhile waits for the
// report to end the process.
#include <cstddef>
#include <string_view>

namespace blockeig::runtime {

inline constexpr int exit_runtime_error = 2;
inline constexpr int exit_allocation_failure = 1;
inline constexpr int exit_processor_exception = 95;
inline constexpr int exit_internal_error = 3;
inline constexpr int exit_nested_failure = 4;

// A function that runs at the start of every report, before its first byte
// (the progress line uses it to erase itself). It must be safe to call from
// a signal handler.
void set_before_report(void (*hook)());
// Runs the before-report hook: for a stop on a signal, which ends the run
// without a report. Safe in a signal handler.
void run_before_report_hook();
// The most of a report's text that the after-report hook receives.
inline constexpr std::size_t kept_report_bytes = 4096;
// A function that runs at the end of every report, just before the process
// ends, with the report's whole text as written to standard error (cut at
// kept_report_bytes) and the exit status (the results file uses it to keep
// the report). It must be safe to call from a signal handler, must not
// allocate, and cannot change the exit status.
void set_after_report(void (*hook)(std::string_view report, int exit_status));
// The function that closes every connected unit during a report (the unit
// table registers it when it takes its first unit). It must be safe to call
// from a signal handler and must free nothing.
void set_unit_closer(void (*closer)());

// A failure that does not end the run: "Fortran runtime warning: MESSAGE"
// on standard error. The run goes on, and its normal end then has exit
// status 2, so that it is never taken for a success.
void warn(std::string_view message);
// The exit status of a normal end: 0, or 2 after a warning.
int normal_end_status();

// Raises `code`. An empty `message` takes the code's standard message, or for
// code 1 the platform's text for errno as it stands.
[[noreturn]] void raise(int code, std::string_view message = {});
// Code 1 with the platform's text for `error_number`.
[[noreturn]] void raise_os_error(int error_number);
// The failure of OPEN to open or create `file_name`: the locus line names
// the file.
[[noreturn]] void raise_open_failure(int error_number, std::string_view file_name);
// The allocation-failure report: units closed first, then locus and
// traceback, "Operating system error: TEXT", "Memory allocation failed";
// exit status 1.
[[noreturn]] void allocation_failure(int error_number);
// The processor-exception report ("Exception: NAME"), exit status 95.
// Safe to call from a signal handler.
[[noreturn]] void processor_exception(std::string_view name);
// A broken invariant of the run-time: "Internal Error: TEXT", exit status 3,
// units left as they are.
[[noreturn]] void internal_error(std::string_view what);

}  // namespace blockeig::runtime
