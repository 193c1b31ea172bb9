// A second build of blockeig, with the other extended arithmetic or for
// another processor (under an emulator), gives the same bytes: transcripts,
// standard error, exit statuses, C.SCR.TXT, results files (but for the
// arithmetic they name and their clock times) and checkpoints, on matrices
// of every kind the tests use, NaN and infinities included; and a checkpoint
// written by either build is resumed by the other to the output of a run
// never stopped.
//
//   BLOCKEIG_PEER          the other build's blockeig; without it the tests skip
//   BLOCKEIG_PEER_RUNNER   the command that runs it, split at blanks
//                          ("qemu-aarch64 -L /usr/aarch64-linux-gnu")
//   BLOCKEIG_PEER_THREADS  thread counts to run, "1 2 3" by default
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"
#include "tools/generators.hpp"

namespace blockeig::testing {
namespace {

using nlohmann::json;

std::vector<std::string> words(const char* text) {
  std::vector<std::string> all;
  std::istringstream in(text != nullptr ? text : "");
  for (std::string w; in >> w;) all.push_back(w);
  return all;
}

struct Build {
  std::string program;
  std::vector<std::string> prefix;  // arguments before blockeig's own
};

Build this_build() { return {BLOCKEIG_BIN, {}}; }

// A program named without a directory, looked up in PATH.
std::string located(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find(':', start), path.size());
    const std::filesystem::path candidate = std::filesystem::path(path.substr(start, end - start)) / program;
    if (std::filesystem::exists(candidate)) return candidate;
    start = end + 1;
  }
  return program;
}

Build peer_build() {
  std::vector<std::string> runner = words(std::getenv("BLOCKEIG_PEER_RUNNER"));
  runner.push_back(std::getenv("BLOCKEIG_PEER"));
  runner.front() = located(runner.front());
  Build b{runner.front(), {}};
  b.prefix.assign(runner.begin() + 1, runner.end());
  return b;
}

std::vector<int> thread_counts() {
  std::vector<int> counts;
  for (const std::string& w : words(std::getenv("BLOCKEIG_PEER_THREADS"))) counts.push_back(std::stoi(w));
  if (counts.empty()) counts = {1, 2, 3};
  return counts;
}

struct Case {
  std::string name;
  int n;
  std::vector<double> a;
  std::string input;  // the block count
};

std::vector<double> generated(scrtool::Kind kind, int n) { return scrtool::generate(kind, n, 11).matrix.a; }

// Every kind of matrix: the generators', the bundled example, non-finite
// and extreme elements, one that runs all 101 sweeps.
std::vector<Case> cases() {
  using scrtool::Kind;
  std::vector<Case> all;
  all.push_back({"example", 0, {}, read_file(std::filesystem::path(BLOCKEIG_SOURCE_DIR) / "examples" / "blocks.txt")});
  const struct {
    const char* name;
    Kind kind;
    int n, blocks;
  } kinds[] = {{"random", Kind::random, 60, 6},     {"tridiag", Kind::tridiagonal, 50, 5},
               {"clement", Kind::clement, 40, 4},   {"wilkinson", Kind::wilkinson, 21, 3},
               {"hilbert", Kind::hilbert, 30, 3},   {"ones", Kind::ones, 24, 4},
               {"diagonal", Kind::diagonal, 30, 5}, {"clustered", Kind::clustered, 64, 8}};
  for (const auto& k : kinds) all.push_back({k.name, k.n, generated(k.kind, k.n), std::to_string(k.blocks) + "\n"});

  const auto symmetric_at = [](std::vector<double> a, int n, int i, int j, double v) {
    a[static_cast<std::size_t>(j) * n + i] = a[static_cast<std::size_t>(i) * n + j] = v;
    return a;
  };
  const double inf = std::numeric_limits<double>::infinity();
  all.push_back({"nan", 30, symmetric_at(random_symmetric_matrix(30, 3), 30, 4, 9, std::nan("")), "3\n"});
  all.push_back({"infinities", 30,
                 symmetric_at(symmetric_at(random_symmetric_matrix(30, 4), 30, 2, 7, inf), 30, 11, 20, -inf), "3\n"});
  // Subnormals, huge and tiny elements, signed zeros, widely graded rows.
  std::vector<double> extreme = random_symmetric_matrix(40, 5);
  for (int j = 0; j < 40; ++j)
    for (int i = j; i < 40; ++i) {
      const double values[] = {0x1p-1070, -1e300, 1e-300, -0.0, 1e200, std::ldexp(1.0, (i * 7 + j) % 600 - 300)};
      if ((i + 3 * j) % 5 == 0) extreme = symmetric_at(extreme, 40, i, j, values[(i + j) % 6]);
    }
  all.push_back({"extreme", 40, extreme, "4\n"});
  // Order 100 with its diagonal graded, so that the sweeps settle soon.
  std::vector<double> graded = random_symmetric_matrix(100, 7);
  for (int k = 0; k < 100; ++k) graded[static_cast<std::size_t>(k) * 101] += 4.0 * k;
  all.push_back({"graded diagonal", 100, graded, "10\n"});
  // E(1) keeps moving by more than 1.0e-6: all 101 sweeps.
  std::vector<double> stiff = random_symmetric_matrix(40, 6);
  for (double& x : stiff) x *= 1e9;
  all.push_back({"101 sweeps", 40, stiff, "4\n"});
  return all;
}

void write_matrix(const TempDir& dir, const Case& c) {
  if (c.name == "example") {
    write_file(dir / "A.SCR", read_file(std::filesystem::path(BLOCKEIG_SOURCE_DIR) / "examples" / "A.SCR"));
  } else {
    write_file(dir / "A.SCR", scr_file(c.n, c.a));
  }
}

struct Outcome {
  ChildResult child;
  std::string eigenvalues, results, checkpoint;
};

// One run of `build` in `dir` with these arguments.
Outcome run(const Build& build, const TempDir& dir, const Case& c, int threads, const std::vector<std::string>& arguments) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = c.input;
  options.environment = {"BLOCKEIG_*", "BLOCKEIG_THREADS=" + std::to_string(threads), "BLOCKEIG_CHECKPOINT_SECONDS=0"};
  options.timeout_seconds = 600;
  std::vector<std::string> all = build.prefix;
  all.insert(all.end(), arguments.begin(), arguments.end());
  Outcome r;
  r.child = run_child(build.program, all, options);
  const auto slurp = [&dir](const char* name) {
    return std::filesystem::exists(dir / name) ? read_file(dir / name) : std::string("(none)");
  };
  r.eigenvalues = slurp("C.SCR.TXT");
  r.results = slurp("run.json");
  r.checkpoint = slurp("run.ckpt");
  return r;
}

// The results document without what may differ: the arithmetic and the
// kernels that made it and the clock times.
json comparable(json d) {
  if (d.is_object()) {
    d.erase("seconds");
    d.erase("results_seconds");
    if (d.contains("program")) {
      d["program"].erase("arithmetic");
      d["program"].erase("kernels");
    }
    if (d.contains("input")) d["input"].erase("path");  // each run has a directory of its own
    for (auto& [key, value] : d.items()) value = comparable(value);
  } else if (d.is_array()) {
    for (json& value : d) value = comparable(value);
  }
  return d;
}

void expect_same(const Outcome& mine, const Outcome& theirs, bool with_results) {
  EXPECT_EQ(mine.child.status, theirs.child.status);
  EXPECT_EQ(mine.child.out, theirs.child.out);
  EXPECT_EQ(mine.child.err, theirs.child.err);
  EXPECT_EQ(mine.eigenvalues, theirs.eigenvalues);
  EXPECT_TRUE(mine.checkpoint == theirs.checkpoint) << "the checkpoints differ";
  if (with_results) {
    EXPECT_TRUE(comparable(json::parse(mine.results)) == comparable(json::parse(theirs.results)))
        << "the results files differ";
  }
}

class PeerBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("BLOCKEIG_PEER") == nullptr) GTEST_SKIP() << "BLOCKEIG_PEER names no other build";
  }
};

// Whole runs with a results file.
TEST_F(PeerBuild, WholeRunsGiveTheSameBytes) {
  for (const Case& c : cases())
    for (const int threads : thread_counts()) {
      SCOPED_TRACE(c.name + " on " + std::to_string(threads) + " threads");
      TempDir mine_dir, their_dir;
      write_matrix(mine_dir, c);
      write_matrix(their_dir, c);
      const Outcome mine = run(this_build(), mine_dir, c, threads, {"--results", "run.json"});
      const Outcome theirs = run(peer_build(), their_dir, c, threads, {"--results", "run.json"});
      expect_same(mine, theirs, true);
    }
}

// The checkpoint a run writes after sweep `sweep`, caught while the run goes
// on (a checkpoint is replaced whole, by a rename), or "" when the run went
// past that sweep between two looks.
std::string checkpoint_after(const Build& build, const TempDir& dir, const Case& c, int threads, int sweep) {
  std::atomic<bool> running{true};
  std::string caught;
  std::thread watcher([&] {
    while (running.load() && caught.empty()) {
      const std::string bytes = std::filesystem::exists(dir / "run.ckpt") ? read_file(dir / "run.ckpt") : "";
      std::int32_t held = 0;
      if (bytes.size() >= 76) std::memcpy(&held, bytes.data() + 72, sizeof held);
      if (held == sweep) caught = bytes;
      if (held > sweep) break;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  run(build, dir, c, threads, {"--checkpoint", "run.ckpt"});
  running = false;
  watcher.join();
  return caught;
}

// The checkpoint of sweep 2 is the same file from both builds, and each
// build resumes the other's to the output of a run never stopped.
TEST_F(PeerBuild, CheckpointsAreTheSameFileAndResumeAcross) {
  for (const Case& c : cases()) {
    const int threads = thread_counts().back();
    SCOPED_TRACE(c.name + " on " + std::to_string(threads) + " threads");
    TempDir whole_dir, mine_dir, their_dir;
    for (const TempDir* d : {&whole_dir, &mine_dir, &their_dir}) write_matrix(*d, c);
    // Two kinds are enough here; the sweeps of smaller orders would be
    // over before a look can catch one.
    if (c.name != "random" && c.name != "101 sweeps") continue;
    const Outcome whole = run(this_build(), whole_dir, c, threads, {});
    if (whole.child.out.find("\n    3 ") == std::string::npos) continue;  // fewer than three sweeps
    std::string mine, theirs;
    for (int attempt = 0; attempt < 10 && mine.empty(); ++attempt) mine = checkpoint_after(this_build(), mine_dir, c, threads, 2);
    for (int attempt = 0; attempt < 10 && theirs.empty(); ++attempt)
      theirs = checkpoint_after(peer_build(), their_dir, c, threads, 2);
    ASSERT_FALSE(mine.empty() || theirs.empty()) << "no checkpoint of sweep 2 was seen";
    EXPECT_TRUE(mine == theirs) << "the checkpoints of sweep 2 differ";
    // Each build finishes the other's run.
    write_file(mine_dir / "run.ckpt", theirs);
    write_file(their_dir / "run.ckpt", mine);
    const Outcome mine_resumed = run(this_build(), mine_dir, c, threads, {"--checkpoint", "run.ckpt"});
    const Outcome their_resumed = run(peer_build(), their_dir, c, threads, {"--checkpoint", "run.ckpt"});
    for (const Outcome* resumed : {&mine_resumed, &their_resumed}) {
      EXPECT_EQ(resumed->child.status, 0) << resumed->child.err;
      EXPECT_EQ(resumed->child.out, whole.child.out);
      EXPECT_EQ(resumed->eigenvalues, whole.eigenvalues);
      EXPECT_EQ(resumed->checkpoint, "(none)");
    }
  }
}

}  // namespace
}  // namespace blockeig::testing
