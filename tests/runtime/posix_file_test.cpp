// The shared file calls: links followed as the kernel follows them, one
// directory entry told from another, and a write that takes nothing
// reported the same way by every writer.
#include "runtime/posix_file.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

namespace fs = std::filesystem;

TEST(PosixFile, LinksAndEntries) {
  TempDir dir;
  fs::create_directory(dir / "sub");
  write_file(dir / "file", "x");
  fs::create_hard_link(dir / "file", dir / "hard");
  fs::create_symlink("file", dir / "link");
  fs::create_symlink("sub/../link", dir / "chain");
  fs::create_symlink("nowhere", dir / "dangling");
  fs::create_symlink("loop", dir / "loop");
  const std::string d = dir.path().string() + "/";
  struct Case {
    std::string name;
    std::string leads_to;
    int error;
  };
  const Case follows[] = {
      {d + "chain", d + "sub/../file", 0},
      {d + "dangling", d + "nowhere", 0},
      {d + "loop", d + "loop", ELOOP},
  };
  for (const Case& c : follows) {
    int error = -1;
    EXPECT_EQ(runtime::follow_links(c.name, error), c.leads_to) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  EXPECT_TRUE(runtime::same_entry(d + "chain", d + "sub/../file"));
  EXPECT_TRUE(runtime::same_entry(d + "dangling", d + "sub/../nowhere"));
  EXPECT_FALSE(runtime::same_entry(d + "hard", d + "file")) << "replacing one hard link leaves the other";
  EXPECT_FALSE(runtime::same_entry(d + "file", d + "sub/file"));
}

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
    int status;
    std::string err;
  };
  // With only the standard descriptors inherited, the first file a run
  // opens after A.SCR, and the only one scrtool opens, is descriptor 3.
  const Case cases[] = {
      {"C.SCR.TXT", BLOCKEIG_BIN, {}, 2,
       "At line 22 of file main.cpp (Unit 8 \"C.SCR.TXT\")\n"
       "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n"
       "Fortran runtime error: No space left on device\n"},
      {"the results file", BLOCKEIG_BIN, {"--results", "r.json"}, 2,
       "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n"
       "Fortran runtime error: Cannot write results file \"r.json\": No space left on device\n"},
      {"scrtool's output", SCRTOOL_BIN, {"gen", "ones", "4", "-o", "B.SCR"}, 2,
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
    options.environment = {std::string("LD_PRELOAD=") + SHORT_TRANSFERS_LIB, "REFUSE_WRITES=3 0 0"};
    const ChildResult r = run_child(c.program, c.arguments, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
}  // namespace blockeig::testing
