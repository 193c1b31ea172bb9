#pragma once
// The few options blockeig answers before (or instead of) a run. Any other
// argument is ignored, as it always has been.
namespace blockeig {

enum class Request { run, help, version, settings };

// The first of --help, --version, --settings on the command line, else run.
Request command_line_request(int argc, const char* const* argv);
// The text of --help and --version. Output that standard output refuses
// ends the process with a report and exit status 2.
void print_help();
void print_version();
// Every run-time setting with its value and where it came from (start-up
// must have read them); refusals as above.
void print_settings();

}  // namespace blockeig
