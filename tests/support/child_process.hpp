#pragma once
// Runs a program as a child process in a directory of its own and captures
// everything it leaves: standard output, standard error, exit status, and
// what it cost. The tests, the benchmarks and fuzz_program all run blockeig
// through it.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace blockeig::testing {

struct ChildResult {
  std::string out;
  std::string err;
  int status = -1;         // exit status, or 128 + signal number
  bool timed_out = false;  // killed at the time limit
  bool killed = false;     // killed at kill_after_microseconds, before it ended
  double wall_seconds = 0;
  double cpu_seconds = 0;  // user and system time of the child, all threads
  long peak_kib = 0;       // peak resident memory (ru_maxrss)
};

struct ChildOptions {
  std::filesystem::path directory;
  std::string input;                          // standard input (closed after it)
  bool inherit_environment = true;            // else the child starts with none
  // Applied in order: NAME=VALUE sets NAME; NAME alone removes it; PREFIX*
  // removes every variable whose name starts with PREFIX.
  std::vector<std::string> environment;
  std::function<void()> before_exec;          // runs in the child (limits, ...)
  int timeout_seconds = 120;
  // SIGKILL the child this many microseconds after it started (0: never).
  long kill_after_microseconds = 0;
  // Signals to send, in order: each once `when` holds for the standard
  // output so far (no `when`: at once), and at least `pause_ms` after the
  // one before. Standard input stays open, after `input`, until the last
  // of them is sent.
  struct Signal {
    int number = 0;
    std::function<bool(const std::string& out)> when = {};
    int pause_ms = 0;
  };
  std::vector<Signal> signals;
  // How long standard input stays open after the last signal: a child slow
  // to take a signal (under valgrind) would otherwise see the end of its
  // input first.
  int input_open_after_signals_ms = 0;
};

ChildResult run_child(const std::string& program, const std::vector<std::string>& arguments,
                      const ChildOptions& options);

// A fresh empty directory under the test temporary directory, removed when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace blockeig::testing
