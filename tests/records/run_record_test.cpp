// The run's records as files: what a name given to --results or
// --checkpoint may lead to, and what a run stopped by a signal leaves in
// them.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

ChildResult run_in(const TempDir& dir, ChildOptions options, std::vector<std::string> arguments,
                   const std::string& program = BLOCKEIG_BIN) {
  options.directory = dir.path();
  return run_child(program, arguments, options);
}

// The document in `path`, or null when there is none that parses.
json document(const fs::path& path) { return json::parse(read_file(path), nullptr, false); }

std::string state_of(const json& d) { return d.is_object() ? d.value("state", "") : "(no document)"; }

std::vector<std::string> temporaries_in(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    if (entry.path().filename().string().ends_with(".tmp")) names.push_back(entry.path().filename());
  return names;
}

// Links are followed, only regular files are renamed over, a directory is
// called one, mode and owner stay, and a name as long as the directory
// takes is taken.
TEST(RunRecord, TargetsOfEveryKind) {
  const std::string long_name(250, 'r');
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    std::vector<std::string> arguments;
    const char* refusal;  // the start-up report's message, or "" for a run that ends normally
    std::function<void(const TempDir&)> check;
  };
  const Case cases[] = {
      {"a link to the results file", [](const TempDir& d) { fs::create_symlink("real.json", d / "r.json"); },
       {"--results", "r.json"}, "",
       [](const TempDir& d) {
         EXPECT_TRUE(fs::is_symlink(d / "r.json"));
         EXPECT_EQ(state_of(document(d / "real.json")), "finished");
       }},
      {"a link to a device", [](const TempDir& d) { fs::create_symlink("/dev/null", d / "nul"); },
       {"--results", "nul"}, "Cannot write results file \"nul\": it is a character device, not a regular file",
       [](const TempDir& d) { EXPECT_TRUE(fs::is_symlink(d / "nul")); }},
      {"a FIFO", [](const TempDir& d) { ::mkfifo((d / "fifo").c_str(), 0600); }, {"--results", "fifo"},
       "Cannot write results file \"fifo\": it is a FIFO, not a regular file",
       [](const TempDir& d) { EXPECT_TRUE(fs::is_fifo(d / "fifo")); }},
      {"a directory named with a slash", [](const TempDir& d) { fs::create_directory(d / "d"); },
       {"--results", "d/"}, "Cannot write results file \"d/\": it is a directory",
       [](const TempDir& d) { EXPECT_TRUE(fs::is_empty(d / "d")); }},
      {"the working directory", [](const TempDir&) {}, {"--results", "."},
       "Cannot write results file \".\": it is a directory", [](const TempDir&) {}},
      {"a results file kept private",
       [](const TempDir& d) {
         write_file(d / "r.json", "old");
         ::chmod((d / "r.json").c_str(), 0600);
         if (::geteuid() == 0) {
           EXPECT_EQ(::chown((d / "r.json").c_str(), 4321, 4322), 0);
         }
       },
       {"--results", "r.json"}, "",
       [](const TempDir& d) {
         struct stat info {};
         ::stat((d / "r.json").c_str(), &info);
         EXPECT_EQ(info.st_mode & 07777, 0600u);
         if (::geteuid() == 0) {
           EXPECT_EQ(info.st_uid * 10000 + info.st_gid, 4321u * 10000 + 4322u);
         }
       }},
      {"a name of 250 characters", [](const TempDir&) {}, {"--results", long_name, "--checkpoint", long_name + ".c"},
       "", [&](const TempDir& d) { EXPECT_EQ(state_of(document(d / long_name)), "finished"); }},
      {"a link to the checkpoint", [](const TempDir& d) { fs::create_symlink("real.ckpt", d / "ck"); },
       {"--checkpoint", "ck"}, "",
       [](const TempDir& d) {
         EXPECT_TRUE(fs::is_symlink(d / "ck"));
         EXPECT_FALSE(fs::exists(d / "real.ckpt")) << "a finished run removes its checkpoint";
       }},
      {"a checkpoint that is a device", [](const TempDir& d) { fs::create_symlink("/dev/null", d / "nul"); },
       {"--checkpoint", "nul"}, "Cannot write checkpoint \"nul\": it is a character device, not a regular file",
       [](const TempDir& d) { EXPECT_TRUE(fs::is_symlink(d / "nul")); }},
  };
  const std::string matrix = scr_file(8, one_two_one_matrix(8));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", matrix);
    c.prepare(dir);
    ChildOptions options;
    options.input = "2\n";
    options.environment = {"BLOCKEIG_CHECKPOINT_SECONDS=0"};
    const ChildResult r = run_in(dir, options, c.arguments);
    const std::string refusal = c.refusal;
    EXPECT_EQ(r.err, refusal.empty() ? "" : traceback + ("Fortran runtime error: " + refusal + "\n"));
    EXPECT_EQ(r.status, refusal.empty() ? 0 : 2);
    EXPECT_EQ(fs::exists(dir / "C.SCR.TXT"), refusal.empty()) << "a refusal comes before any work";
    c.check(dir);
    EXPECT_EQ(temporaries_in(dir), std::vector<std::string>{});
  }
}

// A record whose name leads to the file standard output or standard error
// goes to would replace the transcript or the report: refused at start-up.
TEST(RunRecord, TheFilesOfTheStandardStreamsAreRefused) {
  struct Case {
    const char* redirection;  // of the shell that starts the run
    const char* arguments;
    const char* refusal;
    const char* report_in;  // the file that takes standard error
  };
  const Case cases[] = {
      {"> o.txt 2> e.txt", "--results o.txt", "results file \"o.txt\": it is the file standard output goes to", "e.txt"},
      {"> o.txt 2> e.txt", "--results /dev/stdout", "results file \"/dev/stdout\": it is the file standard output goes to",
       "e.txt"},
      {">> o.txt 2> e.txt", "--checkpoint ./o.txt", "checkpoint \"./o.txt\": it is the file standard output goes to",
       "e.txt"},
      {"> o.txt 2> e.txt", "--checkpoint e.txt", "checkpoint \"e.txt\": it is the file standard error goes to", "e.txt"},
      {"> o.txt 2> e.txt", "--results /dev/stderr", "results file \"/dev/stderr\": it is the file standard error goes to",
       "e.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    TempDir dir;
    write_file(dir / "A.SCR", scr_file(8, one_two_one_matrix(8)));
    write_file(dir / "o.txt", "kept\n");
    ChildOptions options;
    options.input = "2\n";
    const std::string command = "exec '" + std::string(BLOCKEIG_BIN) + "' " + c.arguments + " " + c.redirection;
    const ChildResult r = run_in(dir, options, {"-c", command}, "/bin/sh");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / c.report_in), traceback + std::string("Fortran runtime error: Cannot write ") + c.refusal + "\n");
    EXPECT_EQ(read_file(dir / "o.txt"), std::string(c.redirection).starts_with(">>") ? "kept\n" : "");
    EXPECT_FALSE(fs::exists(dir / "C.SCR.TXT")) << "a refusal comes before any work";
  }
}

// SIGINT, SIGTERM and SIGHUP stop a run with its records whole: no
// temporary file, the results file's last document says so, a checkpoint
// holds every finished sweep, and the run ends by the signal. A second
// signal ends it at once.
TEST(RunRecord, StopOnSignals) {
  std::vector<double> stiff = one_two_one_matrix(60);
  for (double& x : stiff) x *= 1e6;  // 101 sweeps
  const auto sweep_lines = [](int count) {
    return [count](const std::string& out) {
      int lines = 0;
      for (std::size_t end = 0, start = 0; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines += end - start == 77;  // "(i5,6g12.3)"
      return lines >= count;
    };
  };
  const auto prompted = [](const std::string& out) { return out.find("Number of blocks:") != std::string::npos; };
  struct Case {
    const char* name;
    std::string input;
    std::vector<ChildOptions::Signal> signals;
    std::vector<std::string> environment;
    std::function<void()> before_exec;
    int status;
    const char* state;
    bool checkpoint;  // whether --checkpoint is asked for
  };
  std::vector<Case> cases = {
      {"SIGHUP in the sweeps", "30\n", {{SIGHUP, sweep_lines(2)}}, {}, {}, 128 + SIGHUP, "stopped", false},
      {"SIGTERM in the sweeps, with a checkpoint", "30\n", {{SIGTERM, sweep_lines(2)}}, {}, {}, 128 + SIGTERM,
       "stopped", true},
      {"SIGHUP ignored from the start (nohup)", "", {{SIGHUP, prompted}}, {}, [] { ::signal(SIGHUP, SIG_IGN); }, 2,
       "failed", false},
  };
  // Under valgrind a signal at the prompt was now and then acted on only
  // after the end of standard input (a failed run, not a stopped one), even
  // with the input held open for seconds: that case runs natively and under
  // the sanitizers, not under valgrind.
  if (!running_under_valgrind())
    cases.insert(cases.begin(), {"SIGINT at the prompt", "", {{SIGINT, prompted}}, {}, {}, 128 + SIGINT, "stopped", false});
#ifndef BLOCKEIG_UNDER_ASAN
  // The fifth fsync is the stop's own write of the results file: slowed
  // down, it is still under way when the second signal comes.
  if (!running_under_valgrind())
    cases.push_back({"a second signal while the stop writes",
                     "",
                     {{SIGTERM, prompted}, {SIGTERM, {}, 300}},
                     {std::string("LD_PRELOAD=") + SHORT_TRANSFERS_LIB, "SLOW_FSYNC=5 20000"},
                     {},
                     128 + SIGTERM,
                     "running",
                     false});
#endif
  const std::string matrix = scr_file(60, stiff);
  TempDir reference_dir;
  write_file(reference_dir / "A.SCR", matrix);
  ChildOptions plain;
  plain.input = "30\n";
  const ChildResult reference = run_in(reference_dir, plain, {});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", matrix);
    ChildOptions options;
    options.input = c.input;
    options.signals = c.signals;
    options.environment = c.environment;
    options.before_exec = c.before_exec;
    options.input_open_after_signals_ms = 1000;
    std::vector<std::string> arguments = {"--results", "r.json"};
    if (c.checkpoint) arguments.insert(arguments.end(), {"--checkpoint", "ck"});
    const ChildResult r = run_in(dir, options, arguments);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_LT(r.wall_seconds, 15) << "the stop waits for nothing";
    EXPECT_TRUE(reference.out.starts_with(r.out));
    EXPECT_EQ(temporaries_in(dir), std::vector<std::string>{});
    const json d = document(dir / "r.json");
    EXPECT_EQ(state_of(d), c.state);
    if (c.state == std::string("stopped")) {
      const json stop = d.value("stop", json::object());
      EXPECT_EQ(stop.value("signal", ""), c.status == 128 + SIGINT ? "SIGINT" : c.status == 128 + SIGHUP ? "SIGHUP" : "SIGTERM");
      EXPECT_EQ(r.err, "");
    }
    if (!c.checkpoint) continue;
    // Every sweep the document holds is in the checkpoint, and the same
    // command takes the run up from there to the bytes of an unstopped one.
    ASSERT_TRUE(fs::exists(dir / "ck"));
    const std::string bytes = read_file(dir / "ck");
    EXPECT_EQ(static_cast<std::size_t>(bytes[72]), d.value("sweeps", json::array()).size());
    EXPECT_EQ(run_in(dir, plain, arguments).out, reference.out);
  }
}

}  // namespace
}  // namespace blockeig::testing
