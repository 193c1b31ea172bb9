#include "driver/command_line.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "eigen/extended.hpp"
#include "io/statements.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

namespace {

constexpr std::string_view help_text =
    R"(Usage: blockeig [--results FILE] [--checkpoint FILE]
                [-h | --help | -V | --version | --settings]

Computes all eigenvalues of the real symmetric matrix in A.SCR twice: directly
(Householder reduction and implicit-shift QL in extended precision) and by
block Rayleigh-Ritz sweeps, and prints both for comparison.

Files, in the working directory:
  A.SCR       read: unformatted sequential records, the order N (4-byte
              integer), then the N x N matrix as doubles, column by column
  C.SCR.TXT   written: the N direct eigenvalues, one numbered line each

Standard input: after " Number of blocks:" one integer from 1 to N/2.
Standard output: progress lines, the summary E(1) E(2) E(N-1) E(N), the block
table, one line per block and sweep, one line per sweep (ITER, E(1), E(2),
E(N-1), E(N), DELTA, TOL). Sweeps stop when DELTA <= 1.0e-6 or after 101.

Exit status: 0 normal end; 1 memory allocation failed; 2 input/output error,
bad setting, results file or checkpoint not written, or a checkpoint that
does not fit the run (report on standard error); 3 internal error; 4 a
second failure during a report; 95 processor exception.

Settings (environment):
  BLOCKEIG_CONVERT   native | little_endian | big_endian | swap  (A.SCR byte order)
  BLOCKEIG_THREADS   threads for the large loops (default: number of cores);
                     results are the same for every count
  BLOCKEIG_PROGRESS  0 turns off the progress line shown on a terminal
  BLOCKEIG_RESULTS   FILE: also write every number at full precision to FILE,
                     a JSON document replaced after each phase and sweep
  BLOCKEIG_CHECKPOINT  FILE: keep the state of the sweeps in FILE, replaced
                     at the end of a sweep; started again the same way,
                     blockeig resumes from it with the same output; a
                     finished run removes it
  BLOCKEIG_CHECKPOINT_SECONDS  least seconds between two checkpoints (60)

Options:
  --results FILE     the same as BLOCKEIG_RESULTS=FILE, and wins over it
  --checkpoint FILE  the same as BLOCKEIG_CHECKPOINT=FILE, and wins over it
  -h, --help         this text
  -V, --version      the version
  --settings         the settings in effect and where each comes from
Any other argument is ignored.
)";

// The settings that may be given as options.
struct SettingOption {
  std::string_view option;
  std::string_view setting;
  std::string_view value_name;
};

constexpr SettingOption setting_options[] = {
    {"--results", "BLOCKEIG_RESULTS", "a file name"},
    {"--checkpoint", "BLOCKEIG_CHECKPOINT", "a file name"},
};

// One line of the settings table: name, value and source in columns, the
// names as wide as the longest; a long value (a file's path) pushes its
// source to the right.
std::string settings_row(std::string_view name, std::string_view value, std::string_view source,
                         std::size_t name_width) {
  const auto padded = [](std::string_view text, std::size_t width) {
    std::string field(text);
    if (field.size() < width) field.append(width - field.size(), ' ');
    return field;
  };
  return padded(name, name_width) + " " + padded(value, 14) + " " + std::string(source) + "\n";
}

}  // namespace

CommandLine read_command_line(int argc, const char* const* argv) {
  CommandLine line;
  const auto request = [&](Request r) {
    if (line.request == Request::run) line.request = r;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") request(Request::help);
    if (argument == "--version" || argument == "-V") request(Request::version);
    if (argument == "--settings") request(Request::settings);
    for (const SettingOption& option : setting_options) {
      std::string_view value;
      if (argument == option.option) {
        if (i + 1 < argc) value = argv[++i];
      } else if (argument.starts_with(option.option) && argument[option.option.size()] == '=') {
        value = argument.substr(option.option.size() + 1);
      } else {
        continue;
      }
      if (value.empty() && line.problem.empty())
        line.problem = std::string(option.option) + " needs " + std::string(option.value_name);
      line.settings.push_back({option.setting, value});
    }
  }
  return line;
}

void print_help() { io::write_standard_output(help_text); }

void print_version() {
  io::write_standard_output(std::string("blockeig ") + BLOCKEIG_VERSION + " (" + std::string(extended_arithmetic) +
                            " extended arithmetic)\n");
}

void print_settings() {
  const std::vector<runtime::SettingReport> settings = runtime::describe_settings();
  std::size_t name_width = 0;
  for (const runtime::SettingReport& setting : settings) name_width = std::max(name_width, setting.name.size());
  std::string table = settings_row("SETTING", "VALUE", "FROM", name_width);
  for (const runtime::SettingReport& setting : settings)
    table += settings_row(setting.name, setting.value, setting.source, name_width);
  io::write_standard_output(table);
}

}  // namespace blockeig
