#include "driver/command_line.hpp"

#include <string>
#include <string_view>

#include "io/statements.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

namespace {

constexpr std::string_view help_text =
    R"(Usage: blockeig [--help | --version | --settings]

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

Exit status: 0 normal end; 1 memory allocation failed; 2 input/output error
or bad setting (report on standard error); 3 internal error; 4 a second
failure during a report; 95 processor exception.

Settings (environment):
  BLOCKEIG_CONVERT   native | little_endian | big_endian | swap  (A.SCR byte order)
  BLOCKEIG_THREADS   threads for the large loops (default: number of cores);
                     results are the same for every count
  BLOCKEIG_PROGRESS  0 turns off the progress line shown on a terminal

Options:
  --help      this text
  --version   the version
  --settings  the settings in effect and where each comes from
)";

// One line of the settings table: name, value and source in fixed columns.
std::string settings_row(std::string_view name, std::string_view value, std::string_view source) {
  const auto padded = [](std::string_view text, std::size_t width) {
    std::string field(text);
    if (field.size() < width) field.append(width - field.size(), ' ');
    return field;
  };
  return padded(name, 18) + " " + padded(value, 14) + " " + std::string(source) + "\n";
}

}  // namespace

Request command_line_request(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") return Request::help;
    if (argument == "--version") return Request::version;
    if (argument == "--settings") return Request::settings;
  }
  return Request::run;
}

void print_help() { io::write_standard_output(help_text); }

void print_version() { io::write_standard_output(std::string("blockeig ") + BLOCKEIG_VERSION + "\n"); }

void print_settings() {
  std::string table = settings_row("SETTING", "VALUE", "FROM");
  for (const runtime::SettingReport& setting : runtime::describe_settings())
    table += settings_row(setting.name, setting.value, setting.source);
  io::write_standard_output(table);
}

}  // namespace blockeig
