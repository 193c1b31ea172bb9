// The run-time frame seen from outside: reports, exit statuses and what
// files look like afterwards, one child process per case.
#include <sys/resource.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"

namespace blockeig::testing {
namespace {

constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

ChildResult probe(const TempDir& dir, std::vector<std::string> arguments, std::string input = {}) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = std::move(input);
  return run_child(FRAME_PROBE_BIN, arguments, options);
}

std::string lines(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
  return text;
}

struct ReportCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string err;
  int status;
};

TEST(Report, EveryFormAndStatus) {
  const ReportCase cases[] = {
      {"unit with a file name", {"read-missing", "A.SCR"},
       std::string("At line 11 of file probe.cpp (Unit 8 \"A.SCR\")\n") + traceback + "Fortran runtime error: End of file\n", 2},
      {"no current unit", {"allocate-twice"},
       std::string("At line 13 of file probe.cpp\n") + traceback + "Fortran runtime error: Array already allocated\n", 2},
      {"bad deallocation", {"deallocate-unallocated"},
       std::string("At line 13 of file probe.cpp\n") + traceback + "Fortran runtime error: Deallocated a bad pointer\n", 2},
      {"open failure names the file", {"open", "."},
       std::string("At line 20 of file probe.cpp file: \".\"\n") + traceback + "Fortran runtime error: Is a directory\n", 2},
      {"open in a missing directory", {"open", "no/such/dir"},
       std::string("At line 20 of file probe.cpp file: \"no/such/dir\"\n") + traceback +
           "Fortran runtime error: No such file or directory\n", 2},
      {"open over another connection keeps its locus", {"reopen", "."},
       std::string("At line 21 of file probe.cpp file: \".\"\n") + traceback + "Fortran runtime error: Is a directory\n", 2},
      {"size check before any memory", {"allocate", "23171"},
       std::string("At line 13 of file probe.cpp\n") + traceback +
           "Operating system error: Cannot allocate memory\nMemory allocation failed\n", 1},
      {"internal error", {"internal"},
       std::string("At line 7 of file probe.cpp\n") + traceback + "Internal Error: unit table damaged\n", 3},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const ChildResult r = probe(dir, c.arguments);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
  }
}

TEST(Report, ProcessorExceptionsByName) {
  const std::pair<const char*, const char*> cases[] = {
      {"segv", "Access Violation"},     {"integer-division", "Integer division by zero"},
      {"illegal", "Illegal instruction"}, {"stack", "Stack overflow"},
      {"float-trap", "Division by zero"}, {"page", "Page error"},
      {"breakpoint", "Breakpoint"},
  };
  for (const auto& [scenario, name] : cases) {
    SCOPED_TRACE(scenario);
    TempDir dir;
    const ChildResult r = probe(dir, {scenario, "mapped.bin"});
    EXPECT_EQ(r.err, std::string("Exception: ") + name + "\nAt line 60 of file probe.cpp\n" + traceback);
    EXPECT_EQ(r.status, 95);
  }
}

// Helper threads have stacks of their own size, whatever the stack limit
// says, and an alternate signal stack: a task deeper than a small limit
// fits, and an overflow on a helper gives the whole report.
TEST(Report, FaultsOnHelperThreads) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles stack overflows and sizes frames itself";
#endif
  const std::string overflow = std::string("Exception: Stack overflow\nAt line 60 of file probe.cpp\n") + traceback;
  struct Case {
    const char* scenario;
    rlim_t stack_limit;  // 0: as inherited
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"worker-stack", 0, "", overflow, 95},
      {"worker-stack", 64 * 1024, "", overflow, 95},
      {"worker-stack", RLIM_INFINITY, "", overflow, 95},
      {"worker-deep-task", 64 * 1024, "task of 320 KiB done on a helper thread\n", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scenario) + ", stack limit " + std::to_string(c.stack_limit));
    TempDir dir;
    ChildOptions options;
    options.directory = dir.path();
    options.timeout_seconds = 30;
    options.before_exec = [limit = c.stack_limit] {
      if (limit == 0) return;
      const rlimit stack{limit, limit};
      ::setrlimit(RLIMIT_STACK, &stack);
    };
    const ChildResult r = run_child(FRAME_PROBE_BIN, {c.scenario}, options);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

TEST(Report, SecondFailureDuringAReportExitsWithFour) {
  TempDir dir;
  const ChildResult r = probe(dir, {"nested", "C.SCR.TXT"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, std::string("At line 31 of file probe.cpp\n") + traceback);
}

TEST(Allocate, LargestSquareMatrixPassesTheSizeCheck) {
  TempDir dir;
  const ChildResult r = probe(dir, {"allocate", "23170"});
  EXPECT_EQ(r.out, "allocated 536848900\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST(Open, DefaultsAndTruncation) {
  TempDir dir;
  // A missing file is created empty by OPEN and stays.
  EXPECT_EQ(probe(dir, {"open-close", "new.txt"}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "new.txt"));
  EXPECT_EQ(read_file(dir / "new.txt"), "");

  // Opened and closed without a write: unchanged byte for byte.
  write_file(dir / "old.txt", lines(1, 100));
  EXPECT_EQ(probe(dir, {"open-close", "old.txt"}).status, 0);
  EXPECT_EQ(read_file(dir / "old.txt"), lines(1, 100));

  // Written with three lines: exactly those three lines, line feeds only.
  const ChildResult r = probe(dir, {"write-lines", "old.txt", "3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir / "old.txt"), lines(1, 3));

  // More than one buffer's worth arrives whole.
  EXPECT_EQ(probe(dir, {"write-lines", "big.txt", "5000"}).status, 0);
  EXPECT_EQ(read_file(dir / "big.txt"), lines(1, 5000));
}

TEST(Open, ReadOnlyFileIsOpenedForReadingAndRefusesWrites) {
  TempDir dir;
  write_file(dir / "C.SCR.TXT", "keep me\n");
  ::chmod((dir / "C.SCR.TXT").c_str(), 0444);
  const ChildResult r = probe(dir, {"write-lines", "C.SCR.TXT", "3"});
  EXPECT_EQ(r.err, std::string("At line 22 of file probe.cpp (Unit 8 \"C.SCR.TXT\")\n") + traceback +
                       "Fortran runtime error: Cannot write to file opened for READ\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(read_file(dir / "C.SCR.TXT"), "keep me\n");
}

TEST(Close, RefusedWritesAreReportedNotLost) {
  struct Case {
    const char* scenario;
    int line;
  };
  for (const Case& c : {Case{"close-refused", 24}, Case{"write-refused", 22}}) {
    SCOPED_TRACE(c.scenario);
    TempDir dir;
    const ChildResult r = probe(dir, {c.scenario, "C.SCR.TXT"});
    EXPECT_EQ(r.err, "At line " + std::to_string(c.line) + " of file probe.cpp (Unit 8 \"C.SCR.TXT\")\n" +
                         traceback + "Fortran runtime error: File too large\n");
    EXPECT_EQ(r.status, 2);
  }
  // A file-size limit refuses the write like any platform refusal: reported,
  // not a silent end by signal.
  {
    TempDir dir;
    ChildOptions options;
    options.directory = dir.path();
    options.before_exec = [] {
      ::signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{100, 100};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const ChildResult r = run_child(FRAME_PROBE_BIN, {"write-lines", "C.SCR.TXT", "3000"}, options);
    EXPECT_EQ(r.err, std::string("At line 22 of file probe.cpp (Unit 8 \"C.SCR.TXT\")\n") + traceback +
                         "Fortran runtime error: File too large\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "C.SCR.TXT"), lines(1, 3000).substr(0, 100));
  }
  // At close-down no statement locus is set any more: the report names no line.
  TempDir dir;
  const ChildResult r = probe(dir, {"close-down-refused", "C.SCR.TXT"});
  EXPECT_EQ(r.err, std::string(traceback) + "Fortran runtime error: File too large\n");
  EXPECT_EQ(r.status, 2);
}

// List-directed READs of standard input, one after the other: each takes
// its item and leaves the rest of its line, which the next READ skips, in
// pieces of any size; the end of the input ends the run.
TEST(StandardInput, ReadsOneItemPerLine) {
  const std::string eof = std::string("At line 31 of file probe.cpp (Unit 5)\n") + traceback + "Fortran runtime error: End of file\n";
  const std::pair<std::string, std::string> cases[] = {
      {"3\n", "[3]\n"},
      {"7\r\n8", "[7]\n[8]\n"},
      {"1 2 3\n\n  4 x\r\n5", "[1]\n[4]\n[5]\n"},
      {"6 " + std::string(4500, 'q') + "\n9\n", "[6]\n[9]\n"},
      {std::string(4500, ' ') + "2\n1\n", "[2]\n[1]\n"},
      {"", ""},
  };
  for (const auto& [input, echoed] : cases) {
    SCOPED_TRACE(input.substr(0, 16));
    TempDir dir;
    const ChildResult r = probe(dir, {"read-integers"}, input);
    EXPECT_EQ(r.out, echoed);
    EXPECT_EQ(r.err, eof);
    EXPECT_EQ(r.status, 2);
  }
}

TEST(StartUp, FloatingPointControlWords) {
  TempDir dir;
  EXPECT_EQ(probe(dir, {"fp-environment"}).out, "037f 00001f80\n");
}

TEST(StartUp, BadSettingIsAStartUpError) {
  TempDir dir;
  ChildOptions options;
  options.directory = dir.path();
  options.environment = {"BLOCKEIG_CONVERT=middle_endian"};
  const ChildResult r = run_child(FRAME_PROBE_BIN, {"fp-environment"}, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(traceback) +
                       "Fortran runtime error: BLOCKEIG_CONVERT=middle_endian is not a byte order; use native, "
                       "little_endian, big_endian or swap\n");
}

}  // namespace
}  // namespace blockeig::testing
