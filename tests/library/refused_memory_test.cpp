// Every allocation of a program that uses the library refused in turn: each
// call either gives its full result or throws Error with out_of_memory
// (or, where memory for the error itself ran out, std::bad_alloc), and the
// program always ends normally without a byte on standard error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"

namespace blockeig::testing {
namespace {

constexpr int out_of_memory = 5;  // blockeig::Errc::out_of_memory

ChildResult run_refusing(const TempDir& dir, long ordinal) {
  ChildOptions options;
  options.directory = dir.path();
  options.environment = {std::string("LD_PRELOAD=") + REFUSE_ALLOCATION_LIB,
                         "REFUSE_ALLOCATION=" + std::to_string(ordinal)};
  options.timeout_seconds = 30;
  return run_child(LIBRARY_PROBE_BIN, {}, options);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

TEST(Fault, LibraryReturnsEveryRefusedAllocation) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc: a preloaded one is not called";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind owns malloc: a preloaded one is not called";
  TempDir dir;
  const ChildResult full = run_refusing(dir, 0);
  ASSERT_EQ(full.status, 0) << full.err;
  ASSERT_TRUE(full.err.starts_with("allocations ")) << full.err;
  const long made = std::stol(full.err.substr(12));
  const std::vector<std::string> results = lines_of(full.out);
  ASSERT_EQ(results.size(), 6u) << full.out;

  int refused = 0;
  for (long ordinal = 1; ordinal <= made; ++ordinal) {
    SCOPED_TRACE("allocation " + std::to_string(ordinal) + " of " + std::to_string(made) + " refused");
    const ChildResult r = run_refusing(dir, ordinal);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), results.size()) << r.out;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (lines[k] == results[k]) continue;
      ++refused;
      const std::string call = results[k].substr(0, results[k].find(' '));
      EXPECT_TRUE(lines[k] == call + " error " + std::to_string(out_of_memory) || lines[k] == call + " other exception")
          << lines[k];
    }
  }
  EXPECT_GT(refused, made / 4);  // the refusals did reach the calls
}

}  // namespace
}  // namespace blockeig::testing
