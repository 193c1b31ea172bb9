#include "runtime/report.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"
#include "runtime/posix_file.hpp"
#include "runtime/printable.hpp"

namespace blockeig::runtime {

namespace {

constexpr std::string_view traceback_line =
    "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

// Set once the first report begins. A failure after that on the reporting
// thread is nested; one on another thread waits for the report to end the
// process.
std::atomic<bool> reporting{false};
thread_local bool reporting_here = false;
void (*before_report)() = nullptr;
void (*unit_closer)() = nullptr;
void (*after_report)(std::string_view, int) = nullptr;
bool warned = false;

// A copy of the report as written, for the after-report hook.
char report_copy[kept_report_bytes];
std::size_t report_copy_length = 0;

void keep_copy(const char* bytes, std::size_t length) {
  const std::size_t room = sizeof report_copy - report_copy_length;
  const std::size_t n = length < room ? length : room;
  std::memcpy(report_copy + report_copy_length, bytes, n);
  report_copy_length += n;
}

// Every connected unit is closed: pending output reaches its file.
void close_all_units() {
  if (unit_closer != nullptr) unit_closer();
}

// A report line is assembled in a fixed buffer (no allocation: the report
// may be written because memory ran out, or from a signal handler). Text
// that may come from outside (a message, which can quote a file name or a
// setting; a unit's file name) is shown printable and cut to what the line
// holds with its line feed.
class ReportLine {
 public:
  ReportLine& text(std::string_view s) {
    const std::size_t room = sizeof buffer_ - length_;
    const std::size_t n = s.size() < room ? s.size() : room;
    std::memcpy(buffer_ + length_, s.data(), n);
    length_ += n;
    return *this;
  }
  ReportLine& shown(std::string_view s, std::size_t limit = no_limit) {
    const std::size_t room = sizeof buffer_ - length_;
    const std::size_t fits = room > 1 ? room - 1 : 0;
    length_ += write_printable(s, std::span(buffer_ + length_, fits), limit < fits ? limit : fits);
    return *this;
  }
  ReportLine& number(long long value) {
    char digits[24];
    int count = 0;
    unsigned long long magnitude =
        value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) text("-");
    while (count > 0) text(std::string_view(&digits[--count], 1));
    return *this;
  }
  // A refusal of standard error cannot be reported anywhere.
  void write_to_stderr() const {
    if (reporting) keep_copy(buffer_, length_);
    write_all(STDERR_FILENO, std::string_view(buffer_, length_));
  }

 private:
  char buffer_[1024];
  std::size_t length_ = 0;
};

void write_stderr(std::string_view s) { ReportLine().text(s).write_to_stderr(); }

// The end of every report: the after-report hook, then the exit.
[[noreturn]] void end_report(int exit_status) {
  if (after_report != nullptr) after_report(std::string_view(report_copy, report_copy_length), exit_status);
  ::_exit(exit_status);
}

void begin_report() {
  if (reporting_here) ::_exit(exit_nested_failure);
  if (reporting.exchange(true)) {
    // Two threads that fail at once (an overflow in each, say) give one
    // whole report, not two interleaved ones or a nested-failure exit.
    for (;;) ::pause();
  }
  reporting_here = true;
  if (before_report != nullptr) before_report();
}

// The first line of a report, in the form that fits the statement in
// progress; nothing when no locus is set.
void write_locus_line(std::string_view open_file_name = {}) {
  const int line = locus_line();
  if (line == 0 || source_file().empty()) return;
  ReportLine out;
  out.text("At line ").number(line).text(" of file ").text(source_file());
  if (const CurrentUnit* unit = current_unit()) {
    out.text(" (Unit ").number(unit->number);
    if (!unit->file_name.empty()) out.text(" \"").shown(unit->file_name, echo_limit).text("\"");
    out.text(")");
  } else if (!open_file_name.empty()) {
    out.text(" file: \"").shown(open_file_name, echo_limit).text("\"");
  }
  out.text("\n").write_to_stderr();
}

[[noreturn]] void finish_runtime_error(std::string_view message, std::string_view open_file_name = {}) {
  write_locus_line(open_file_name);
  write_stderr(traceback_line);
  close_all_units();
  ReportLine().text("Fortran runtime error: ").shown(message).text("\n").write_to_stderr();
  end_report(exit_runtime_error);
}

}  // namespace

void set_before_report(void (*hook)()) { before_report = hook; }
void run_before_report_hook() {
  if (before_report != nullptr) before_report();
}
void set_unit_closer(void (*closer)()) { unit_closer = closer; }
void set_after_report(void (*hook)(std::string_view, int)) { after_report = hook; }

void warn(std::string_view message) {
  if (before_report != nullptr) before_report();
  ReportLine().text("Fortran runtime warning: ").shown(message).text("\n").write_to_stderr();
  warned = true;
}

int normal_end_status() { return warned ? exit_runtime_error : 0; }

[[noreturn]] void raise(int code, std::string_view message) {
  const int saved_errno = errno;
  begin_report();
  if (message.empty()) message = code == os_error ? std::string_view(std::strerror(saved_errno)) : error_message(code);
  finish_runtime_error(message);
}

[[noreturn]] void raise_os_error(int error_number) {
  begin_report();
  finish_runtime_error(std::strerror(error_number));
}

[[noreturn]] void raise_open_failure(int error_number, std::string_view file_name) {
  begin_report();
  finish_runtime_error(std::strerror(error_number), file_name);
}

[[noreturn]] void allocation_failure(int error_number) {
  begin_report();
  close_all_units();
  write_locus_line();
  write_stderr(traceback_line);
  ReportLine()
      .text("Operating system error: ")
      .text(std::strerror(error_number))
      .text("\nMemory allocation failed\n")
      .write_to_stderr();
  end_report(exit_allocation_failure);
}

[[noreturn]] void processor_exception(std::string_view name) {
  begin_report();
  ReportLine().text("Exception: ").text(name).text("\n").write_to_stderr();
  write_locus_line();
  write_stderr(traceback_line);
  close_all_units();
  end_report(exit_processor_exception);
}

[[noreturn]] void internal_error(std::string_view what) {
  begin_report();
  write_locus_line();
  write_stderr(traceback_line);
  ReportLine().text("Internal Error: ").shown(what).text("\n").write_to_stderr();
  end_report(exit_internal_error);
}

}  // namespace blockeig::runtime
