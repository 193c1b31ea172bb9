// A write that takes nothing, reported the same way by every writer.
#include "runtime/posix_file.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

// A write(2) that takes nothing: a full device, as the program's file
// units, its results file and scrtool's output all report it.
TEST(PosixFile, AWriteThatTakesNothing) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer must come first among the preloaded libraries";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind sets the preloaded libraries itself";
  struct Case {
    const char* name;
    std::string program;
    std::vector<std::string> arguments;
    int descriptor;
    int status;
    std::string err;
  };
  // With only the standard descriptors inherited, the first file a run
  // opens after A.SCR, and the only one scrtool opens, is descriptor 3. A
  // results file keeps its texts in four memory files, 3 to 6, opened
  // before its first document goes to descriptor 7.
  const Case cases[] = {
      {"C.SCR.TXT", BLOCKEIG_BIN, {}, 3, 2,
       "At line 22 of file main.cpp (Unit 8 \"C.SCR.TXT\")\n"
       "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n"
       "Fortran runtime error: No space left on device\n"},
      {"the results file", BLOCKEIG_BIN, {"--results", "r.json"}, 7, 2,
       "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n"
       "Fortran runtime error: Cannot write results file \"r.json\": No space left on device\n"},
      {"scrtool's output", SCRTOOL_BIN, {"gen", "ones", "4", "-o", "B.SCR"}, 3, 2,
       "scrtool gen: cannot write B.SCR: No space left on device\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(4, one_two_one_matrix(4)));
    ChildOptions options;
    options.directory = dir.path();
    options.input = "2\n";
    options.timeout_seconds = 20;
    options.before_exec = [] { ::close_range(3, ~0u, 0); };
    options.environment = {std::string("LD_PRELOAD=") + SHORT_TRANSFERS_LIB,
                           "REFUSE_WRITES=" + std::to_string(c.descriptor) + " 0 0"};
    const ChildResult r = run_child(c.program, c.arguments, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
}  // namespace blockeig::testing
