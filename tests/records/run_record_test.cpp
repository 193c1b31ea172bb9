// The run's records as files: what a name given to --results or
// --checkpoint may lead to.
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
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

ChildResult run_in(const TempDir& dir, ChildOptions options, std::vector<std::string> arguments) {
  options.directory = dir.path();
  return run_child(BLOCKEIG_BIN, arguments, options);
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

}  // namespace
}  // namespace blockeig::testing
