#include "runtime/processor_exception.hpp"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>

#include "runtime/report.hpp"

namespace blockeig::runtime {

namespace {

struct ExceptionName {
  std::uint32_t code;
  std::string_view name;
};

constexpr ExceptionName exception_names[] = {
    {0x80000002, "Data alignment"},
    {0x80000003, "Breakpoint"},
    {0x80000004, "Single Step"},
    {0xC0000005, "Access Violation"},
    {0xC0000006, "Page error"},
    {0xC000001D, "Illegal instruction"},
    {0xC0000025, "Noncontinuable exception"},
    {0xC0000026, "Invalid disposition"},
    {0xC000008C, "Subscript out of range"},
    {0xC000008D, "Denormal operand"},
    {0xC000008E, "Division by zero"},
    {0xC000008F, "Inexact result"},
    {0xC0000090, "Invalid operation"},
    {0xC0000091, "Overflow"},
    {0xC0000092, "FP stack overflow"},
    {0xC0000093, "Underflow"},
    {0xC0000094, "Integer division by zero"},
    {0xC0000095, "Integer overflow"},
    {0xC0000096, "Privileged instruction"},
    {0xC00000FD, "Stack overflow"},
};

struct SignalMapping {
  int signal_number;
  int signal_code;  // 0: any code not listed before it
  std::uint32_t code;
};

constexpr SignalMapping signal_mappings[] = {
    {SIGFPE, FPE_INTDIV, 0xC0000094}, {SIGFPE, FPE_INTOVF, 0xC0000095}, {SIGFPE, FPE_FLTDIV, 0xC000008E},
    {SIGFPE, FPE_FLTOVF, 0xC0000091}, {SIGFPE, FPE_FLTUND, 0xC0000093}, {SIGFPE, FPE_FLTRES, 0xC000008F},
    {SIGFPE, FPE_FLTINV, 0xC0000090}, {SIGFPE, FPE_FLTSUB, 0xC000008C}, {SIGILL, ILL_PRVOPC, 0xC0000096},
    {SIGILL, ILL_PRVREG, 0xC0000096}, {SIGILL, 0, 0xC000001D},          {SIGBUS, BUS_ADRALN, 0x80000002},
    {SIGBUS, 0, 0xC0000006},          {SIGSEGV, 0, 0xC0000005},         {SIGTRAP, TRAP_BRKPT, 0x80000003},
    {SIGTRAP, TRAP_TRACE, 0x80000004},
    // A breakpoint instruction (int3) arrives with a kernel si_code, not TRAP_BRKPT.
    {SIGTRAP, 0, 0x80000003},
};

constexpr std::uint32_t stack_overflow_code = 0xC00000FD;

// The calling thread's stack and the guard region below it: a fault in
// there is an overflow. Thread-local, so that every thread knows its own.
thread_local const char* overflow_low = nullptr;
thread_local const char* stack_high = nullptr;

// Below the main thread's lowest page the platform keeps a gap of this much
// unmapped address space.
constexpr std::size_t main_guard_margin = 1 << 20;

void prepare_main_thread() {
  // Never freed: the main thread's alternate stack lives as long as the process.
  static void* const signal_stack = std::malloc(signal_stack_size);
  const char* low = nullptr;
  const char* high = nullptr;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* base = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
      low = static_cast<const char*>(base) - main_guard_margin;
      high = static_cast<const char*>(base) + size;
    }
    pthread_attr_destroy(&attributes);
  }
  prepare_thread_for_faults(signal_stack, low, high);
}

bool in_stack_guard(const void* address) {
  const char* a = static_cast<const char*>(address);
  return stack_high != nullptr && a >= overflow_low && a < stack_high;
}

void on_processor_exception(int signal_number, siginfo_t* info, void*) {
  const bool overflow = signal_number == SIGSEGV && in_stack_guard(info->si_addr);
  char buffer[32];
  processor_exception(exception_name(exception_code(signal_number, info->si_code, overflow), buffer));
}

}  // namespace

std::uint32_t exception_code(int signal_number, int signal_code, bool in_stack_guard) {
  if (signal_number == SIGSEGV && in_stack_guard) return stack_overflow_code;
  for (const SignalMapping& m : signal_mappings)
    if (m.signal_number == signal_number && (m.signal_code == signal_code || m.signal_code == 0)) return m.code;
  return 0;
}

std::string_view exception_name(std::uint32_t code, char* buffer) {
  for (const ExceptionName& entry : exception_names)
    if (entry.code == code) return entry.name;
  constexpr std::string_view prefix = "Unknown exception 0x";
  std::size_t length = prefix.copy(buffer, prefix.size());
  char digits[8];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[code % 16];
    code /= 16;
  } while (code != 0);
  while (count > 0) buffer[length++] = digits[--count];
  return {buffer, length};
}

void prepare_thread_for_faults(void* signal_stack, const void* low, const void* high) {
  if (signal_stack != nullptr) {
    stack_t stack{};
    stack.ss_sp = signal_stack;
    stack.ss_size = signal_stack_size;
    sigaltstack(&stack, nullptr);
  }
  overflow_low = static_cast<const char*>(low);
  stack_high = static_cast<const char*>(high);
}

void install_exception_handler() {
  prepare_main_thread();
  struct sigaction action {};
  action.sa_sigaction = on_processor_exception;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP}) sigaction(signal_number, &action, nullptr);
}

}  // namespace blockeig::runtime
