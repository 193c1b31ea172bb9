#pragma once
// The few options blockeig answers before (or instead of) a run, and the
// settings that may be given as options (`--results FILE` for
// BLOCKEIG_RESULTS, `--checkpoint FILE` for BLOCKEIG_CHECKPOINT). blockeig
// reads no operand: the matrix is always A.SCR in the working directory.
#include <string>
#include <string_view>
#include <vector>

#include "runtime/settings.hpp"

namespace blockeig {

enum class Request { run, help, version, settings };

struct CommandLine {
  Request request = Request::run;
  // Views into argv, which outlives the run.
  std::vector<runtime::CommandLineSetting> settings;
  // The first mistake, as refuse_command_line() words it: an argument that
  // begins with '-' and is no option (with the nearest option, if one is
  // near), a setting option without its value or with an option for one, a
  // value given to an option that takes none. Empty when there is none.
  std::string mistake;
  // The plain words, which blockeig does not read (views into argv).
  std::vector<std::string_view> operands;
};

// Reads every argument: the first of -h/--help, -V/--version, --settings
// (else run), every setting option as `--results FILE` or `--results=FILE`
// (the last one given wins), the operands, and the first mistake.
CommandLine read_command_line(int argc, const char* const* argv);
// "blockeig: MISTAKE" and the usage on standard error. The caller ends the
// process with exit status 2, before any work.
void refuse_command_line(std::string_view mistake);
// One line on standard error when a run is given operands: they are not
// read, the matrix is always read from A.SCR. Nothing when there are none.
void warn_of_operands(const std::vector<std::string_view>& operands);
// The text of --help and --version. Output that standard output refuses
// ends the process with a report and exit status 2.
void print_help();
// --version names the kernels that a run would use (BLOCKEIG_KERNELS); for a
// value that setting does not take it writes the refusal to standard error
// and returns false.
bool print_version();
// From now on, the kernels that `kernels` asks for.
void use_kernels(runtime::Kernels kernels);
// Every run-time setting with its value and where it came from (start-up
// must have read them); refusals as above.
void print_settings();

}  // namespace blockeig
