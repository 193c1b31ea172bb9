#pragma once
// Processor faults, delivered as POSIX signals, reported under the names of
// the platform exception table.
#include <cstddef>
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
// an alternate stack, so that a stack overflow is reported too, and
// prepares the calling (main) thread as below.
void install_exception_handler();

// The size of a thread's alternate signal stack, on which the report of a
// fault is written: room for the signal frame and the report's own
// fixed buffers.
inline constexpr std::size_t signal_stack_size = 64 * 1024;
// Prepares the calling thread for faults: `signal_stack` (signal_stack_size
// bytes, alive as long as the thread) becomes its alternate signal stack,
// and a segmentation fault at an address from `overflow_low` up to
// `stack_high` (its stack and the guard region below it) is reported as a
// stack overflow. Every thread that runs the program's work calls it first.
void prepare_thread_for_faults(void* signal_stack, const void* overflow_low, const void* stack_high);

}  // namespace blockeig::runtime
