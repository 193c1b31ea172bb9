// The run-time's reports seen from outside: every form, its exit status,
// processor exceptions and a failure during a report, one probe run each.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/frame_probe.hpp"
#include "support/sanitizer.hpp"

namespace blockeig::testing {
namespace {

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
      {"a file name's control bytes are quoted", {"open", "no/\x1b[31mX"},
       std::string("At line 20 of file probe.cpp file: \"no/\\x1b[31mX\"\n") + traceback +
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

}  // namespace
}  // namespace blockeig::testing
