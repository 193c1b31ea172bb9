#pragma once
// Processor faults, delivered as POSIX signals, reported under the names of
// the platform exception table.
#include <cstdint>
#include <string_view>

namespace blockeig::runtime {

// The platform exception code for a signal and its si_code; a segmentation
// fault inside the stack's guard region is a stack overflow.
std::uint32_t exception_code(int signal_number, int signal_code, bool in_stack_guard);
// The report name of an exception code; unknown codes are written as
// "Unknown exception 0x%x" into `buffer` (at least 32 bytes).
std::string_view exception_name(std::uint32_t code, char* buffer);
// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGTRAP on
// an alternate stack, so that a stack overflow is reported too.
void install_exception_handler();

}  // namespace blockeig::runtime
