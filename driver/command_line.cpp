#include "driver/command_line.hpp"

#include <cstdio>
#include <string_view>

#include "runtime/settings.hpp"

namespace blockeig {

namespace {

constexpr std::string_view help_text =
    R"(Usage: blockeig [-h | --help | -V | --version | --settings]

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
  -h, --help     this text
  -V, --version  the version
  --settings     the settings in effect and where each comes from
Any other argument is ignored.
)";

}  // namespace

Request command_line_request(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") return Request::help;
    if (argument == "--version" || argument == "-V") return Request::version;
    if (argument == "--settings") return Request::settings;
  }
  return Request::run;
}

void print_help() { std::fwrite(help_text.data(), 1, help_text.size(), stdout); }

void print_version() { std::printf("blockeig %s\n", BLOCKEIG_VERSION); }

void print_settings() {
  std::printf("%-18s %-14s %s\n", "SETTING", "VALUE", "FROM");
  for (const runtime::SettingReport& setting : runtime::describe_settings())
    std::printf("%-18s %-14s %s\n", setting.name.c_str(), setting.value.c_str(), setting.source.c_str());
}

}  // namespace blockeig
