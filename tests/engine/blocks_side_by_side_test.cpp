// Blocks of a sweep run side by side on the pool's threads. Every byte stays
// what the blocks one at a time give: the same transcript and C.SCR.TXT for
// every thread count, and a block whose arrays cannot be had beside another
// waits and runs alone instead of failing the run.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/sweep_engine.hpp"
#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

struct Outcome {
  ChildResult result;
  std::string eigenvalues;
};

Outcome run(const std::string& scr, const std::string& blocks, std::vector<std::string> environment) {
  TempDir dir;
  write_file(dir / "A.SCR", scr);
  ChildOptions options;
  options.directory = dir.path();
  options.input = blocks;
  options.environment = std::move(environment);
  Outcome r;
  r.result = run_child(BLOCKEIG_BIN, {}, options);
  r.eigenvalues = read_file(dir / "C.SCR.TXT");
  return r;
}

std::vector<double> with_nan(int n) {
  std::vector<double> a = random_symmetric_matrix(n, 3);
  a[static_cast<std::size_t>(40 + 7 * n)] = std::numeric_limits<double>::quiet_NaN();
  return a;
}

TEST(BlocksSideBySide, EveryThreadCountGivesTheSameBytes) {
  struct Case {
    const char* name;
    int n;
    std::vector<double> matrix;
    const char* blocks;
  };
  const Case cases[] = {
      {"four equal blocks", 60, random_symmetric_matrix(60, 1), "4\n"},
      {"a larger last block", 61, random_symmetric_matrix(61, 2), "3\n"},
      {"more blocks than threads", 120, random_symmetric_matrix(120, 5), "8\n"},
      {"NaN in a block's columns", 60, with_nan(60), "4\n"},
  };
  for (const Case& c : cases) {
    const std::string scr = scr_file(c.n, c.matrix);
    const Outcome one = run(scr, c.blocks, {"BLOCKEIG_THREADS=1"});
    ASSERT_EQ(one.result.status, 0) << c.name << "\n" << one.result.err;
    for (const char* threads : {"2", "3", "7"}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + threads);
      const Outcome r = run(scr, c.blocks, {std::string("BLOCKEIG_THREADS=") + threads});
      EXPECT_EQ(r.result.out, one.result.out);
      EXPECT_EQ(r.result.err, "");
      EXPECT_EQ(r.result.status, 0);
      EXPECT_EQ(r.eigenvalues, one.eigenvalues);
    }
  }
}

// Order 42 in two blocks of 21: the second block joins the first only with
// one buffer for its five arrays. Refused every time, the block waits for
// the first and runs alone, in every sweep.
TEST(BlocksSideBySide, BlockWithoutMemoryWaitsAndRunsAlone) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc: a preloaded one is not called";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind owns malloc: a preloaded one is not called";
  const std::string scr = scr_file(42, random_symmetric_matrix(42, 6));
  const Outcome plain = run(scr, "2\n", {"BLOCKEIG_THREADS=2"});
  ASSERT_EQ(plain.result.status, 0);
  const std::string spare_bytes = std::to_string(block_work_doubles(42, 21) * sizeof(double));
  const Outcome refused = run(scr, "2\n",
                              {"BLOCKEIG_THREADS=2", std::string("LD_PRELOAD=") + REFUSE_ALLOCATION_LIB,
                               "REFUSE_ALLOCATION_BYTES=" + spare_bytes});
  EXPECT_EQ(refused.result.status, 0) << refused.result.err;
  EXPECT_EQ(refused.result.out, plain.result.out);
  EXPECT_EQ(refused.eigenvalues, plain.eigenvalues);
  ASSERT_TRUE(refused.result.err.starts_with("refused ")) << refused.result.err;
  EXPECT_GT(std::stol(refused.result.err.substr(8)), 0) << "the buffer was never asked for";
}

}  // namespace
}  // namespace blockeig::testing
