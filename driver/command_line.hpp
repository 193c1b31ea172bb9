#pragma once
// The few options blockeig answers before (or instead of) a run, and the
// settings that may be given as options (`--results FILE` for
// BLOCKEIG_RESULTS, `--checkpoint FILE` for BLOCKEIG_CHECKPOINT). Any other
// argument is ignored, as it always has been.
#include <string>
#include <vector>

#include "runtime/settings.hpp"

namespace blockeig {

enum class Request { run, help, version, settings };

struct CommandLine {
  Request request = Request::run;
  // Views into argv, which outlives the run.
  std::vector<runtime::CommandLineSetting> settings;
  // A setting option without its value; start-up reports it.
  std::string problem;
};

// The first of -h/--help, -V/--version, --settings (else run), and every setting
// option, as `--results FILE` or `--results=FILE`; the last one given wins.
CommandLine read_command_line(int argc, const char* const* argv);
// The text of --help and --version. Output that standard output refuses
// ends the process with a report and exit status 2.
void print_help();
void print_version();
// Every run-time setting with its value and where it came from (start-up
// must have read them); refusals as above.
void print_settings();

}  // namespace blockeig
