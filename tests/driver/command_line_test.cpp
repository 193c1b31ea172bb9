// blockeig's own options, and the arguments it ignores.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "arithmetic/extended.hpp"
#include "arithmetic/extended_kernels.hpp"
#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

ChildResult run_with(const std::vector<std::string>& arguments, std::vector<std::string> environment = {}) {
  TempDir dir;
  ChildOptions options;
  options.directory = dir.path();
  options.environment = std::move(environment);
  return run_child(BLOCKEIG_BIN, arguments, options);
}

TEST(CommandLine, HelpVersionAndSettings) {
  // The short forms answer as the long ones do, wherever they stand.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"-h"}, {"matrix.dat", "-h"}}) {
    const ChildResult help = run_with(arguments);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: blockeig", 0), 0u);
    for (const char* topic : {"A.SCR", "C.SCR.TXT", "Number of blocks:", "Exit status", "BLOCKEIG_CONVERT",
                              "BLOCKEIG_THREADS", "BLOCKEIG_PROGRESS", "BLOCKEIG_RESULTS", "--results",
                              "BLOCKEIG_CHECKPOINT", "BLOCKEIG_CHECKPOINT_SECONDS", "--checkpoint",
                              "BLOCKEIG_KERNELS"})
      EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
  }
  for (const char* argument : {"--version", "-V"}) {
    const ChildResult version = run_with({argument});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("blockeig ") + BLOCKEIG_VERSION + " (" + std::string(extended_arithmetic) +
                               " extended arithmetic)\nkernels: " + std::string(kernels::in_use()) + "\n");
  }

  const ChildResult settings = run_with({"--settings"}, {"BLOCKEIG_THREADS=3", "BLOCKEIG_CONVERT=big_endian"});
  EXPECT_EQ(settings.status, 0);
  EXPECT_EQ(settings.err, "");
  EXPECT_EQ(settings.out,
            "SETTING                     VALUE          FROM\n"
            "BLOCKEIG_CONVERT            big_endian     environment\n"
            "BLOCKEIG_THREADS            3              environment\n"
            "BLOCKEIG_PROGRESS           1              default\n"
            "BLOCKEIG_RESULTS            none           default\n"
            "BLOCKEIG_CHECKPOINT         none           default\n"
            "BLOCKEIG_CHECKPOINT_SECONDS 60             default\n"
            "BLOCKEIG_KERNELS            auto           default\n");

  // The command line wins over the environment, and makes no file for
  // --settings, which does no run.
  const std::pair<std::string, std::string> file_settings[] = {{"--results", "BLOCKEIG_RESULTS"},
                                                               {"--checkpoint", "BLOCKEIG_CHECKPOINT"}};
  for (const auto& [option, name] : file_settings) {
    const std::string listed = name + std::string(28 - name.size(), ' ');
    const ChildResult given = run_with({option, "a.json", "--settings", option + "=b.json"}, {name + "=c.json"});
    EXPECT_EQ(given.status, 0);
    EXPECT_NE(given.out.find(listed + "b.json         command line\n"), std::string::npos) << given.out;
    const ChildResult environment = run_with({"--settings"}, {name + "=c.json", "BLOCKEIG_CHECKPOINT_SECONDS=0"});
    EXPECT_NE(environment.out.find(listed + "c.json         environment\n"), std::string::npos);
    EXPECT_NE(environment.out.find("BLOCKEIG_CHECKPOINT_SECONDS 0              environment\n"), std::string::npos);
  }
}

// The options' texts are output like any other: refused, they are reported
// (no statement, so no locus line) with exit status 2, never lost quietly.
TEST(CommandLine, RefusedOutputIsReported) {
  struct Case {
    const char* option;
    const char* device;
    std::function<void()> limit;
    const char* message;
  };
  const auto no_file_growth = [] {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &none);
  };
  const Case cases[] = {
      {"--help", "/dev/full", {}, "No space left on device"},
      {"--version", "/dev/full", {}, "No space left on device"},
      {"--settings", "/dev/full", {}, "No space left on device"},
      {"--help", "out.txt", no_file_growth, "File too large"},
      {"--version", "out.txt", no_file_growth, "File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " > " + c.device);
    TempDir dir;
    ChildOptions options;
    options.directory = dir.path();
    options.before_exec = [&c] {
      const int fd = ::open(c.device, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) ::_exit(125);
      ::dup2(fd, 1);
      ::signal(SIGXFSZ, SIG_DFL);
      if (c.limit) c.limit();
    };
    const ChildResult r = run_child(BLOCKEIG_BIN, {c.option}, options);
    EXPECT_EQ(r.err, std::string("Traceback: not available, compile with -ftrace=frame or -ftrace=full\n") +
                         "Fortran runtime error: " + c.message + "\n");
    EXPECT_EQ(r.status, 2);
  }
}

TEST(CommandLine, BadSettingsAreRefusedAtStartUp) {
  const std::string zeros(3000, '0');
  const std::pair<std::string, std::string> cases[] = {
      {"BLOCKEIG_THREADS=0", "BLOCKEIG_THREADS=0 is not a thread count; use a whole number from 1 to 1024"},
      {"BLOCKEIG_THREADS=2x", "BLOCKEIG_THREADS=2x is not a thread count; use a whole number from 1 to 1024"},
      {"BLOCKEIG_PROGRESS=yes", "BLOCKEIG_PROGRESS=yes is not a switch; use 0 (off) or 1 (on)"},
      {"BLOCKEIG_CHECKPOINT_SECONDS=-1",
       "BLOCKEIG_CHECKPOINT_SECONDS=-1 is not a number of seconds; use a whole number from 0 to 2147483647"},
      {"BLOCKEIG_CHECKPOINT_SECONDS=1.5",
       "BLOCKEIG_CHECKPOINT_SECONDS=1.5 is not a number of seconds; use a whole number from 0 to 2147483647"},
      // What a terminal would act on is shown, not sent; a long value is cut.
      {"BLOCKEIG_THREADS=\x1b[31m", "BLOCKEIG_THREADS=\\x1b[31m is not a thread count; use a whole number from 1 to 1024"},
      {"BLOCKEIG_CONVERT=\xe9\x9b", "BLOCKEIG_CONVERT=\\xe9\\x9b is not a byte order; use native, little_endian, big_endian or swap"},
      {"BLOCKEIG_PROGRESS=1" + zeros, "BLOCKEIG_PROGRESS=1" + zeros.substr(0, 90) + "[...2819 bytes...]" +
                                          zeros.substr(0, 91) + " is not a switch; use 0 (off) or 1 (on)"},
  };
  for (const auto& [setting, message] : cases) {
    const ChildResult r = run_with({"--settings"}, {setting});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Traceback: not available, compile with -ftrace=frame or -ftrace=full\n") +
                         "Fortran runtime error: " + message + "\n");
  }
}

// A file name reaches the terminal the same way in --settings (reports show
// every message printable: Report.EveryFormAndStatus).
TEST(CommandLine, FileNamesAreShownPrintable) {
  const ChildResult listed = run_with({"--settings", "--results", "a\x1b[31mb\xe9"});
  EXPECT_NE(listed.out.find("BLOCKEIG_RESULTS            a\\x1b[31mb\\xe9 command line\n"), std::string::npos)
      << listed.out;
}

// A mistyped option would lose what the user asked for (a results file, a
// checkpoint) without a word: it is refused before the run starts, and no
// file is made (a run would create a missing A.SCR).
TEST(CommandLine, MistakesAreRefusedBeforeAnyWork) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--result", "run.json"}, "unknown option '--result' (did you mean '--results'?)"},
      {{"--resutls=run.json"}, "unknown option '--resutls=run.json' (did you mean '--results'?)"},
      {{"--chekpoint", "c"}, "unknown option '--chekpoint' (did you mean '--checkpoint'?)"},
      {{"-help"}, "unknown option '-help' (did you mean '--help'?)"},
      {{"--hlep"}, "unknown option '--hlep' (did you mean '--help'?)"},
      {{"-v"}, "unknown option '-v' (did you mean '-V'?)"},
      {{"-x"}, "unknown option '-x'"},
      {{"--threads", "8"}, "unknown option '--threads' (the setting BLOCKEIG_THREADS is taken from the environment)"},
      {{"--BLOCKEIG_CONVERT=swap"},
       "unknown option '--BLOCKEIG_CONVERT=swap' (the setting BLOCKEIG_CONVERT is taken from the environment)"},
      {{"--checkpoint-seconds=5"},
       "unknown option '--checkpoint-seconds=5' (the setting BLOCKEIG_CHECKPOINT_SECONDS is taken from the environment)"},
      {{"--\x1b[2J"}, "unknown option '--\\x1b[2J'"},
      {{"--help=yes"}, "option '--help' takes no value"},
      {{"--results"}, "option '--results' needs a file name"},
      {{"--results", "--checkpoint", "x"},
       "option '--results' needs a file name, not '--checkpoint' (for a file of that name, write ./--checkpoint)"},
      {{"--checkpoint=--results"},
       "option '--checkpoint' needs a file name, not '--results' (for a file of that name, write ./--results)"},
      {{"--tol", "0"}, "option '--tol' needs a positive number, not '0'"},
      {{"--tol=1e-9x"}, "option '--tol' needs a positive number, not '1e-9x'"},
      {{"--max-sweeps", "100000"}, "option '--max-sweeps' needs a whole number from 1 to 99999, not '100000'"},
      // The first mistake is named, and a mistake wins over a request.
      {{"-h", "-x", "-y"}, "unknown option '-x'"},
  };
  for (const auto& [arguments, message] : cases) {
    SCOPED_TRACE(arguments[0]);
    TempDir dir;
    ChildOptions options;
    options.directory = dir.path();
    options.input = "1\n";
    const ChildResult r = run_child(BLOCKEIG_BIN, arguments, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "blockeig: " + message +
                         "\nUsage: blockeig [--results FILE] [--checkpoint FILE] [--tol X] [--max-sweeps K]\n"
                         "                [-h | --help | -V | --version | --settings]\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
}

// A plain word is most likely a matrix the user expects to be read: one
// warning line says where the matrix comes from, and the run is the same.
TEST(CommandLine, OperandsAreNotReadAndSaidSo) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(4, diagonal_matrix({1, 2, 3, 4})));
  ChildOptions options;
  options.directory = dir.path();
  options.input = "1\n";
  const ChildResult plain = run_child(BLOCKEIG_BIN, {}, options);
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  const std::string where = " not read: the matrix is always read from A.SCR in the working directory\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"matrix.scr"}, "argument 'matrix.scr' is" + where},
      {{"a.scr", "--results", "r.json", "b.scr"}, "arguments 'a.scr', 'b.scr' are" + where},
      {{"1", "2", "3", "4", "5"}, "arguments '1', '2', '3' and 2 more are" + where},
      {{"\x1b]0;title\x07"}, "argument '\\x1b]0;title\\x07' is" + where},
  };
  for (const auto& [arguments, warning] : cases) {
    SCOPED_TRACE(arguments[0]);
    const ChildResult r = run_child(BLOCKEIG_BIN, arguments, options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.err, "blockeig: warning: " + warning);
  }
}

}  // namespace
}  // namespace blockeig::testing
