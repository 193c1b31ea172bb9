#pragma once
// Runs the whole blockeig program as a child process on a matrix written to
// A.SCR in a directory of its own, and measures its wall time, processor
// time and peak resident memory (the child's ru_maxrss).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace blockeig::bench {

// A.SCR: record 1 the order, record 2 the matrix column by column, each
// framed by its byte length before and after. Returns false on failure.
inline bool write_record_file(const std::string& path, int n, const std::vector<double>& a) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const auto frame = [&](const void* data, std::uint32_t bytes) {
    out.write(reinterpret_cast<const char*>(&bytes), 4);
    out.write(static_cast<const char*>(data), bytes);
    out.write(reinterpret_cast<const char*>(&bytes), 4);
  };
  const std::int32_t order = n;
  frame(&order, 4);
  frame(a.data(), static_cast<std::uint32_t>(a.size() * sizeof(double)));
  return static_cast<bool>(out);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct ProgramRun {
  bool ok = false;        // exited with status 0
  int status = -1;        // wait status
  double wall = 0;        // seconds
  double cpu = 0;         // user + system seconds of the child, all threads
  long peak_kib = 0;      // ru_maxrss
  std::string transcript; // standard output
  std::string errors;     // standard error
  std::string eigenvalues;  // C.SCR.TXT
};

// Runs `binary` in `dir` (which holds A.SCR) with BLOCKEIG_THREADS=threads,
// the progress display off and `input` on standard input.
inline ProgramRun run_program(const std::string& binary, const std::string& dir, int threads,
                              const std::string& input) {
  ProgramRun result;
  const std::string in_path = dir + "/stdin.txt", out_path = dir + "/stdout.txt", err_path = dir + "/stderr.txt";
  {
    std::ofstream in(in_path, std::ios::trunc);
    in << input;
  }
  // Everything the child needs is prepared before fork: between fork and
  // exec a child of a threaded process may only make system calls.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "BLOCKEIG_", 9) != 0) env_strings.emplace_back(*e);
  env_strings.push_back("BLOCKEIG_THREADS=" + std::to_string(threads));
  env_strings.push_back("BLOCKEIG_PROGRESS=0");
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string program = binary;
  char* argv[] = {program.data(), nullptr};

  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0)
      _exit(127);
    execve(binary.c_str(), argv, envp.data());
    _exit(127);
  }
  rusage usage{};
  int status = 0;
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  result.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  result.status = status;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  result.cpu = double(usage.ru_utime.tv_sec) + 1e-6 * double(usage.ru_utime.tv_usec) +
               double(usage.ru_stime.tv_sec) + 1e-6 * double(usage.ru_stime.tv_usec);
  result.peak_kib = usage.ru_maxrss;
  result.transcript = read_file(out_path);
  result.errors = read_file(err_path);
  result.eigenvalues = read_file(dir + "/C.SCR.TXT");
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
