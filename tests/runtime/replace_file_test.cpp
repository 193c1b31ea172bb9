// Replacing a file whole: the new content under the old name, or on any
// failure the old file as it was, and never a temporary file left behind.
#include "runtime/replace_file.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>

#include "support/child_process.hpp"

namespace blockeig::testing {
namespace {

std::vector<std::string> names_in(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReplaceFile, NewContentOrTheOldFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "taken");
  write_file(dir / "old.json", "old\n");
  struct Case {
    std::string path;
    int error;
  };
  const Case cases[] = {
      {(dir / "new.json").string(), 0},
      {(dir / "old.json").string(), 0},
      {(dir / "missing" / "x.json").string(), ENOENT},
      {(dir / "taken").string(), runtime::replacement_not_regular},
  };
  const std::string_view pieces[] = {"{\n", "", " \"a\": 1\n", "}\n"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const runtime::FileReplacement replacement(c.path);
    EXPECT_EQ(replacement.replace(pieces), c.error);
    if (c.error == 0) {
      EXPECT_EQ(read_file(c.path), "{\n \"a\": 1\n}\n");
    }
  }
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"new.json", "old.json", "taken"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "taken"));
  // A relative name is replaced in the working directory.
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(runtime::FileReplacement("old.json").replace(pieces), 0);
  std::filesystem::current_path(here);
  EXPECT_EQ(read_file(dir / "old.json"), "{\n \"a\": 1\n}\n");
}

// The probe leaves nothing behind; the clean-up takes only the temporary
// files of processes that have ended, and only of this file.
TEST(ReplaceFile, ProbeAndTemporariesOfEndedRuns) {
  TempDir dir;
  EXPECT_EQ(runtime::FileReplacement((dir / "ck").string()).probe(), 0);
  EXPECT_EQ(runtime::FileReplacement((dir / "missing" / "ck").string()).probe(), ENOENT);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{});

  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string gone = std::to_string(ended), running = std::to_string(::getppid());
  for (const std::string& name : {".ck." + gone + ".tmp", ".ck." + running + ".tmp", ".ck.x" + gone + ".tmp",
                                  ".ck.json." + gone + ".tmp", ".ck." + gone + ".tmp.1", std::string("ck")})
    write_file(dir / name, "x");
  runtime::FileReplacement((dir / "ck").string()).remove_stale_temporaries();
  std::vector<std::string> kept = {".ck." + running + ".tmp", ".ck.x" + gone + ".tmp", ".ck.json." + gone + ".tmp",
                                   ".ck." + gone + ".tmp.1", "ck"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(names_in(dir.path()), kept);
}

}  // namespace
}  // namespace blockeig::testing
