#pragma once
// Runs the whole blockeig program as a child process (tests/support's
// runner) on a matrix written to A.SCR in a directory of its own, and
// measures its wall time, processor time and peak resident memory.
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "io/record_format.hpp"
#include "support/child_process.hpp"

namespace blockeig::bench {

// Writes A.SCR; returns false on failure.
inline bool write_record_file(const std::string& path, int n, const std::vector<double>& a) {
  testing::write_file(path, io::matrix_file_bytes(n, a));
  // Two records, each between 4-byte length markers: N, then the matrix.
  return std::filesystem::file_size(path) == (4 + 4 + 4) + (4 + 8 * a.size() + 4);
}

struct ProgramRun {
  bool ok = false;        // exited with status 0
  int status = -1;        // exit status, or 128 + signal number
  double wall = 0;        // seconds
  double cpu = 0;         // user + system seconds of the child, all threads
  long peak_kib = 0;      // ru_maxrss
  std::string transcript; // standard output
  std::string errors;     // standard error
  std::string eigenvalues;  // C.SCR.TXT
};

// Runs `binary` in `dir` (which holds A.SCR) with BLOCKEIG_THREADS=threads,
// the progress display off, no other setting and `input` on standard input;
// `before_exec` runs in the child (an affinity mask, a limit).
inline ProgramRun run_program(const std::string& binary, const std::string& dir, int threads,
                              const std::string& input, std::function<void()> before_exec = {}) {
  testing::ChildOptions options;
  options.before_exec = std::move(before_exec);
  options.directory = dir;
  options.input = input;
  options.environment = {"BLOCKEIG_*", "BLOCKEIG_THREADS=" + std::to_string(threads), "BLOCKEIG_PROGRESS=0"};
  options.timeout_seconds = 24 * 3600;
  const testing::ChildResult child = testing::run_child(binary, {}, options);
  ProgramRun result;
  result.status = child.status;
  result.ok = child.status == 0;
  result.wall = child.wall_seconds;
  result.cpu = child.cpu_seconds;
  result.peak_kib = child.peak_kib;
  result.transcript = child.out;
  result.eigenvalues = testing::read_file(dir + "/C.SCR.TXT");
  result.errors = child.err;
  return result;
}

// The number of sweep lines in a transcript: the (i5,6g12.3) lines with six
// values (a block line has four).
inline int sweep_count(const std::string& transcript) {
  std::istringstream lines(transcript);
  std::string line;
  int sweeps = 0;
  while (std::getline(lines, line))
    if (line.size() >= 5 + 6 * 12 && line.find_first_not_of(" 0123456789") >= 5) ++sweeps;
  return sweeps;
}

}  // namespace blockeig::bench
