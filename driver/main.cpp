// blockeig: the eigenvalues of a symmetric matrix from A.SCR, computed
// directly and by block Rayleigh-Ritz sweeps.
#include <cerrno>
#include <new>

#include "arithmetic/extended.hpp"
#include "driver/command_line.hpp"
#include "records/run_record.hpp"
#include "driver/run_sequence.hpp"
#include "runtime/statement_numbers.hpp"
#include "runtime/thread_pool.hpp"
#include "io/statements.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/report.hpp"
#include "runtime/settings.hpp"
#include "runtime/startup.hpp"

int main(int argc, char** argv) {
  const blockeig::CommandLine command_line = blockeig::read_command_line(argc, argv);
  if (!command_line.mistake.empty()) {
    blockeig::refuse_command_line(command_line.mistake);
    return blockeig::runtime::exit_runtime_error;
  }
  if (command_line.request == blockeig::Request::help || command_line.request == blockeig::Request::version) {
    blockeig::runtime::report_file_size_refusals();
    if (command_line.request == blockeig::Request::help) {
      blockeig::print_help();
    } else if (!blockeig::print_version()) {
      return blockeig::runtime::exit_runtime_error;
    }
    return 0;
  }
  try {
    if (command_line.request == blockeig::Request::run) blockeig::warn_of_operands(command_line.operands);
    blockeig::runtime::start_up(blockeig::statement::source_file, blockeig::set_extended_environment,
                                command_line.settings);
    blockeig::use_kernels(blockeig::runtime::settings().kernels);
    blockeig::io::connect_standard_units();
    if (command_line.request == blockeig::Request::settings) {
      blockeig::print_settings();
      blockeig::io::close_down();
    }
    blockeig::set_thread_count(blockeig::runtime::settings().threads);
    blockeig::start_run_record();
    blockeig::run_sequence();
  } catch (const std::bad_alloc&) {
    // The program's operator new reports a refusal itself; this catches a
    // std::bad_alloc that a library raises of its own accord.
    blockeig::runtime::allocation_failure(ENOMEM);
  }
  blockeig::io::close_down();
}
