// Link-time replacement of runtime/report.cpp for the in-process fuzz targets:
// every report throws RunEnded instead of writing to standard error and
// ending the process.
#include <cerrno>
#include <cstring>
#include <string>

#include "report_seam.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/report.hpp"

namespace blockeig::runtime {

void set_before_report(void (*)()) {}
void set_after_report(void (*)(std::string_view, int)) {}
void set_unit_closer(void (*)()) {}
// A warning does not end the run; the in-process targets have no normal end.
void warn(std::string_view) {}
int normal_end_status() { return 0; }

[[noreturn]] void raise(int code, std::string_view message) {
  const int saved_errno = errno;
  if (message.empty()) message = code == os_error ? std::string_view(std::strerror(saved_errno)) : error_message(code);
  throw fuzz::RunEnded{exit_runtime_error, code, std::string(message)};
}

[[noreturn]] void raise_os_error(int error_number) {
  throw fuzz::RunEnded{exit_runtime_error, os_error, std::strerror(error_number)};
}

[[noreturn]] void raise_open_failure(int error_number, std::string_view) {
  throw fuzz::RunEnded{exit_runtime_error, os_error, std::strerror(error_number)};
}

[[noreturn]] void allocation_failure(int error_number) {
  throw fuzz::RunEnded{exit_allocation_failure, 0, std::strerror(error_number)};
}

[[noreturn]] void processor_exception(std::string_view name) {
  throw fuzz::RunEnded{exit_processor_exception, 0, std::string(name)};
}

[[noreturn]] void internal_error(std::string_view what) {
  throw fuzz::RunEnded{exit_internal_error, 0, std::string(what)};
}

}  // namespace blockeig::runtime
