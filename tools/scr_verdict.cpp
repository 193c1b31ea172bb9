#include "tools/scr_verdict.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "arithmetic/extended.hpp"
#include "engine/matrix_file.hpp"
#include "runtime/statement_numbers.hpp"
#include "runtime/run_constants.hpp"
#include "io/statements.hpp"
#include "runtime/allocate.hpp"
#include "runtime/startup.hpp"
#include "tools/file_io.hpp"
#include "tools/matrix.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

namespace fs = std::filesystem;
namespace statement = blockeig::statement;

std::string num(std::int64_t value) { return std::to_string(value); }

// Makes `file` appear as A.SCR in `dir`: a link to the file itself, or a
// copy of bytes held in memory.
void place_matrix_file(const ByteSource& file, const fs::path& dir) {
  const fs::path target = dir / blockeig::run::matrix_file_name;
  std::error_code error;
  if (const std::string path = file.file_path(); !path.empty()) {
    fs::create_symlink(fs::absolute(path), target, error);
  } else {
    std::ofstream out(target, std::ios::binary);
    Bytes piece(1 << 16);
    for (std::int64_t at = 0; at < file.size() && out;) {
      const std::size_t got = file.read(at, piece);
      out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(got));
      at += static_cast<std::int64_t>(got);
    }
    if (!out.flush()) error = std::make_error_code(std::errc::io_error);
  }
  if (error) throw ToolError("cannot place the file for blockeig's reader: " + error.message());
}

// In the child: blockeig's start-up and its reading of A.SCR, with the
// byte order set as asked and the console thrown away. Never returns.
[[noreturn]] void run_reader(const fs::path& dir, ByteOrder order, int report_fd) {
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 || ::dup2(null_fd, STDOUT_FILENO) < 0 ||
      ::dup2(report_fd, STDERR_FILENO) < 0 || ::chdir(dir.c_str()) != 0)
    ::_exit(127);
  ::setenv("BLOCKEIG_CONVERT", order == ByteOrder::big ? "big_endian" : "little_endian", 1);
  ::unsetenv("BLOCKEIG_THREADS");
  ::unsetenv("BLOCKEIG_PROGRESS");
  try {
    blockeig::runtime::start_up(statement::source_file, blockeig::set_extended_environment);
    blockeig::io::connect_standard_units();
    std::int32_t N = 0;
    blockeig::runtime::Array<double> A, C, E;
    blockeig::read_matrix_file(N, A, C, E);
  } catch (...) {
    ::_exit(127);
  }
  ::_exit(0);
}

struct Ending {
  int status = 0;
  std::string report;
};

// Runs blockeig's reading of `file` in a child process: its exit status and
// everything it wrote on standard error.
Ending read_as_blockeig(const ByteSource& file, ByteOrder order) {
  const ScratchFolder dir((fs::temp_directory_path() / "scrtool-verdict-XXXXXX").string(),
                          "cannot make a directory for blockeig's reader");
  place_matrix_file(file, dir.path());
  int ends[2];
  if (::pipe(ends) != 0) throw ToolError(std::string("cannot run blockeig's reader: ") + std::strerror(errno));
  std::fflush(nullptr);  // nothing buffered here may be written twice
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    run_reader(dir.path(), order, ends[1]);
  }
  ::close(ends[1]);
  Ending ending;
  char buffer[4096];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) ending.report.append(buffer, static_cast<std::size_t>(n));
    else if (errno != EINTR) break;
  }
  ::close(ends[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
    throw ToolError(std::string("cannot run blockeig's reader: ") + std::strerror(errno));
  ending.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (ending.status == 127) throw ToolError("blockeig's reader could not be started");
  return ending;
}

// What in the file leads to the report at `verdict.line`.
std::string failure_reason(const ByteSource& file, ByteOrder order, const Verdict& verdict) {
  const RecordFrame first = frame_record(file, 0, order);
  const std::uint64_t n = verdict.n > 0 ? static_cast<std::uint64_t>(verdict.n) : 0;
  const std::uint64_t matrix_bytes = 8 * n * n;
  switch (verdict.line) {
    case statement::read_order:
      if (first.framing != Framing::complete) return framing_text(first, 1);
      if (first.length < 4) return "record 1 holds " + num(first.length) + " data bytes, too few for N (4)";
      return "record 1 gives the order N = " + num(verdict.n);
    case statement::allocate_matrices:
      if (matrix_bytes > blockeig::runtime::max_allocation_bytes)
        return "N = " + num(verdict.n) + " makes the matrix " + std::to_string(matrix_bytes) +
               " bytes, above the allocation limit " + std::to_string(blockeig::runtime::max_allocation_bytes);
      return "the platform refused memory for the matrices of order N = " + num(verdict.n);
    case statement::read_matrix: {
      const RecordFrame second = frame_record(file, first.next_offset(), order);
      if (second.framing != Framing::complete) return framing_text(second, 2);
      return "record 2 holds " + num(second.length) + " data bytes; N = " + num(verdict.n) + " needs " +
             std::to_string(matrix_bytes);
    }
    default:
      return "blockeig cannot read the file";
  }
}

// The order record 1 gives, when it is complete and long enough.
std::int32_t order_of(const ByteSource& file, ByteOrder order) {
  const RecordFrame first = frame_record(file, 0, order);
  if (first.framing != Framing::complete || first.length < 4) return 0;
  std::array<std::uint8_t, 4> bytes{};
  file.read(first.data_offset(), bytes);
  return decode_int32(bytes.data(), order);
}

}  // namespace

Verdict predict_blockeig(const ByteSource& file, ByteOrder order) {
  const Ending ending = read_as_blockeig(file, order);
  Verdict v;
  v.n = order_of(file, order);
  v.exit_status = ending.status;
  v.report = ending.report;
  v.accepted = ending.status == 0 && ending.report.empty();
  if (v.accepted) return v;
  if (std::sscanf(v.report.c_str(), "At line %d ", &v.line) != 1) v.line = 0;
  std::string last = v.report.substr(0, v.report.empty() ? 0 : v.report.size() - 1);
  last = last.substr(last.rfind('\n') + 1);
  constexpr std::string_view error_prefix = "Fortran runtime error: ";
  v.message = last.starts_with(error_prefix) ? last.substr(error_prefix.size()) : last;
  v.reason = failure_reason(file, order, v);
  return v;
}

std::string verdict_outcome(const Verdict& verdict) {
  if (verdict.accepted) return "accepts it";
  std::string text = "stops";
  if (verdict.line != 0) text += " at line " + std::to_string(verdict.line);
  text += " with \"" + verdict.message + "\"";
  if (verdict.exit_status != 2) text += " (exit status " + std::to_string(verdict.exit_status) + ")";
  return text;
}

std::string verdict_text(const Verdict& verdict) {
  if (verdict.accepted) return "blockeig accepts it";
  return verdict.reason + "; blockeig " + verdict_outcome(verdict);
}

}  // namespace scrtool
