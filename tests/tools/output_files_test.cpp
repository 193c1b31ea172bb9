// What scrtool does to the files it is told to write: the name's kind
// (link, device, FIFO, directory, long name), the replaced file's mode and
// owner, all outputs of a command or none, and no temporary file left by a
// failure, a signal or a file-size limit.
#include "tools/file_io.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "support/child_process.hpp"
#include "tools/scrtool_cli.hpp"

namespace scrtool {
namespace {

namespace fs = std::filesystem;
using blockeig::testing::read_file;
using blockeig::testing::run_child;
using blockeig::testing::TempDir;
using blockeig::testing::write_file;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome scrtool(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = run_scrtool(args, out, err);
  return {status, out.str(), err.str()};
}

std::vector<std::string> names(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(dir.path())) out.push_back(entry.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

struct stat status_of(const fs::path& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return info;
}

std::string scrtool_binary() {
#ifdef SCRTOOL_BIN
  return SCRTOOL_BIN;
#else
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / "scrtool").string();
#endif
}

constexpr const char* matrix_text = "1 0.5\n0.5 2\n";

// The A.SCR that matrix_text imports to.
std::string imported_bytes(const TempDir& dir) {
  write_file(dir / "m.txt", matrix_text);
  EXPECT_EQ(scrtool({"import", dir / "m.txt", "-o", dir / "expected.SCR"}).status, 0);
  std::string bytes = read_file(dir / "expected.SCR");
  fs::remove(dir / "expected.SCR");
  return bytes;
}

TEST(OutputFiles, TargetsOfEveryKind) {
  struct Case {
    const char* name;
    std::function<std::string(const TempDir&)> prepare;  // returns the -o name
    int status;
    const char* err;  // what stderr ends with
    std::function<void(const TempDir&, const std::string& scr)> check;
    std::string created = "";  // the file the command makes, if any
  };
  const std::string long_name(255, 'x');
  const Case cases[] = {
      {"a link is followed and its target replaced",
       [](const TempDir& d) {
         write_file(d / "target", "old");
         fs::create_symlink("target", d / "link");
         return (d / "link").string();
       },
       0, "",
       [](const TempDir& d, const std::string& scr) {
         EXPECT_TRUE(fs::is_symlink(d / "link"));
         EXPECT_EQ(read_file(d / "target"), scr);
       }},
      {"a dangling link creates its target",
       [](const TempDir& d) {
         fs::create_symlink("made", d / "link");
         return (d / "link").string();
       },
       0, "",
       [](const TempDir& d, const std::string& scr) {
         EXPECT_TRUE(fs::is_symlink(d / "link"));
         EXPECT_EQ(read_file(d / "made"), scr);
       },
       "made"},
      {"a device is written to, through a link to it",
       [](const TempDir& d) {
         fs::create_symlink("/dev/null", d / "null");
         return (d / "null").string();
       },
       0, "",
       [](const TempDir& d, const std::string&) {
         EXPECT_TRUE(fs::is_symlink(d / "null"));
         EXPECT_TRUE(fs::is_character_file("/dev/null"));
       }},
      {"a FIFO that no process reads is refused",
       [](const TempDir& d) {
         ::mkfifo((d / "fifo").c_str(), 0644);
         return (d / "fifo").string();
       },
       2, "/fifo: it is a FIFO that no process reads\n",
       [](const TempDir& d, const std::string&) { EXPECT_TRUE(fs::is_fifo(d / "fifo")); }},
      {"a directory is refused",
       [](const TempDir& d) {
         fs::create_directory(d / "sub");
         return (d / "sub").string();
       },
       2, "/sub: it is a directory\n",
       [](const TempDir& d, const std::string&) { EXPECT_TRUE(fs::is_directory(d / "sub")); }},
      {"a replaced file keeps its mode",
       [](const TempDir& d) {
         write_file(d / "A.SCR", "old");
         ::chmod((d / "A.SCR").c_str(), 0640);
         return (d / "A.SCR").string();
       },
       0, "",
       [](const TempDir& d, const std::string& scr) {
         EXPECT_EQ(read_file(d / "A.SCR"), scr);
         EXPECT_EQ(status_of(d / "A.SCR").st_mode & 07777, 0640u);
       }},
      {"a replaced file keeps its owner and group (root only) or its group",
       [](const TempDir& d) {
         write_file(d / "A.SCR", "old");
         if (::geteuid() == 0) {
           EXPECT_EQ(::chown((d / "A.SCR").c_str(), 4321, 4322), 0);
         }
         return (d / "A.SCR").string();
       },
       0, "",
       [](const TempDir& d, const std::string& scr) {
         EXPECT_EQ(read_file(d / "A.SCR"), scr);
         if (::geteuid() == 0) {
           EXPECT_EQ(status_of(d / "A.SCR").st_uid, 4321u);
           EXPECT_EQ(status_of(d / "A.SCR").st_gid, 4322u);
         }
       }},
      {"another hard link keeps the old content",
       [](const TempDir& d) {
         write_file(d / "A.SCR", "old");
         fs::create_hard_link(d / "A.SCR", d / "B.SCR");
         return (d / "A.SCR").string();
       },
       0, "",
       [](const TempDir& d, const std::string& scr) {
         EXPECT_EQ(read_file(d / "A.SCR"), scr);
         EXPECT_EQ(read_file(d / "B.SCR"), "old");
       }},
      {"a name of 255 bytes",
       [&long_name](const TempDir& d) { return (d / long_name).string(); },
       0, "",
       [&long_name](const TempDir& d, const std::string& scr) { EXPECT_EQ(read_file(d / long_name), scr); },
       long_name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string scr = imported_bytes(dir);
    const std::string target = c.prepare(dir);
    std::vector<std::string> before = names(dir);
    const Outcome r = scrtool({"import", dir / "m.txt", "-o", target});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
    c.check(dir, scr);
    if (!c.created.empty()) before.push_back(c.created);
    std::sort(before.begin(), before.end());
    EXPECT_EQ(names(dir), before) << "a file left behind or lost";
  }
}

// Only root may give a file away: anyone else asked to replace another
// user's file is refused before writing, and the file stays as it was.
TEST(OutputFiles, AnOwnerThatCannotBeKeptIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up another user's file";
  // The other user runs a copy of scrtool in a directory open to all: the
  // build tree may lie where only root can enter (a clone in root's home).
  TempDir bin;
  const fs::path program = bin / "scrtool";
  fs::copy_file(scrtool_binary(), program);
  fs::permissions(bin.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  TempDir dir;
  write_file(dir / "m.txt", matrix_text);
  write_file(dir / "A.SCR", "old");
  ASSERT_EQ(::chown(dir.path().c_str(), 4321, 4321), 0);
  blockeig::testing::ChildOptions options;
  options.directory = dir.path();
  options.before_exec = [] {
    if (::setgid(4321) != 0 || ::setuid(4321) != 0) ::_exit(125);
  };
  if (const auto probe = run_child(program, {"--version"}, options); probe.status != 0)
    GTEST_SKIP() << "user 4321 cannot run " << program << " in " << dir.path() << " (status " << probe.status
                 << "): the test directory lies where that user cannot enter";
  const auto r = run_child(program, {"import", "m.txt"}, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "scrtool import: cannot write A.SCR: it belongs to user 0, group 0, and a replacement could not "
                   "be given to them; it is left as it was\n");
  EXPECT_EQ(read_file(dir / "A.SCR"), "old");
  EXPECT_EQ(status_of(dir / "A.SCR").st_uid, 0u);
  EXPECT_EQ(names(dir), (std::vector<std::string>{"A.SCR", "m.txt"}));
}

// gen writes A.SCR and the eigenvalues together: a failure with either
// leaves both as they were.
TEST(OutputFiles, AFailedCommandChangesNoFile) {
  struct Case {
    const char* name;
    std::string eigenvalues;  // relative to the directory
    const char* err;
  };
  const Case cases[] = {
      {"eigenvalue file in a missing directory", "no/ev.txt", "/ev.txt: No such file or directory\n"},
      {"eigenvalue file refused by a device", "full", ": No space left on device\n"},
      {"both outputs one file", "A.SCR", " are the same file\n"},
      {"both outputs one file, by a link", "link", " are the same file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", "keep me");
    fs::create_symlink("/dev/full", dir / "full");
    fs::create_symlink("A.SCR", dir / "link");
    const Outcome r = scrtool({"gen", "tridiag", "4", "-o", dir / "A.SCR", "--eigenvalues", dir / c.eigenvalues});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("scrtool gen: ") && r.err.ends_with(c.err)) << r.err;
    EXPECT_EQ(read_file(dir / "A.SCR"), "keep me");
    EXPECT_EQ(names(dir), (std::vector<std::string>{"A.SCR", "full", "link"}));
  }
}

// A signal that ends scrtool while it writes removes the temporary file and
// then ends the process as the signal would have.
TEST(OutputFiles, SignalsRemoveTheTemporaryFile) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(ready[0]);
      try {
        write_file_atomically(dir / "A.SCR", [&](const ByteSink& sink) {
          sink(std::vector<std::uint8_t>(1000, 7));
          (void)!::write(ready[1], "w", 1);
          ::pause();
        });
      } catch (...) {
      }
      ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(names(dir).size(), 1u) << "the temporary file is there while writing";
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(names(dir), std::vector<std::string>{});
  }
}

// A file-size limit is a refused write that scrtool reports, not a kill by
// SIGXFSZ that leaves the temporary file behind.
TEST(OutputFiles, FileSizeLimitIsReported) {
  TempDir dir;
  blockeig::testing::ChildOptions options;
  options.directory = dir.path();
  options.before_exec = [] {
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  const auto result = run_child(scrtool_binary(), {"gen", "ones", "100", "-o", "A.SCR"}, options);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "scrtool gen: cannot write A.SCR: File too large\n");
  EXPECT_EQ(names(dir), std::vector<std::string>{});
}

}  // namespace
}  // namespace scrtool
