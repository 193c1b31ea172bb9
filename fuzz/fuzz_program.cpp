// The whole program as a child process on a small A.SCR (orders up to 8,
// elements from NaN, infinities, subnormals, huge and tiny values and
// ordinary numbers, records sometimes damaged) and arbitrary standard
// input. Every run must end within the time bound with status 0, 1 or 2,
// a well-formed report on standard error, console lines of the program's
// own forms and, after a normal end, a complete C.SCR.TXT.
//
// The child is blockeig built with ASan and UBSan (a sanitizer finding in it
// ends it with status 86 or 87, which is a finding here too) and with edge
// coverage that it shares with this fuzzer through a memory file, so that
// inputs reaching new code in the child are kept.
#include <sys/mman.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child_coverage.hpp"
#include "support/child_process.hpp"
#include "program_input.hpp"

namespace {

using blockeig::fuzz::coverage_map_size;

constexpr int time_bound_seconds = 20;

// Counters that libFuzzer reads as coverage features, filled from the
// child's map after each run.
__attribute__((used, section("__libfuzzer_extra_counters"))) std::uint8_t child_edges[coverage_map_size];

std::string work_dir;
int coverage_fd = -1;
std::uint8_t* coverage_map = nullptr;

std::string current_input_summary;

[[noreturn]] void finding(const std::string& what, const std::string& out, const std::string& err, int status) {
  std::fprintf(stderr, "program finding: %s (status %d)\n%s--- stdout (last 2000 bytes)\n%s\n--- stderr\n%s\n", what.c_str(),
               status, current_input_summary.c_str(), out.substr(out.size() > 2000 ? out.size() - 2000 : 0).c_str(),
               err.c_str());
  std::abort();
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Run {
  std::string out, err, eigenvalues;
  bool eigenvalue_file_exists = false;
  int status = -1;
};

Run run_blockeig(const std::vector<std::string>& environment, const std::string& input) {
  std::memset(coverage_map, 0, coverage_map_size);
  blockeig::testing::ChildOptions options;
  options.directory = work_dir;
  options.input = input;
  options.inherit_environment = false;
  options.environment = environment;
  options.timeout_seconds = time_bound_seconds;
  const blockeig::testing::ChildResult child = blockeig::testing::run_child(BLOCKEIG_FUZZ_CHILD, {}, options);
  if (child.timed_out) finding("no end within the time bound", child.out, child.err, -1);
  Run run;
  run.status = child.status;
  run.out = child.out;
  run.err = child.err;
  run.eigenvalue_file_exists = std::filesystem::exists(work_dir + "/C.SCR.TXT");
  if (run.eigenvalue_file_exists) run.eigenvalues = read_bytes(work_dir + "/C.SCR.TXT");
  for (std::size_t i = 0; i < coverage_map_size; ++i) child_edges[i] = coverage_map[i];
  return run;
}

std::vector<std::string> split(const std::string& text, bool& complete) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t lf = text.find('\n', from);
    if (lf == std::string::npos) {
      lines.push_back(text.substr(from));
      complete = false;
      return lines;
    }
    lines.push_back(text.substr(from, lf - from));
    from = lf + 1;
  }
  complete = true;
  return lines;
}

bool is_int(const std::string& s) {
  std::size_t i = s.size() > 0 && s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool starts(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A G12.3 field: only these characters, and never asterisks for a double.
bool g_field(const std::string& f) { return f.size() == 12 && f.find_first_not_of(" 0123456789.-+ENaInf") == std::string::npos; }

// An I5 field holding `value`.
bool i5(const std::string& f, long value) {
  char want[16];
  std::snprintf(want, sizeof want, "%5ld", value);
  return f == want;
}

void check_console(const Run& r) {
  bool complete = true;
  const std::vector<std::string> lines = split(r.out, complete);
  if (!complete) finding("console line without a line feed", r.out, r.err, r.status);
  if (r.out.find('\r') != std::string::npos) finding("carriage return on the console", r.out, r.err, r.status);
  std::size_t i = 0;
  auto fail = [&](const char* what) { finding(std::string(what) + " at console line " + std::to_string(i + 1), r.out, r.err, r.status); };
  auto more = [&] { return i < lines.size(); };
  if (!more()) return;
  if (!starts(lines[i], " N =  ") || !is_int(lines[i].substr(6))) fail("order line");
  const long n = std::strtol(lines[i].substr(6).c_str(), nullptr, 10);
  const char* fixed[] = {" allocated", " read"};
  for (const char* f : fixed) {
    if (!more() || ++i == lines.size()) return;
    if (lines[i] != f) fail("progress line");
  }
  if (++i == lines.size()) return;
  if (!starts(lines[i], " diagonalized - direct, IERR:  ") || !is_int(lines[i].substr(31))) fail("IERR line");
  if (++i == lines.size()) return;
  if (lines[i].size() != 48) fail("summary length");
  for (int k = 0; k < 4; ++k)
    if (!g_field(lines[i].substr(static_cast<std::size_t>(12 * k), 12))) fail("summary field");
  if (++i == lines.size()) return;
  if (lines[i] != " written") fail("written line");
  const std::string again = " Number of blocks must be from 1 to " + std::to_string(n / 2) + " (every block needs at least 2 positions)";
  while (true) {
    if (++i == lines.size()) return;
    if (lines[i] != " Number of blocks:") fail("prompt");
    if (++i == lines.size()) return;
    if (lines[i] == again) continue;
    if (lines[i] != " block  dimension start  end") fail("table heading");
    break;
  }
  long blocks = 0;
  while (++i < lines.size() && lines[i].size() != 53 && lines[i].size() != 77) {
    std::istringstream row(lines[i]);
    long b, dim, start, end;
    if (!(row >> b >> dim >> start >> end) || b != blocks + 1 || dim < 2 || end != start + dim - 1) fail("table row");
    ++blocks;
  }
  if (blocks < 1 || blocks > n / 2) fail("block count");
  long sweep = 0;
  while (i < lines.size()) {
    ++sweep;
    for (long b = 1; b <= blocks; ++b, ++i) {
      if (i == lines.size()) return;
      if (lines[i].size() != 53 || !i5(lines[i].substr(0, 5), b)) fail("block line");
      for (int k = 0; k < 4; ++k)
        if (!g_field(lines[i].substr(static_cast<std::size_t>(5 + 12 * k), 12))) fail("block line field");
    }
    if (i == lines.size()) return;
    if (lines[i].size() != 77 || !i5(lines[i].substr(0, 5), sweep) || sweep > 101) fail("sweep line");
    for (int k = 0; k < 6; ++k)
      if (!g_field(lines[i].substr(static_cast<std::size_t>(5 + 12 * k), 12))) fail("sweep line field");
    if (lines[i].substr(65) != "   0.100E-05") fail("sweep line TOL");
    ++i;
  }
  if (r.status == 0 && (sweep == 0 || i != lines.size())) fail("normal end without a last sweep line");
}

const std::set<int> statement_lines = {10, 11, 12, 13, 14, 15, 16, 17, 19, 20, 22, 24, 25, 27, 30, 31, 32, 40, 42, 60, 72, 86, 92, 126, 169};

void check_report(const Run& r) {
  if (r.status == 0) {
    if (!r.err.empty()) finding("standard error after a normal end", r.out, r.err, r.status);
    return;
  }
  if (r.status != 1 && r.status != 2) finding("exit status", r.out, r.err, r.status);
  bool complete = true;
  std::vector<std::string> lines = split(r.err, complete);
  if (!complete) finding("report line without a line feed", r.out, r.err, r.status);
  std::size_t i = 0;
  if (!lines.empty() && starts(lines[0], "At line ")) {
    std::istringstream locus(lines[0].substr(8));
    int line = 0;
    std::string rest;
    locus >> line;
    std::getline(locus, rest);
    if (!statement_lines.count(line)) finding("locus line number", r.out, r.err, r.status);
    if (rest != " of file main.cpp" && rest != " of file main.cpp (Unit 8 \"A.SCR\")" && rest != " of file main.cpp (Unit 5)" &&
        rest != " of file main.cpp (Unit 8 \"C.SCR.TXT\")" && !starts(rest, " of file main.cpp file: \""))
      finding("locus line", r.out, r.err, r.status);
    ++i;
  }
  if (i == lines.size() || lines[i] != "Traceback: not available, compile with -ftrace=frame or -ftrace=full")
    finding("traceback line", r.out, r.err, r.status);
  ++i;
  if (r.status == 2) {
    if (lines.size() != i + 1 || !starts(lines[i], "Fortran runtime error: ") || lines[i].size() == 23)
      finding("message line", r.out, r.err, r.status);
  } else {
    if (lines.size() != i + 2 || !starts(lines[i], "Operating system error: ") || lines[i + 1] != "Memory allocation failed")
      finding("allocation report", r.out, r.err, r.status);
  }
}

void check_eigenvalue_file(const Run& r, long n) {
  if (r.status != 0) return;
  bool complete = true;
  const std::vector<std::string> lines = split(r.eigenvalues, complete);
  if (!r.eigenvalue_file_exists || !complete || static_cast<long>(lines.size()) != n)
    finding("C.SCR.TXT after a normal end: " + std::to_string(lines.size()) + " lines", r.out, r.err, r.status);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    char index[16];
    std::snprintf(index, sizeof index, "%12zu", k + 1);
    if (lines[k].size() != 24 || lines[k].substr(0, 12) != index) finding("C.SCR.TXT line", r.out, r.err, r.status);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/blockeig-fuzz-program-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) std::abort();
  work_dir = pattern;
  coverage_fd = ::memfd_create("blockeig-coverage", 0);  // inherited by the child
  if (coverage_fd < 0 || ::ftruncate(coverage_fd, coverage_map_size) != 0) std::abort();
  void* area = ::mmap(nullptr, coverage_map_size, PROT_READ | PROT_WRITE, MAP_SHARED, coverage_fd, 0);
  if (area == MAP_FAILED) std::abort();
  coverage_map = static_cast<std::uint8_t*>(area);
  std::atexit([] { std::filesystem::remove_all(work_dir); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const blockeig::fuzz::ProgramInput p = blockeig::fuzz::decode_program_input(data, size);
  const std::string& file = p.file;
  const std::string& input = p.input;
  const bool big = p.big;
  const std::int32_t n = p.n;
  const int damage = p.damage;
  std::filesystem::remove(work_dir + "/C.SCR.TXT");
  write_bytes(work_dir + "/A.SCR", file);
  current_input_summary = "N = " + std::to_string(n) + (big ? " big-endian" : "") + ", damage " + std::to_string(damage) +
                          ", " + std::to_string(file.size()) + " file bytes, " + std::to_string(input.size()) + " input bytes\n";

  std::vector<std::string> environment = {
      "ASAN_OPTIONS=exitcode=86:detect_leaks=1:allocator_may_return_null=1",
      "UBSAN_OPTIONS=exitcode=87:print_stacktrace=1",
      "BLOCKEIG_PROGRESS=0",
      std::string(blockeig::fuzz::coverage_fd_variable) + "=" + std::to_string(coverage_fd),
  };
  if (big) environment.push_back("BLOCKEIG_CONVERT=big_endian");
  const Run r = run_blockeig(environment, input);
  check_report(r);
  check_console(r);
  check_eigenvalue_file(r, n);
  return 0;
}
