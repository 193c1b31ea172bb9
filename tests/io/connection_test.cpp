// Connections and the standard input seen from outside: what files look
// like after OPEN, WRITE and CLOSE, refused writes, and lines read from
// standard input, one probe run per case.
#include <sys/resource.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/frame_probe.hpp"

namespace blockeig::testing {
namespace {

std::string lines(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
  return text;
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

}  // namespace
}  // namespace blockeig::testing
